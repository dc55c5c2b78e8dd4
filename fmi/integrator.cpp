#include "integrator.h"
#include "instantiate.h"

#include <cvode/cvode.h>
#include <cvode/cvode_ls.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "evaluate.h"
#include "integrator_callbacks.h"
#include "messages.h"
#include "model.h"
#include "modelexchange.h"
#include "platform.h"
#include "results.h"
#include "sundials_call.h"

int32_t integratorGroupCount = 0;

namespace {

constexpr double defaultTolerance = 1e-5;
constexpr long maxInternalSteps = 100000;
constexpr int maxNonlinearIterations = 3;
constexpr int maxErrorTestFailures = 15;
constexpr double nonlinearConvergenceCoefficient = 0.1;

}  // namespace

// ---- Checks and messages -----------------------------------------------------------------------

int checkSundialsPointer(const void* result, const char* function, ModelInstance* instance, fmi2Status status) {
  if (result) return 0;
  fmiLog(instance, status, "SUNDIALS_ERROR: %s() failed - returned NULL pointer", function);
  return 1;
}

int checkSundialsFlag(int flag, const char* function, ModelInstance* instance, fmi2Status status) {
  if (flag >= 0) return 0;
  char name[64];
  sundialsFlagName(flag, name, sizeof name);
  fmiLog(instance, status, "SUNDIALS_ERROR: %s() failed with flag = %s", function, name);
  return 1;
}

extern "C" {

// CVODE's error and warning reports, all as fmi2Warning.
static void integratorErrorHandler(int code, const char* module, const char* function, char* message, void* data) {
  auto* instance = static_cast<ModelInstance*>(data);
  char name[64];
  sundialsFlagName(code, name, sizeof name);
  fmiLog(instance, fmi2Warning, "%s: %s failed with %s:\n %s", module, function, name, message);
}

// ewt_i = 1 / (relative_i * |y_i| + absolute_i); fails when a sum is not positive.
static int integratorErrorWeights(N_Vector y, N_Vector ewt, void* data) {
  CoSimIntegrator* integrator = static_cast<ModelInstance*>(data)->integrator;
  N_Vector absolute = integrator ? integrator->absoluteTolerances : nullptr;
  N_Vector relative = integrator ? integrator->relativeTolerances : nullptr;
  if (!absolute || !relative) return -1;
  sunindextype n = N_VGetLength(y);
  if (N_VGetLength(ewt) != n || N_VGetLength(absolute) != n || N_VGetLength(relative) != n) return -1;
  // In one pass over the elements what |y|, times relative, plus absolute, the smallest sum
  // (the first element, then any smaller one) and the inverses would give one vector operation
  // at a time; on a failure ewt holds the sums.
  const double* values = N_VGetArrayPointer(y);
  const double* absoluteData = N_VGetArrayPointer(absolute);
  const double* relativeData = N_VGetArrayPointer(relative);
  double* weights = N_VGetArrayPointer(ewt);
  double smallest = 0.0;
  for (sunindextype i = 0; i < n; ++i) {
    weights[i] = relativeData[i] * std::fabs(values[i]) + absoluteData[i];
    if (i == 0 || weights[i] < smallest) smallest = weights[i];
  }
  if (!(smallest > 0.0)) return -1;
  for (sunindextype i = 0; i < n; ++i) weights[i] = 1.0 / weights[i];
  return 0;
}

// The stepper's stop callback: the model's step-event flag.
static int integratorStepEventCheck(void* data) {
  return static_cast<ModelInstance*>(data)->solverInts[solverIntStepEvent] != 0;
}

}  // extern "C"

// ---- Set-up --------------------------------------------------------------------------------------

