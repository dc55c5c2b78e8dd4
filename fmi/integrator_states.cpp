// The integrator's share of FMU states: what a state carries (tolerances, work vectors, the
// sparse pattern, input extrapolation, the last outputs and the statistics, never CVODE's own
// history), and the booking of the work a restore throws away.
#include <cstring>

#include "evaluate.h"
#include "instantiate.h"
#include "integrator.h"
#include "messages.h"
#include "modeldata.h"
#include "sundials_call.h"

namespace {

// An FMU state may lack callbacks of its own; it then uses those of its instance.
const fmi2CallbackFunctions* callbacksOf(const ModelInstance* owner, const ModelInstance* other) {
  return owner->functions ? owner->functions : other->functions;
}

double* allocateDoubles(const fmi2CallbackFunctions* functions, uint64_t count) {
  return static_cast<double*>(fmiAllocateZeroed(functions, count, sizeof(double)));
}

// At least one, so that an empty pattern still has a block.
int32_t* allocateInts(const fmi2CallbackFunctions* functions, uint64_t count) {
  return static_cast<int32_t*>(fmiAllocateZeroed(functions, count ? count : 1, sizeof(int32_t)));
}

// The copy record's SUNDIALS objects: its own context and vectors of the source's lengths, no
// CVODE memory. 0; 1 when SUNDIALS refused (what was made stays in the record for the caller
// to release).
int makeCopyVectors(SundialsCall* call, CoSimIntegrator* record, const CoSimIntegrator* source, uint64_t nx) {
  sundialsAt(call, "SUNContext_Create", false);
  if (SUNContext_Create(nullptr, &record->context) < 0) {
    record->context = nullptr;
    return 1;
  }
  N_Vector* made[] = {&record->stateVector,  &record->absoluteTolerances,   &record->relativeTolerances,
                      &record->errorWeights, &record->perturbedDerivatives, &record->savedStates};
  const N_Vector from[] = {source->stateVector,  source->absoluteTolerances,   source->relativeTolerances,
                           source->errorWeights, source->perturbedDerivatives, source->savedStates};
  sundialsAt(call, "N_VNew_Serial", true);
  for (int i = 0; i < 6; ++i) {
    sunindextype length = from[i] ? N_VGetLength(from[i]) : static_cast<sunindextype>(nx);
    *made[i] = N_VNew_Serial(length, record->context);
    if (!*made[i]) return 1;
    N_VConst(0.0, *made[i]);
  }
  return 0;
}

// A record for an FMU state: its SUNDIALS objects made as a SUNDIALS call of the record, no
// double arrays yet. 0; 1 when something could not be made (what was made stays in the record
// for the caller to release; a failed SUNDIALS allocation has left it without SUNDIALS objects).
int makeCopyRecord(ModelInstance* destination, const CoSimIntegrator* source, const fmi2CallbackFunctions* functions,
                   uint64_t nx) {
  auto* record = static_cast<CoSimIntegrator*>(fmiAllocateZeroed(functions, 1, sizeof(CoSimIntegrator)));
  if (!record) return 1;
  trackedListInit(&record->sundialsBlocks);
  destination->integrator = record;
  SundialsCall call;
  sundialsCallEnter(&call, record);
  int failed;
  if (SUNDIALS_ARMED(call)) {
    failed = makeCopyVectors(&call, record, source, nx);
  } else {
    failed = sundialsRefuse(&call, nullptr);
  }
  sundialsCallLeave(&call);
  if (failed) return 1;
  if (source->nonZeroCount) {
    record->columnStarts = allocateInts(functions, nx + 1);
    record->entryPositions = allocateInts(functions, static_cast<uint64_t>(source->patternGroupCount) * nx);
    if (!record->columnStarts || !record->entryPositions) return 1;
  }
  return 0;
}

int copyInto(ModelInstance* destination, const ModelInstance* source, const fmi2CallbackFunctions* functions) {
  const CoSimIntegrator* from = source->integrator;
  CoSimIntegrator* to = destination->integrator;
  uint64_t nx = source->nx;
  N_Vector const sources[] = {from->absoluteTolerances, from->relativeTolerances, from->errorWeights,
                              from->perturbedDerivatives, from->savedStates};
  N_Vector const targets[] = {to->absoluteTolerances, to->relativeTolerances, to->errorWeights,
                              to->perturbedDerivatives, to->savedStates};
  // Element copies, as N_VScale by 1 makes them, without its dispatch.
  for (int i = 0; i < 5; ++i) {
    if (!sources[i] || !targets[i]) continue;
    sunindextype length = N_VGetLength(sources[i]);
    if (length == N_VGetLength(targets[i]) && length > 0)
      memcpy(N_VGetArrayPointer(targets[i]), N_VGetArrayPointer(sources[i]),
             static_cast<size_t>(length) * sizeof(double));
  }

  to->nonZeroCount = from->nonZeroCount;
  to->patternGroupCount = from->patternGroupCount;
  if (from->nonZeroCount) {
    uint64_t positions = static_cast<uint64_t>(from->patternGroupCount) * nx;
    if (!to->columnStarts) to->columnStarts = allocateInts(functions, nx + 1);
    if (!to->entryPositions) to->entryPositions = allocateInts(functions, positions);
    if (!to->columnStarts || !to->entryPositions) return 1;
    memcpy(to->columnStarts, from->columnStarts, (nx + 1) * sizeof(int32_t));
    memcpy(to->entryPositions, from->entryPositions, positions * sizeof(int32_t));
  }

  to->inputDerivativesValid = from->inputDerivativesValid;
  if (from->inputDerivativesValid && from->inputDerivatives && from->inputBase) {
    uint64_t nu = source->nu;
    if (!to->inputDerivatives) to->inputDerivatives = allocateDoubles(functions, nu + 1);
    if (!to->inputBase) to->inputBase = allocateDoubles(functions, nu + 1);
    if (!to->inputDerivatives || !to->inputBase) return 1;
    memcpy(to->inputDerivatives, from->inputDerivatives, nu * sizeof(double));
    memcpy(to->inputBase, from->inputBase, nu * sizeof(double));
    to->inputBaseTime = from->inputBaseTime;
  }
  if (from->lastOutputs) {
    uint64_t ny = source->ny;
    if (!to->lastOutputs) to->lastOutputs = allocateDoubles(functions, ny + 1);
    if (!to->lastOutputs) return 1;
    memcpy(to->lastOutputs, from->lastOutputs, ny * sizeof(double));
  }
  to->lastOutputTime = from->lastOutputTime;
  return 0;
}

}  // namespace

