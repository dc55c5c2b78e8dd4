#include "integrator_callbacks.h"

#include <cvode/cvode.h>
#include <sunmatrix/sunmatrix_dense.h>
#include <sunmatrix/sunmatrix_sparse.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "evaluate.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modelexchange.h"
#include "platform.h"

const int32_t useSparseSolver = 0;

namespace {

constexpr double machineEpsilon = 0x1p-52;
constexpr int columnTries = 5;

// The frame of one evaluation at CVODE's (t, y): the instance's time, state pointer and
// extrapolated inputs are set for the call and given back afterwards, whatever it returned.
struct EvaluationFrame {
  ModelInstance* instance;
  double time;
  double* states;
  double start;
};

// With `current`, the values the instance holds are those of (t, y) and stay up to date.
EvaluationFrame enterFrame(ModelInstance* instance, double t, N_Vector y, bool current = false) {
  EvaluationFrame frame{instance, instance->time, instance->states, PlatformElapsedMilliseconds()};
  integratorExtrapolateInputs(instance, t);
  instance->states = N_VGetArrayPointer(y);
  if (!current) instance->levelReached = 0;
  instance->time = t;
  return frame;
}

// Whether CVODE asks for the derivatives at the very time and states (bit for bit) that the
// instance's derivatives were computed at by a plain pass: only the first callback of an
// integration call can, every later one follows an evaluation at a point of CVODE's own.
bool startDerivativesReusable(ModelInstance* instance, double t, N_Vector y) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator || !integrator->startDerivativesCurrent) return false;
  integrator->startDerivativesCurrent = 0;
  uint64_t nx = instance->nx;
  return static_cast<uint64_t>(N_VGetLength(y)) == nx && memcmp(&t, &instance->time, sizeof t) == 0 &&
         memcmp(N_VGetArrayPointer(y), instance->states, nx * sizeof(double)) == 0;
}

// Returns the milliseconds spent in the frame.
float leaveFrame(const EvaluationFrame& frame) {
  ModelInstance* instance = frame.instance;
  integratorExtrapolateInputs(instance, frame.time);
  instance->states = frame.states;
  instance->time = frame.time;
  return static_cast<float>(PlatformElapsedMilliseconds() - frame.start);
}

// The work of the derivative and event-indicator getters as a callback does it: the same
// evaluation, copy and message, but a failure goes back to CVODE instead of taking the error
// exit, which would release the integrator while CVODE is running. 0; 1 the evaluation failed
// with QiErr 1 (CVODE may retry); -1 any other failure (the driver takes the error exit once
// CVode has returned).
int callbackResult(int qiErr) {
  if (qiErr == 0) return 0;
  return qiErr == 1 ? 1 : -1;
}

int callbackCopy(ModelInstance* instance, FmiFunctionName name, int qiErr, double* out, const double* values,
                 uint64_t n, uint64_t count) {
  if (qiErr) return callbackResult(qiErr);
  memcpy(out, values, (n < count ? n : count) * sizeof(double));
  fmiLog(instance, fmi2OK, "%s", fmiFunctionNames[name]);
  return 0;
}

int callbackDerivatives(ModelInstance* instance, double* derivatives, uint64_t n) {
  int qiErr = fmiUpdateDerivatives(instance, fmiFunctionNames[fmiNameGetDerivatives]);
  return callbackCopy(instance, fmiNameGetDerivatives, qiErr, derivatives, instance->derivatives, n, instance->nx);
}

int callbackEventIndicators(ModelInstance* instance, double* indicators, uint64_t n) {
  int qiErr = fmiUpdateEventIndicators(instance, fmiFunctionNames[fmiNameGetEventIndicators]);
  return callbackCopy(instance, fmiNameGetEventIndicators, qiErr, indicators, instance->eventIndicators, n,
                      instance->ni);
}

// Whether CVODE asks at a time and states the model can be evaluated at. Its estimate of the
// first step overflows for integration stretches beyond about 1e150 and then probes at an
// infinite time; evaluating there gives NaNs, and NaN root functions keep CVODE's root search
// from ever ending. Refused instead, CVODE fails the call.
bool finitePoint(double t, N_Vector y) {
  if (!std::isfinite(t)) return false;
  const double* x = N_VGetArrayPointer(y);
  for (sunindextype i = 0, n = N_VGetLength(y); i < n; ++i)
    if (!std::isfinite(x[i])) return false;
  return true;
}

}  // namespace