namespace {

N_Vector newVector(SundialsCall* call, ModelInstance* instance, uint64_t n, SUNContext context) {
  sundialsAt(call, "N_VNew_Serial", true);
  N_Vector v = N_VNew_Serial(static_cast<sunindextype>(n), context);
  if (checkSundialsPointer(v, "N_VNew_Serial", instance)) return nullptr;
  N_VConst(0.0, v);
  return v;
}

// The dense direct solver with the grouped Jacobian.
int setupDenseSolver(SundialsCall* call, ModelInstance* instance, CoSimIntegrator* integrator) {
  void* memory = integrator->cvode.memory;
  sunindextype n = static_cast<sunindextype>(instance->nx);
  integrator->nonZeroCount = 0;
  sundialsAt(call, "CVDense", true);
  integrator->denseMatrix = SUNDenseMatrix(n, n, integrator->context);
  if (checkSundialsPointer(integrator->denseMatrix, "CVDense", instance)) return 1;
  integrator->linearSolver = SUNLinSol_Dense(integrator->stateVector, integrator->denseMatrix, integrator->context);
  if (checkSundialsPointer(integrator->linearSolver, "CVDense", instance)) return 1;
  sundialsAt(call, "CVDense", false);
  if (checkSundialsFlag(CVodeSetLinearSolver(memory, integrator->linearSolver, integrator->denseMatrix), "CVDense",
                        instance))
    return 1;
  sundialsAt(call, "CVDlsSetDenseJacFn", false);
  return checkSundialsFlag(CVodeSetJacFn(memory, integratorDenseJacobian), "CVDlsSetDenseJacFn", instance);
}

// The sparse direct solver; its entry points are placeholders in this unit, so this fails.
int setupSparseSolver(SundialsCall* call, ModelInstance* instance, CoSimIntegrator* integrator, int32_t nonZeros) {
  sundialsAt(call, "CVSuperLUMT", false);
  if (integratorSparsePattern(instance, integrator, instance->nx, nonZeros) < 0) return 1;
  int cores = useSparseSolver > 0 ? useSparseSolver : 1;
  fmiLog(instance, fmi2OK, "Using SuperLU sparse solver on %d core%s.", cores, cores > 1 ? "s" : "");
  void* memory = integrator->cvode.memory;
  if (checkSundialsFlag(CVSuperLUMT(memory, cores, static_cast<int>(instance->nx), nonZeros), "CVSuperLUMT", instance))
    return 1;
  sundialsAt(call, "CVSlsSetSparseJacFn", false);
  return checkSundialsFlag(CVSlsSetSparseJacFn(memory, integratorSparseJacobian), "CVSlsSetSparseJacFn", instance);
}

// The SUNDIALS objects of the set-up, made inside the record's SUNDIALS call; 0 ready, 1 failed.
int buildSundialsObjects(SundialsCall* call, ModelInstance* instance, CoSimIntegrator* integrator, double tolerance) {
  uint64_t nx = instance->nx;
  sundialsAt(call, "SUNContext_Create", false);
  if (checkSundialsFlag(SUNContext_Create(nullptr, &integrator->context), "SUNContext_Create", instance)) return 1;
  SUNContext context = integrator->context;
  sundialsAt(call, "N_VMake_Serial", true);
  integrator->stateVector = N_VMake_Serial(static_cast<sunindextype>(nx), instance->states, context);
  if (checkSundialsPointer(integrator->stateVector, "N_VMake_Serial", instance)) return 1;

  // Kept in the record at once so that a failure further on still frees it.
  sundialsAt(call, "CVodeCreate", true);
  void* memory = CVodeCreate(CV_BDF, context);
  if (checkSundialsPointer(memory, "CVodeCreate", instance)) return 1;
  cvodeStepperAttach(&integrator->cvode, memory);
  CVodeStepper* stepper = &integrator->cvode;
  // Before anything that can report: CVODE's own handler writes to the standard error stream.
  sundialsAt(call, "CVodeSetErrHandlerFn", false);
  if (checkSundialsFlag(cvodeStepperSetErrHandlerFn(stepper, integratorErrorHandler, instance), "CVodeSetErrHandlerFn",
                        instance))
    return 1;

  sundialsAt(call, "CVodeInit", false);
  if (checkSundialsFlag(CVodeInit(memory, integratorRhs, instance->time, integrator->stateVector), "CVodeInit",
                        instance))
    return 1;
  sundialsAt(call, "CVodeSetUserData", false);
  if (checkSundialsFlag(CVodeSetUserData(memory, instance), "CVodeSetUserData", instance)) return 1;

  integrator->absoluteTolerances = newVector(call, instance, nx, context);
  if (!integrator->absoluteTolerances) return 1;
  integrator->relativeTolerances = newVector(call, instance, nx, context);
  if (!integrator->relativeTolerances) return 1;
  double* absolute = N_VGetArrayPointer(integrator->absoluteTolerances);
  double* relative = N_VGetArrayPointer(integrator->relativeTolerances);
  for (uint64_t i = 0; i < nx; ++i) {
    double nominal = instance->nominals[i];
    absolute[i] = std::fabs(nominal) * tolerance;
    relative[i] = nominal >= 0.0 ? tolerance : 0.0;
  }

  sundialsAt(call, "CVodeWFtolerances", false);
  if (checkSundialsFlag(CVodeWFtolerances(memory, integratorErrorWeights), "CVodeWFtolerances", instance)) return 1;
  sundialsAt(call, "CVodeSetNonlinConvCoef", false);
  if (checkSundialsFlag(CVodeSetNonlinConvCoef(memory, nonlinearConvergenceCoefficient), "CVodeSetNonlinConvCoef",
                        instance))
    return 1;
  sundialsAt(call, "CVodeRootInit", false);
  if (checkSundialsFlag(CVodeRootInit(memory, static_cast<int>(instance->ni), integratorRootFunction), "CVodeRootInit",
                        instance))
    return 1;
  sundialsAt(call, "CVodeStepRootInit", false);
  if (checkSundialsFlag(CVodeStepRootInit(stepper, integratorStepEventCheck), "CVodeStepRootInit", instance)) return 1;

  integratorSetGroupCount(jacobianColumnGroups[0]);
  int32_t nonZeros = integratorCountNonzeros(nx);
  if (nonZeros ? setupSparseSolver(call, instance, integrator, nonZeros) : setupDenseSolver(call, instance, integrator))
    return 1;

  sundialsAt(call, "CVodeSetMaxNumSteps", false);
  if (checkSundialsFlag(cvodeStepperSetMaxNumSteps(stepper, maxInternalSteps), "CVodeSetMaxNumSteps", instance))
    return 1;
  sundialsAt(call, "CVodeSetMaxNonlinIters", false);
  if (checkSundialsFlag(CVodeSetMaxNonlinIters(memory, maxNonlinearIterations), "CVodeSetMaxNonlinIters", instance))
    return 1;
  sundialsAt(call, "CVodeSetMaxErrTestFails", false);
  if (checkSundialsFlag(CVodeSetMaxErrTestFails(memory, maxErrorTestFailures), "CVodeSetMaxErrTestFails", instance))
    return 1;

  integrator->perturbedDerivatives = newVector(call, instance, nx, context);
  if (!integrator->perturbedDerivatives) return 1;
  integrator->savedStates = newVector(call, instance, nx, context);
  if (!integrator->savedStates) return 1;
  // From here on a failed set-up still reports the statistics.
  integrator->reportReady = 1;
  integrator->errorWeights = newVector(call, instance, nx, context);
  if (!integrator->errorWeights) return 1;
  return 0;
}

// The set-up once the record exists; 0 ready, 1 failed.
int buildIntegrator(ModelInstance* instance, CoSimIntegrator* integrator, double tolerance,
                    fmi2Status allocationStatus) {
  SundialsCall call;
  sundialsCallEnter(&call, integrator);
  int failed;
  if (SUNDIALS_ARMED(call)) {
    failed = buildSundialsObjects(&call, instance, integrator, tolerance);
  } else {
    // A block SUNDIALS did not get: an allocation failure like the host's below.
    failed = sundialsRefuse(&call, instance, allocationStatus);
  }
  sundialsCallLeave(&call);
  if (failed) return 1;

  integrator->inputDerivatives = static_cast<double*>(fmiAllocateZeroed(instance->functions, instance->nu + 1, sizeof(double)));
  integrator->inputBase = static_cast<double*>(fmiAllocateZeroed(instance->functions, instance->nu + 1, sizeof(double)));
  integrator->lastOutputs = static_cast<double*>(fmiAllocateZeroed(instance->functions, instance->ny + 1, sizeof(double)));
  if (!integrator->inputDerivatives || !integrator->inputBase || !integrator->lastOutputs) {
    fmiLog(instance, allocationStatus, "memory allocation failed for the integrator's input and output buffers");
    return 1;
  }

  integrator->inputDerivativesValid = 0;
  integrator->statistics = IntegratorStatistics{};
  integrator->statistics.startClock = static_cast<float>(PlatformElapsedMilliseconds());
  // An output-derivative estimate before the first step sees an interval of 0, not the time
  // since 0.
  integratorRecordOutputs(instance);
  return 0;
}

}  // namespace