namespace {

// The arrays copyInto would allocate in the destination's record, made ahead so that the copy
// itself cannot fail. 0; 1 when one could not be had (those made stay, unused until a copy).
int reserveArrays(CoSimIntegrator* to, const ModelInstance* source, const fmi2CallbackFunctions* functions) {
  const CoSimIntegrator* from = source->integrator;
  uint64_t nx = source->nx;
  if (from->nonZeroCount) {
    if (!to->columnStarts) to->columnStarts = allocateInts(functions, nx + 1);
    if (!to->entryPositions)
      to->entryPositions = allocateInts(functions, static_cast<uint64_t>(from->patternGroupCount) * nx);
    if (!to->columnStarts || !to->entryPositions) return 1;
  }
  if (from->inputDerivativesValid && from->inputDerivatives && from->inputBase) {
    if (!to->inputDerivatives) to->inputDerivatives = allocateDoubles(functions, source->nu + 1);
    if (!to->inputBase) to->inputBase = allocateDoubles(functions, source->nu + 1);
    if (!to->inputDerivatives || !to->inputBase) return 1;
  }
  if (from->lastOutputs && !to->lastOutputs) {
    to->lastOutputs = allocateDoubles(functions, source->ny + 1);
    if (!to->lastOutputs) return 1;
  }
  return 0;
}

// Makes everything a copy from source into destination needs (the record when the destination
// has none, the arrays) without copying anything. 0; 1 after "memory allocation failed" on the
// logger of `reporter`, the destination as it was (a record made here is released again).
int reserveCopy(ModelInstance* destination, ModelInstance* source, ModelInstance* reporter) {
  if (!source->integrator) return 0;
  const fmi2CallbackFunctions* functions = callbacksOf(source, destination);
  bool fresh = !destination->integrator;
  int failed = fresh && makeCopyRecord(destination, source->integrator, functions, source->nx);
  if (!failed) failed = reserveArrays(destination->integrator, source, functions);
  if (!failed) return 0;
  fmiLog(reporter, fmi2Error, "memory allocation failed");
  if (fresh) {
    ModelInstance* releaser = destination->functions ? destination : source;
    integratorFree(releaser, destination);
  }
  return 1;
}

}  // namespace