extern "C" {

int integratorRhs(double t, N_Vector y, N_Vector ydot, void* data) {
  if (!finitePoint(t, y)) return 1;
  auto* instance = static_cast<ModelInstance*>(data);
  EvaluationFrame frame = enterFrame(instance, t, y, startDerivativesReusable(instance, t, y));
  int result = callbackDerivatives(instance, N_VGetArrayPointer(ydot), static_cast<uint64_t>(N_VGetLength(ydot)));
  float spent = leaveFrame(frame);
  IntegratorStatistics& statistics = instance->integrator->statistics;
  statistics.rhsCalls += 1;
  statistics.rhsMilliseconds += spent;
  return result;
}

int integratorRootFunction(double t, N_Vector y, double* gout, void* data) {
  if (!finitePoint(t, y)) return -1;
  auto* instance = static_cast<ModelInstance*>(data);
  if (instance->integrator) instance->integrator->startDerivativesCurrent = 0;
  EvaluationFrame frame = enterFrame(instance, t, y);
  int result = callbackEventIndicators(instance, gout, instance->ni);
  instance->integrator->statistics.rootMilliseconds += leaveFrame(frame);
  return result == 0 ? 0 : -1;
}

}  // extern "C"

// ---- Jacobian by difference quotients -------------------------------------------------------------

namespace {

// The column groups of the model's table: entry 0 is G, then per group its count and columns.
struct ColumnGroup {
  int count;
  const int* columns;  // 1-based state numbers
};

ColumnGroup columnGroup(int j) {
  int position = 1;
  for (int g = 0; g < j; ++g) position += 1 + jacobianColumnGroups[position];
  return {jacobianColumnGroups[position], &jacobianColumnGroups[position + 1]};
}

// Group j's row table: for each derivative row, the 1-based column it depends on, 0 for none.
const int* rowTable(int j, uint64_t nx) {
  return &jacobianColumnGroups[jacobianRowTablePosition + static_cast<uint64_t>(j) * nx];
}

struct Increments {
  double srur;
  double minimum;
};

// The scale of the increments from CVODE's current weights and step. 0; 1 when a query failed.
int jacobianIncrements(N_Vector fy, Increments* increments, ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  void* memory = integrator->cvode.memory;
  if (checkSundialsFlag(CVodeGetErrWeights(memory, integrator->errorWeights), "CVodeGetErrWeights", instance)) return 1;
  increments->srur = std::sqrt(machineEpsilon);
  double fnorm = N_VWrmsNorm(fy, integrator->errorWeights);
  double h = 0.0;
  if (checkSundialsFlag(CVodeGetCurrentStep(memory, &h), "CVodeGetCurrentStep", instance)) return 1;
  increments->minimum =
      fnorm != 0.0 ? 1000.0 * std::fabs(h) * machineEpsilon * static_cast<double>(instance->nx) * fnorm : 1.0;
  return 0;
}

// Perturbs y[c] away from its saved value s and returns the increment actually represented.
double perturb(double* y, uint64_t c, double s, double increment) {
  y[c] = s + increment;
  return y[c] - s;
}

double columnIncrement(double s, double weight, const Increments& increments) {
  double byValue = std::fabs(s) * increments.srur;
  double byNorm = increments.minimum / weight;
  double increment = byValue > byNorm ? byValue : byNorm;
  return s < 0.0 ? -increment : increment;
}

// One right-hand side with every column of group j perturbed at once; y is restored whatever
// the evaluation returned. The increments go into `increment` by column.
int evaluateGroup(double t, N_Vector y, const ColumnGroup& group, const Increments& increments, double* increment,
                  ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  double* yData = N_VGetArrayPointer(y);
  double* saved = N_VGetArrayPointer(integrator->savedStates);
  const double* weights = N_VGetArrayPointer(integrator->errorWeights);
  for (int k = 0; k < group.count; ++k) {
    uint64_t c = static_cast<uint64_t>(group.columns[k] - 1);
    saved[c] = yData[c];
    increment[c] = perturb(yData, c, saved[c], columnIncrement(saved[c], weights[c], increments));
  }
  int result = integratorRhs(t, y, integrator->perturbedDerivatives, instance);
  for (int k = 0; k < group.count; ++k) {
    uint64_t c = static_cast<uint64_t>(group.columns[k] - 1);
    yData[c] = saved[c];
  }
  return result;
}

int groupedDenseJacobian(double t, N_Vector y, N_Vector fy, SUNMatrix J, const Increments& increments,
                         N_Vector incrementVector, ModelInstance* instance) {
  uint64_t nx = instance->nx;
  for (uint64_t c = 0; c < nx; ++c) {
    double* column = SUNDenseMatrix_Column(J, static_cast<sunindextype>(c));
    for (uint64_t r = 0; r < nx; ++r) column[r] = 0.0;
  }
  double* increment = N_VGetArrayPointer(incrementVector);
  const double* f = N_VGetArrayPointer(fy);
  const double* perturbed = N_VGetArrayPointer(instance->integrator->perturbedDerivatives);
  for (int j = 0; j < integratorGroupCount; ++j) {
    int result = evaluateGroup(t, y, columnGroup(j), increments, increment, instance);
    if (result) return result;
    const int* rows = rowTable(j, nx);
    for (uint64_t r = 0; r < nx; ++r) {
      if (rows[r] == 0) continue;
      sunindextype c = rows[r] - 1;
      SM_ELEMENT_D(J, static_cast<sunindextype>(r), c) = (perturbed[r] - f[r]) / increment[c];
    }
  }
  return 0;
}

// Column by column, with up to five tries per column, the increment divided by -5 after each
// failed one. Column j is written through tmp2, whose data pointer is set to it.
int columnDenseJacobian(double t, N_Vector y, N_Vector fy, SUNMatrix J, const Increments& increments, N_Vector tmp1,
                        N_Vector tmp2, ModelInstance* instance) {
  double* yData = N_VGetArrayPointer(y);
  const double* weights = N_VGetArrayPointer(instance->integrator->errorWeights);
  sunindextype n = SUNDenseMatrix_Columns(J);
  for (sunindextype j = 0; j < n; ++j) {
    N_VSetArrayPointer(SUNDenseMatrix_Column(J, j), tmp2);
    uint64_t c = static_cast<uint64_t>(j);
    double s = yData[c];
    double increment = perturb(yData, c, s, columnIncrement(s, weights[c], increments));
    int result = 1;
    for (int attempt = 0; attempt < columnTries; ++attempt) {
      if (attempt > 0) increment = perturb(yData, c, s, increment / -5.0);
      result = integratorRhs(t, y, tmp1, instance);
      if (result <= 0) break;
    }
    yData[c] = s;
    if (result != 0) return result;
    N_VLinearSum(1.0 / increment, tmp1, -1.0 / increment, fy, tmp2);
  }
  return 0;
}

}  // namespace