int integratorSetup(ModelInstance* instance, double tolerance, IntegratorSetupCaller caller) {
  const fmi2Status allocationStatus = caller == setupAtInitialisation ? fmi2Fatal : fmi2Error;
  if (instance->nx == 0) {
    instance->nx = 1;
    instance->states[0] = 0.0;
    instance->nominals[0] = 1.0;
  }
  if (tolerance <= 0.0) tolerance = defaultTolerance;
  // A second set-up (after a state from before initialisation was restored) replaces the first.
  integratorFree(instance, instance);

  auto* integrator = static_cast<CoSimIntegrator*>(fmiAllocateZeroed(instance->functions, 1, sizeof(CoSimIntegrator)));
  if (!integrator) {
    fmiLog(instance, allocationStatus, "memory allocation failed for the integrator record");
    return 1;
  }
  trackedListInit(&integrator->sundialsBlocks);
  instance->integrator = integrator;
  if (buildIntegrator(instance, integrator, tolerance, allocationStatus) == 0) {
    // Only a set-up that succeeds changes the instance's own blocks; a restore changes them
    // with the restored values.
    if (caller == setupAtInitialisation) instance->solverInts[solverIntIntegratorNotSetUp] = 0;
    return 0;
  }
  // A refused restore is not the end of a run: it reports nothing but its refusal.
  if (caller == setupAtInitialisation)
    integratorStatistics(instance);
  else
    integratorFree(instance, instance);
  return 1;
}