int integratorCopy(ModelInstance* destination, ModelInstance* source) {
  if (!source->integrator) return 0;
  const fmi2CallbackFunctions* functions = callbacksOf(source, destination);
  bool fresh = !destination->integrator;
  int failed = fresh && makeCopyRecord(destination, source->integrator, functions, source->nx);
  if (!failed) failed = copyInto(destination, source, functions);
  if (!failed) return 0;
  fmiLog(source, fmi2Error, "memory allocation failed");
  // Released once, with the callbacks it was made with; the destination is left without one.
  ModelInstance* releaser = destination->functions ? destination : source;
  integratorFree(releaser, destination);
  return 1;
}

int integratorPrepareSave(ModelInstance* instance, ModelInstance* state) {
  if (instance->nx == 0 || !instance->integrator) return 0;
  return reserveCopy(state, instance, instance);
}

fmi2Status integratorSaveState(ModelInstance* instance, ModelInstance* state) {
  if (instance->nx == 0) return fmi2OK;
  if (!instance->integrator) {
    integratorFree(instance, state);
    return fmi2OK;
  }
  // CVODE's history is not part of a state, so the run from a restored state starts afresh:
  // taking the state restarts CVODE here too, so that the run after the get and every run after
  // a set of it start from the same integrator condition and agree bit for bit.
  if (instance->integrator->cvode.memory && integratorReInit(instance)) return fmi2Error;
  if (integratorCopy(state, instance)) return fmi2Error;
  // The state keeps the true total of internal steps, so that a restore restarts from it.
  state->integrator->statistics = instance->integrator->statistics;
  state->integrator->statistics.internalSteps = integratorTotalSteps(instance);
  return fmi2OK;
}

namespace {

bool needsIntegrator(int32_t mode) { return mode >= modeInitialization && mode <= modeContinuousTime; }

// Books the work done since the state was taken as rejected in the state's statistics, which
// then replace the instance's.
void bookRejectedWork(IntegratorStatistics* kept, const IntegratorStatistics& discarded) {
  kept->rejectedExternalSteps += discarded.externalSteps - kept->externalSteps;
  kept->rejectedInternalSteps += discarded.internalSteps - kept->internalSteps;
  kept->rejectedRhsCalls += discarded.rhsCalls - kept->rhsCalls;
  kept->rejectedJacobianCalls += discarded.jacobianCalls - kept->jacobianCalls;
  kept->rejectedRhsMilliseconds += discarded.rhsMilliseconds - kept->rhsMilliseconds;
}

}  // namespace

int integratorPrepareRestore(ModelInstance* state, ModelInstance* instance, bool* fresh) {
  *fresh = false;
  // A stepping state restored into an instance whose integrator is gone (terminated, or never
  // initialised): a new one, restarted at the restored time and states once they are in place.
  if (!instance->integrator && needsIntegrator(state->mode)) {
    if (integratorSetup(instance, instance->tolerance, setupForRestore)) return 1;
    *fresh = true;
  }
  if (instance->integrator && instance->nx > 0 && state->integrator && reserveCopy(instance, state, instance)) {
    if (*fresh) integratorFree(instance, instance);
    *fresh = false;
    return 1;
  }
  return 0;
}

fmi2Status integratorFinishRestore(ModelInstance* state, ModelInstance* instance, bool fresh) {
  CoSimIntegrator* integrator = instance->integrator;
  if (!integrator) return fmi2OK;
  if (fresh) {
    // Set up before the restored values were in place: it is set up now, and its output base
    // is the restored outputs.
    instance->solverInts[solverIntIntegratorNotSetUp] = 0;
    integratorRecordOutputs(instance);
  }
  if (instance->nx > 0 && state->integrator) {
    IntegratorStatistics discarded = integrator->statistics;
    discarded.internalSteps = integratorTotalSteps(instance);
    // Everything the copy needs was made by the preparation.
    if (integratorCopy(instance, state)) return fmi2Error;
    IntegratorStatistics* kept = &state->integrator->statistics;
    // A new integrator has thrown nothing away.
    if (!fresh) bookRejectedWork(kept, discarded);
    instance->integrator->statistics = *kept;
    // The discarded steps are booked; the restart must not count them again.
    return integratorRestart(instance) ? fmi2Error : fmi2OK;
  }
  return integratorReInit(instance) ? fmi2Error : fmi2OK;
}

fmi2Status integratorRestoreState(ModelInstance* state, ModelInstance* instance) {
  bool fresh = false;
  if (integratorPrepareRestore(state, instance, &fresh)) return fmi2Error;
  return integratorFinishRestore(state, instance, fresh);
}

void integratorFreeState(ModelInstance* instance, ModelInstance* state) {
  if (state->nx > 0) integratorFree(instance, state);
}
