// Directional derivatives, from the model's Jacobian blocks or by central differences.
#include "directional.h"

#include <cmath>

#include "evaluate.h"
#include "fmustate.h"
#include "instantiate.h"
#include "messages.h"
#include "model.h"
#include "modeldata.h"
#include "values.h"

int analyticJacobian = 0;

namespace {

// The difference step: h = min(stepBound, relativeStep * (|v| + 1) / |dv|) over the seeds.
constexpr double stepBound = 1e6;
constexpr double relativeStep = 1e-5;

const char* name() { return fmiFunctionNames[fmiNameGetDirectionalDerivative]; }

void fail(ModelInstance* instance, const char* format, int index = 0) {
  fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", format, name(), index);
}

// A block of at least `needed` doubles in each of the vectors; they only grow, and are made
// anew (all of them) when a larger request comes. False when one is missing.
bool grow(ModelInstance* instance, double** const vectors[3], uint64_t* capacity, size_t needed) {
  if (*capacity >= needed) return true;
  bool complete = true;
  for (int k = 0; k < 3; ++k) {
    fmiRelease(instance->functions, *vectors[k]);
    *vectors[k] = static_cast<double*>(fmiAllocateZeroed(instance->functions, needed, sizeof(double)));
    complete = complete && *vectors[k];
  }
  if (complete) *capacity = needed;
  return complete;
}

// ---- From the model's Jacobian blocks ------------------------------------------------------

// The block and its row count for a seed column of category `seed` and a result of category
// `result`; null when the combination has none.
const double* blockFor(const ModelInstance* instance, int seed, int result, int nx, int ny, int* rows) {
  bool state = seed == categoryState;
  if (result == categoryDerivative) {
    *rows = nx;
    return state ? instance->jacobianA : instance->jacobianB;
  }
  *rows = ny;
  return state ? instance->jacobianC : instance->jacobianD;
}

fmi2Status analyticProducts(ModelInstance* instance, const fmi2ValueReference vUnknown_ref[], size_t nUnknown,
                            const fmi2ValueReference vKnown_ref[], size_t nKnown, const fmi2Real dvKnown[],
                            fmi2Real dvUnknown[]) {
  int nx = 0, nu = 0, ny = 0;
  getModelDimensions(&nx, nullptr, &nu, &ny, nullptr, nullptr, nullptr, nullptr, nullptr);
  const int needed[4] = {nx * nx, nx * nu, ny * nx, ny * nu};
  double** const blocks[4] = {&instance->jacobianA, &instance->jacobianB, &instance->jacobianC,
                              &instance->jacobianD};
  bool complete = true;
  for (int k = 0; k < 4; ++k) {
    if (*blocks[k] && instance->jacobianSizes[k] >= needed[k]) continue;
    fmiRelease(instance->functions, *blocks[k]);
    *blocks[k] = static_cast<double*>(
        fmiAllocateZeroed(instance->functions, static_cast<size_t>(needed[k]) + 1, sizeof(double)));
    complete = complete && *blocks[k];
  }
  if (!complete) {
    fail(instance, "%s: memory allocation failed");
    return fmi2Error;
  }
  for (int k = 0; k < 4; ++k) instance->jacobianSizes[k] = needed[k];

  if (instance->levelReached < demandDerivatives || instance->jacobianStale) {
    setModelJacobian(instance->modelData, instance->jacobianA, instance->jacobianB, instance->jacobianC,
                     instance->jacobianD, nx, nu, ny, 0, 0, 0, 0);
    if (fmiEvaluateModel(instance, demandDerivatives, name(), nullptr) != 0) return fmi2Error;
    instance->jacobianStale = 0;
  }
  for (size_t j = 0; j < nKnown; ++j) {
    if (dvKnown[j] == 0) continue;
    ValueReference v = fmiDecodeReference(vKnown_ref[j]);
    bool seedValid = (v.category == categoryState && v.index < static_cast<uint32_t>(nx)) ||
                     (v.category == categoryInput && v.index < static_cast<uint32_t>(nu));
    if (!seedValid) {
      fail(instance, "%s: v_ref[%d] refers neither to state nor input", static_cast<int>(j));
      return fmi2Error;
    }
    for (size_t i = 0; i < nUnknown; ++i) {
      ValueReference z = fmiDecodeReference(vUnknown_ref[i]);
      bool resultValid = (z.category == categoryDerivative && z.index < static_cast<uint32_t>(nx)) ||
                         (z.category == categoryOutput && z.index < static_cast<uint32_t>(ny));
      if (!resultValid) {
        fail(instance, "%s: z_ref[%d] refers neither to state derivative nor output", static_cast<int>(i));
        return fmi2Error;
      }
      int rows = 0;
      const double* block = blockFor(instance, v.category, z.category, nx, ny, &rows);
      dvUnknown[i] += block[static_cast<size_t>(v.index) * rows + z.index] * dvKnown[j];
    }
  }
  return fmi2OK;
}

// ---- By central differences ----------------------------------------------------------------

struct Request {
  const fmi2ValueReference* vUnknown_ref;
  size_t nUnknown;
  const fmi2ValueReference* vKnown_ref;
  size_t nKnown;
  const fmi2Real* dvKnown;
  fmi2Real* dvUnknown;
};

// Reads the results at the seeds as they are set now; every getter evaluates meanwhile.
fmi2Status readPerturbed(ModelInstance* instance, const Request& r, double* z) {
  instance->inDirectionalDerivative = 1;
  fmi2Status status = fmiGetReal(instance, r.vUnknown_ref, r.nUnknown, z);
  instance->inDirectionalDerivative = 0;
  return status;
}

// Sets the seeds back to their values from before the call.
fmi2Status restoreSeeds(ModelInstance* instance, const Request& r) {
  if (!instance->useStateSnapshots) return fmiSetReal(instance, r.vKnown_ref, r.nKnown, instance->vBase);
  fmi2Status status = fmiSetFMUstate(instance, instance->derivativeSnapshot);
  if (status == fmi2OK) setInDirectionalDerivative(instance->modelData, 0);
  return status;
}

fmi2Status perturbAndRead(ModelInstance* instance, const Request& r, const double* seeds, double* z,
                          fmi2Status* read) {
  fmi2Status status = fmiSetReal(instance, r.vKnown_ref, r.nKnown, seeds);
  if (status == fmi2OK) *read = readPerturbed(instance, r, z);
  return status;
}

fmi2Status differences(ModelInstance* instance, const Request& r) {
  double** const seeds[3] = {&instance->vBase, &instance->vPlus, &instance->vMinus};
  double** const results[3] = {&instance->zBase, &instance->zPlus, &instance->zMinus};
  if (!grow(instance, seeds, &instance->vCapacity, r.nKnown) ||
      !grow(instance, results, &instance->zCapacity, r.nUnknown)) {
    fail(instance, "%s: memory allocation failed");
    return fmi2Error;
  }
  fmi2Status status = fmiGetReal(instance, r.vKnown_ref, r.nKnown, instance->vBase);
  if (status != fmi2OK) return status;
  status = fmiGetReal(instance, r.vUnknown_ref, r.nUnknown, instance->zBase);
  if (status != fmi2OK) return status;
  if (instance->useStateSnapshots) {
    status = fmiGetFMUstate(instance, &instance->derivativeSnapshot);
    if (status != fmi2OK) return status;
    setInDirectionalDerivative(instance->modelData, 1);
    instance->levelReached = 0;
  }

  double h = stepBound;
  for (size_t j = 0; j < r.nKnown; ++j) {
    if (r.dvKnown[j] == 0) continue;
    double step = relativeStep * (std::fabs(instance->vBase[j]) + 1) / std::fabs(r.dvKnown[j]);
    if (step < h) h = step;
  }
  for (size_t j = 0; j < r.nKnown; ++j) {
    double delta = r.dvKnown[j] == 0 ? 0 : h * r.dvKnown[j];
    instance->vPlus[j] = instance->vBase[j] + delta;
    instance->vMinus[j] = instance->vBase[j] - delta;
  }

  // From the first perturbation on, every way out sets the seeds back.
  fmi2Status plus = fmi2Error, minus = fmi2Error;
  status = perturbAndRead(instance, r, instance->vPlus, instance->zPlus, &plus);
  // A read that failed with fmi2Error has terminated the instance: nothing more is evaluated.
  if (status == fmi2OK && plus == fmi2Error) status = fmi2Error;
  if (status == fmi2OK && instance->useStateSnapshots) {
    status = fmiSetFMUstate(instance, instance->derivativeSnapshot);
    if (status == fmi2OK) setInDirectionalDerivative(instance->modelData, 1);
  }
  if (status == fmi2OK) status = perturbAndRead(instance, r, instance->vMinus, instance->zMinus, &minus);
  if (status == fmi2OK) {
    for (size_t i = 0; i < r.nUnknown; ++i) {
      if (plus == fmi2OK && minus == fmi2OK)
        r.dvUnknown[i] = (instance->zPlus[i] - instance->zMinus[i]) / (2 * h);
      else if (plus == fmi2OK)
        r.dvUnknown[i] = (instance->zPlus[i] - instance->zBase[i]) / h;
      else if (minus == fmi2OK)
        r.dvUnknown[i] = (instance->zBase[i] - instance->zMinus[i]) / h;
    }
    if (plus != fmi2OK && minus != fmi2OK) status = minus;
  }
  fmi2Status restored = restoreSeeds(instance, r);
  return restored > status ? restored : status;
}

}  // namespace