void integratorRecordOutputs(ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator || !integrator->lastOutputs) return;
  memcpy(integrator->lastOutputs, instance->outputs, instance->ny * sizeof(double));
  integrator->lastOutputTime = instance->time;
}

// ---- Integration ---------------------------------------------------------------------------------

namespace {

// Outputs before the integration call, for the output-derivative estimate. Like the getters,
// the model is asked only when the outputs are not up to date (the step's own evaluation at its
// start has usually computed them).
void fetchOutputs(ModelInstance* instance) {
  if (instance->levelReached < 1 && fmiEvaluateModel(instance, 1, "fetching current output", nullptr) != 0) return;
  integratorRecordOutputs(instance);
}

// CVODE found tout too close to start from: an explicit initial step instead of its estimate.
int setInitialStep(ModelInstance* instance, CoSimIntegrator* integrator, double tout) {
  double h = 0.0;
  if (checkSundialsFlag(CVodeGetCurrentStep(integrator->cvode.memory, &h), "CVodeGetCurrentStep", instance)) return 1;
  if (h == 0.0) {
    double larger = std::fabs(tout) > std::fabs(instance->time) ? tout : instance->time;
    h = (std::fabs(larger) + 1.0) * 0x1p-51;
  }
  fmiLog(instance, fmi2OK, "Internal step too small at t = %f, setting initial step size explicitly to %.16e",
         instance->time, h);
  return checkSundialsFlag(CVodeSetInitStep(integrator->cvode.memory, h), "CVodeSetInitStep", instance);
}

// A root or step event at tret: the event iteration there and a restart. 0 go on; 1 failed;
// 2 the model asked to terminate.
int handleRoot(ModelInstance* instance, CoSimIntegrator* integrator, double tret) {
  integrator->inputDerivativesValid = 0;
  fmiSetTimeUnchecked(instance, tret);
  if (instance->resultGeneration) resultSample(instance, 1);
  int terminated = 0;
  // A failed iteration has taken the error exit, which released the integrator.
  if (fmiEventUpdate(instance, &terminated) != fmi2OK) return 1;
  if (instance->resultGeneration) resultSample(instance, 1);
  if (terminated) return 2;
  return integratorReInit(instance);
}

// One integration call of the stepper, as a SUNDIALS call of the record: CVODE makes objects of
// its own on the first step after a start. A failed allocation there leaves the record without
// CVODE and ends as CV_MEM_FAIL, reported.
int advance(CoSimIntegrator* integrator, double tout, double* tret) {
  SundialsCall call;
  sundialsCallEnter(&call, integrator);
  int flag;
  if (SUNDIALS_ARMED(call)) {
    sundialsAt(&call, "CVode", false);
    flag = cvodeStepperAdvance(&integrator->cvode, tout, integrator->stateVector, tret);
  } else {
    sundialsRefuse(&call, nullptr);
    flag = CV_MEM_FAIL;
  }
  sundialsCallLeave(&call);
  return flag;
}

}  // namespace