extern "C" int integratorDenseJacobian(double t, N_Vector y, N_Vector fy, SUNMatrix J, void* data, N_Vector tmp1,
                                       N_Vector tmp2, N_Vector tmp3) {
  auto* instance = static_cast<ModelInstance*>(data);
  double* kept = N_VGetArrayPointer(tmp2);
  Increments increments;
  int result = 1;
  if (jacobianIncrements(fy, &increments, instance) == 0) {
    instance->solverInts[solverIntJacobianInProgress] = 1;
    result = integratorGroupCount != 0 ? groupedDenseJacobian(t, y, fy, J, increments, tmp3, instance) : 1;
    // A group that failed recoverably sends the whole matrix to the column-by-column method; an
    // unrecoverable failure ends the integration call.
    if (result > 0) result = columnDenseJacobian(t, y, fy, J, increments, tmp1, tmp2, instance);
  }
  instance->solverInts[solverIntJacobianInProgress] = 0;
  N_VSetArrayPointer(kept, tmp2);
  instance->integrator->statistics.jacobianCalls += 1;
  return result;
}

// ---- The sparse form ------------------------------------------------------------------------------

namespace {

int groupedSparseJacobian(double t, N_Vector y, N_Vector fy, SUNMatrix J, const Increments& increments,
                          N_Vector incrementVector, ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  uint64_t nx = instance->nx;
  double* increment = N_VGetArrayPointer(incrementVector);
  const double* f = N_VGetArrayPointer(fy);
  const double* perturbed = N_VGetArrayPointer(integrator->perturbedDerivatives);
  double* values = SM_DATA_S(J);
  sunindextype* rowIndices = SM_INDEXVALS_S(J);
  for (int j = 0; j < integratorGroupCount; ++j) {
    int result = evaluateGroup(t, y, columnGroup(j), increments, increment, instance);
    if (result) return result;
    const int* rows = rowTable(j, nx);
    for (uint64_t r = 0; r < nx; ++r) {
      int32_t p = integrator->entryPositions[static_cast<uint64_t>(j) * nx + r];
      if (rows[r] < 1 || p < 0) continue;
      values[p] = (perturbed[r] - f[r]) / increment[rows[r] - 1];
      rowIndices[p] = static_cast<sunindextype>(r);
    }
  }
  sunindextype* columnPointers = SM_INDEXPTRS_S(J);
  for (uint64_t i = 0; i <= nx; ++i) columnPointers[i] = integrator->columnStarts[i];
  return 0;
}

}  // namespace