fmi2Status fmiGetDirectionalDerivative(ModelInstance* instance, const fmi2ValueReference vUnknown_ref[],
                                       size_t nUnknown, const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                       const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
  if (!instance) return fmi2Warning;
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "%s", name());
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "%s", name());
  const char* missing = nullptr;
  if (nUnknown && !vUnknown_ref) missing = "vUnknown_ref";
  else if (nUnknown && !dvUnknown) missing = "dvUnknown";
  else if (nKnown && !vKnown_ref) missing = "vKnown_ref";
  else if (nKnown && !dvKnown) missing = "dvKnown";
  if (missing) {
    fmiPrintMessage(instance, instance->instanceName, fmi2Warning, "", "%s: %s == NULL", name(), missing);
    return fmi2Warning;
  }
  for (size_t i = 0; i < nUnknown; ++i) dvUnknown[i] = 0;

  fmi2Status status;
  if (analyticJacobian && !instance->useStateSnapshots) {
    status = analyticProducts(instance, vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown, dvUnknown);
    setModelJacobian(instance->modelData, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0);
  } else {
    instance->solverInts[solverIntJacobianInProgress] = 1;
    status = differences(instance, Request{vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown, dvUnknown});
    instance->solverInts[solverIntJacobianInProgress] = 0;
  }
  return status == fmi2Error ? fmiErrorExit(instance) : status;
}