int integratorIntegrate(ModelInstance* instance, double tout) {
  if (!instance->integrator || !instance->integrator->cvode.memory) return 1;
  double tret = instance->time;
  bool initialStepSet = false;
  bool first = true;
  for (;;) {
    CoSimIntegrator* integrator = instance->integrator;
    fetchOutputs(instance);
    // CVODE's first right-hand side after a restart is at the instance's time and states, where
    // the step's own evaluation has usually just computed the derivatives. Only before the
    // first integration call are the instance's values surely its own: CVODE's callbacks leave
    // the values of its points behind.
    integrator->startDerivativesCurrent = first && fmiPlainPassCurrent(instance, demandDerivatives) &&
                                          !integrator->inputDerivativesValid;
    first = false;
    int flag = advance(integrator, tout, &tret);
    integrator->startDerivativesCurrent = 0;
    if (flag == CV_TOO_CLOSE) {
      // Still too close with the initial step set: tout lies within CVODE's resolution of the
      // current time, so there is nothing to integrate and the states stay as they are.
      if (initialStepSet) return 0;
      if (setInitialStep(instance, integrator, tout)) return 1;
      initialStepSet = true;
    } else if (flag == CV_ROOT_RETURN) {
      int result = handleRoot(instance, integrator, tret);
      if (result) return result;
    } else if (flag == CV_SUCCESS) {
      // Only a tret beyond tout in magnitude counts as wrong.
      if (std::fabs(tret) - std::fabs(tout) > (std::fabs(instance->time) + 1.0) * 0x1p-50) {
        fmiLog(instance, fmi2Error, "Internal step error: tret = %.16e  !=  tout = %.16e", tret, tout);
        return 1;
      }
      integrator->statistics.externalSteps += 1;
      return 0;
    } else {
      checkSundialsFlag(flag, "CVode", instance);
      return 1;
    }
  }
}

// ---- Restart -------------------------------------------------------------------------------------

int integratorRestart(ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator || !integrator->cvode.memory) return 1;
  integrator->restartPending = 0;
  SundialsCall call;
  sundialsCallEnter(&call, integrator);
  int failed;
  if (SUNDIALS_ARMED(call)) {
    sundialsAt(&call, "CVodeReInit", false);
    failed = checkSundialsFlag(cvodeStepperReInit(&integrator->cvode, instance->time, integrator->stateVector),
                               "CVodeReInit", instance);
  } else {
    failed = sundialsRefuse(&call, instance);
  }
  sundialsCallLeave(&call);
  return failed;
}

void integratorTimeMoved(ModelInstance* instance) {
  if (instance->integrator) instance->integrator->restartPending = 1;
}

int integratorReInit(ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator || !integrator->cvode.memory) return 1;
  long steps = 0;
  if (checkSundialsFlag(CVodeGetNumSteps(integrator->cvode.memory, &steps), "CVodeGetNumSteps", instance)) steps = -1;
  integrator->statistics.internalSteps += static_cast<int32_t>(steps);
  return integratorRestart(instance);
}

int32_t integratorTotalSteps(ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  long steps = 0;
  if (integrator->cvode.memory) CVodeGetNumSteps(integrator->cvode.memory, &steps);
  return integrator->statistics.internalSteps + static_cast<int32_t>(steps);
}

// ---- Inputs --------------------------------------------------------------------------------------

void integratorSetInputBase(ModelInstance* instance, int index) {
  CoSimIntegrator* integrator = instance->integrator;
  if (integrator && integrator->inputBase && index >= 0 && static_cast<uint64_t>(index) < instance->nu)
    integrator->inputBase[index] = instance->inputs[index];
}

void integratorExtrapolateInputs(ModelInstance* instance, double t) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator || !integrator->inputDerivativesValid) return;
  double dt = t - integrator->inputBaseTime;
  for (uint64_t i = 0; i < instance->nu; ++i)
    instance->inputs[i] = dt * integrator->inputDerivatives[i] + integrator->inputBase[i];
}

// ---- Statistics and release ----------------------------------------------------------------------