extern "C" int integratorSparseJacobian(double t, void* y, void* fy, void* J, void* data, void* tmp1, void* tmp2,
                                        void* tmp3) {
  (void)tmp1;
  auto* instance = static_cast<ModelInstance*>(data);
  auto* work = static_cast<N_Vector>(tmp2);
  double* kept = N_VGetArrayPointer(work);
  Increments increments;
  int result = 1;
  if (jacobianIncrements(static_cast<N_Vector>(fy), &increments, instance) == 0) {
    instance->solverInts[solverIntJacobianInProgress] = 1;
    if (integratorGroupCount > 0)
      result = groupedSparseJacobian(t, static_cast<N_Vector>(y), static_cast<N_Vector>(fy), static_cast<SUNMatrix>(J),
                                     increments, static_cast<N_Vector>(tmp3), instance);
  }
  instance->solverInts[solverIntJacobianInProgress] = 0;
  N_VSetArrayPointer(kept, work);
  instance->integrator->statistics.jacobianCalls += 1;
  return result;
}

void integratorSetGroupCount(int32_t groups) { integratorGroupCount = groups; }

int32_t integratorCountNonzeros(uint64_t nx) {
  int groups = jacobianColumnGroups[0];
  if (useSparseSolver == 0 || groups <= 0) return 0;
  int32_t count = 0;
  for (int j = 0; j < groups; ++j) {
    const int* rows = rowTable(j, nx);
    for (uint64_t r = 0; r < nx; ++r) count += rows[r] > 0;
  }
  return count;
}

int32_t integratorSparsePattern(ModelInstance* instance, CoSimIntegrator* integrator, uint64_t nx, int32_t nonZeros) {
  int groups = jacobianColumnGroups[0];
  integrator->nonZeroCount = nonZeros;
  integrator->patternGroupCount = groups;
  const fmi2CallbackFunctions* functions = instance->functions;
  integrator->columnStarts = static_cast<int32_t*>(functions->allocateMemory(nx + 1, sizeof(int32_t)));
  uint64_t entries = static_cast<uint64_t>(groups) * nx;
  integrator->entryPositions = static_cast<int32_t*>(functions->allocateMemory(entries ? entries : 1, sizeof(int32_t)));
  if (!integrator->columnStarts || !integrator->entryPositions) return -1;
  for (uint64_t e = 0; e < entries; ++e) integrator->entryPositions[e] = -1;

  int32_t count = 0;
  int32_t bandwidth = 0;
  for (uint64_t i = 0; i < nx; ++i) {
    integrator->columnStarts[i] = count;
    int column = static_cast<int>(i) + 1;
    for (int j = 0; j < groups; ++j) {
      ColumnGroup group = columnGroup(j);
      bool holds = false;
      for (int k = 0; k < group.count; ++k) holds = holds || group.columns[k] == column;
      if (!holds) continue;
      const int* rows = rowTable(j, nx);
      for (uint64_t r = 0; r < nx; ++r) {
        if (rows[r] != column) continue;
        integrator->entryPositions[static_cast<uint64_t>(j) * nx + r] = count++;
        int32_t distance = static_cast<int32_t>(r > i ? r - i : i - r);
        if (distance > bandwidth) bandwidth = distance;
      }
    }
  }
  integrator->columnStarts[nx] = count;
  return bandwidth;
}