namespace {

long queryCount(int (*query)(void*, long*), void* memory, const char* name, ModelInstance* instance) {
  long value = 0;
  if (checkSundialsFlag(query(memory, &value), name, instance)) value = -1;
  return value;
}

void printStatistics(ModelInstance* instance, CoSimIntegrator* integrator) {
  IntegratorStatistics& s = integrator->statistics;
  void* memory = integrator->cvode.memory;
  s.rootMilliseconds /= 1000.0f;
  s.startClock = static_cast<float>((PlatformElapsedMilliseconds() - s.startClock) / 1000.0);
  s.rhsMilliseconds /= 1000.0f;
  s.rejectedRhsMilliseconds /= 1000.0f;

  long nonlinearIterations = queryCount(CVodeGetNumNonlinSolvIters, memory, "CVodeGetNumNonlinSolvIters", instance);
  long convergenceFailures =
      queryCount(CVodeGetNumNonlinSolvConvFails, memory, "CVodeGetNumNonlinSolvConvFails", instance);
  long rootEvaluations = queryCount(CVodeGetNumGEvals, memory, "CVodeGetNumGEvals", instance);
  long jacobianEvaluations = integrator->nonZeroCount
                                 ? queryCount(CVSlsGetNumJacEvals, memory, "CVSlsGetNumJacEvals", instance)
                                 : queryCount(CVodeGetNumJacEvals, memory, "CVDlsGetNumJacEvals", instance);
  double scaleFactor = 0.0;
  if (checkSundialsFlag(CVodeGetTolScaleFactor(memory, &scaleFactor), "CVodeGetTolScaleFactor", instance))
    scaleFactor = -1.0;
  int internalSteps = integratorTotalSteps(instance);

  fmiLog(instance, fmi2OK,
         "Sundials CVode Statistics\n"
         "    Stop time                                : %.2f s\n"
         "    Simulation time                          : %.2f s\n"
         "    Number of external steps                 : %d\n"
         "    Number of internal steps                 : %d\n"
         "    Number of non-linear iterations          : %ld\n"
         "    Number of non-linear convergence failures: %ld\n"
         "    Number of f function evaluations         : %d (%.2f s)\n"
         "    Number of g function evaluations         : %ld (%.2f s)\n"
         "    Number of Jacobian-evaluations (direct)  : %ld\n"
         "    Number of Jac function evaluations       : %d\n"
         "    Suggested tolerance scale factor         : %.1f\n"
         "    Grouping used                            : %s",
         instance->time, static_cast<double>(s.startClock), s.externalSteps, internalSteps, nonlinearIterations,
         convergenceFailures, s.rhsCalls, static_cast<double>(s.rhsMilliseconds), rootEvaluations,
         static_cast<double>(s.rootMilliseconds), jacobianEvaluations, s.jacobianCalls, scaleFactor,
         integratorGroupCount ? "yes" : "no");
  fmiLog(instance, fmi2OK,
         "Rejected count\n"
         "    Number of external steps                 : %d\n"
         "    Number of internal steps                 : %d\n"
         "    Number of f function evaluations         : %d (%.2f s)\n"
         "    Number of Jac function evaluations       : %d\n",
         s.rejectedExternalSteps, s.rejectedInternalSteps, s.rejectedRhsCalls,
         static_cast<double>(s.rejectedRhsMilliseconds), s.rejectedJacobianCalls);
}

}  // namespace

void integratorStatistics(ModelInstance* instance) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator) return;
  if (integrator->reportReady && integrator->cvode.memory) printStatistics(instance, integrator);
  integratorFree(instance, instance);
}

namespace {

// SUNDIALS' own release of the record's objects, inside the record's SUNDIALS call.
void releaseSundialsObjects(CoSimIntegrator* integrator) {
  if (integrator->cvode.memory) CVodeFree(&integrator->cvode.memory);
  if (integrator->linearSolver) SUNLinSolFree(integrator->linearSolver);
  if (integrator->denseMatrix) SUNMatDestroy(integrator->denseMatrix);
  N_Vector* vectors[] = {&integrator->stateVector,  &integrator->absoluteTolerances,   &integrator->relativeTolerances,
                         &integrator->errorWeights, &integrator->perturbedDerivatives, &integrator->savedStates};
  for (N_Vector* v : vectors)
    if (*v) N_VDestroy_Serial(*v);
  if (integrator->context) SUNContext_Free(&integrator->context);
}

}  // namespace

void integratorFree(ModelInstance* instance, ModelInstance* owner) {
  if (!owner || !owner->integrator) return;
  CoSimIntegrator* integrator = owner->integrator;
  const fmi2CallbackFunctions* functions = instance->functions;
  SundialsCall call;
  sundialsCallEnter(&call, integrator);
  if (SUNDIALS_ARMED(call)) releaseSundialsObjects(integrator);
  // Whatever SUNDIALS did not give back (all of it when the release ran out of memory) goes
  // now, with the pointers.
  sundialsRefuse(&call, nullptr);
  sundialsCallLeave(&call);
  void* blocks[] = {integrator->columnStarts, integrator->entryPositions, integrator->lastOutputs,
                    integrator->inputDerivatives, integrator->inputBase};
  for (void* block : blocks)
    if (block) functions->freeMemory(block);
  functions->freeMemory(integrator);
  owner->integrator = nullptr;
}
