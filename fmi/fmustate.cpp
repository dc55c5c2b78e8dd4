// Taking, restoring and releasing FMU states.
#include "fmustate.h"

#include <cstring>

#include "evaluate.h"
#include "instantiate.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modeldata.h"

namespace {

const char* name(FmiFunctionName entry) { return fmiFunctionNames[entry]; }

// The ten value arrays of a record with their counts, in one order for every copy.
struct ValueArray {
  double* ModelInstance::*field;
  uint64_t ModelInstance::*count;
};
constexpr ValueArray valueArrays[] = {
    {&ModelInstance::states, &ModelInstance::nx},          {&ModelInstance::derivatives, &ModelInstance::nx},
    {&ModelInstance::parameters, &ModelInstance::np},      {&ModelInstance::inputs, &ModelInstance::nu},
    {&ModelInstance::outputs, &ModelInstance::ny},         {&ModelInstance::auxiliaries, &ModelInstance::nw},
    {&ModelInstance::eventIndicators, &ModelInstance::ni}, {&ModelInstance::nominals, &ModelInstance::nx},
    {&ModelInstance::extraValues, &ModelInstance::nExtra}, {&ModelInstance::extraValues2, &ModelInstance::nExtra2},
};

// Each string buffer whole, terminated at its last character.
void copyStrings(ModelInstance* to, const ModelInstance* from) {
  for (uint64_t i = 0; i < from->ns; ++i) {
    memcpy(to->strings[i], from->strings[i], stringBufferSize);
    to->strings[i][stringBufferSize - 1] = '\0';
  }
}

bool usesIntegrator(const ModelInstance* instance) {
  return instance->fmuType == fmi2CoSimulation && instance->solverInts[solverIntInlineIntegration] == 0;
}

// Releases what a state holds, in the reverse order of its allocation; the integrator copy is
// the caller's.
void releaseState(const fmi2CallbackFunctions* functions, ModelInstance* state) {
  fmiRelease(functions, state->modelData);
  fmiRelease(functions, state->solverInts);
  fmiRelease(functions, state->solverReals);
  if (state->strings) {
    for (uint64_t i = state->ns; i-- > 0;) fmiRelease(functions, state->strings[i]);
    fmiRelease(functions, state->strings);
  }
  for (size_t a = sizeof valueArrays / sizeof valueArrays[0]; a-- > 0;)
    fmiRelease(functions, state->*valueArrays[a].field);
  fmiRelease(functions, state);
}

}  // namespace

void fmiCopyStateCounts(ModelInstance* to, const ModelInstance* from) {
  to->nx = from->nx;
  to->nu = from->nu;
  to->ny = from->ny;
  to->nw = from->nw;
  to->np = from->np;
  to->ns = from->ns;
  to->ni = from->ni;
  to->nExtra = from->nExtra;
  to->nExtra2 = from->nExtra2;
}

void fmiCopyStateValues(ModelInstance* to, const ModelInstance* from) {
  for (const ValueArray& a : valueArrays) {
    uint64_t n = from->*a.count;
    if (n) memcpy(to->*a.field, from->*a.field, n * sizeof(double));
  }
}

void fmiCopyStateScalars(ModelInstance* to, const ModelInstance* from) {
  to->time = from->time;
  to->levelReached = from->levelReached;
  to->mode = from->mode;
  to->inlineStepCounter = from->inlineStepCounter;
  to->useStateSnapshots = from->useStateSnapshots;
  to->inDirectionalDerivative = from->inDirectionalDerivative;
  to->valuesChanged = from->valuesChanged;
  to->newDiscreteStatesNeeded = from->newDiscreteStatesNeeded;
  memcpy(to->solverReals, from->solverReals, solverRealCount * sizeof(double));
  memcpy(to->solverInts, from->solverInts, solverIntCount * sizeof(int32_t));
}

void fmiCopyModelDataBlock(ModelData* destination, const void* source, const ModelData* pointers,
                           double* solverReals, int32_t* solverInts) {
  // Taken first: `pointers` may be the destination itself.
  ExternalObjectSlot externalObjects[modelExternalObjectCapacity];
  memcpy(externalObjects, pointers->externalObjects, sizeof externalObjects);
  double* jacobians[] = {pointers->jacobianA, pointers->jacobianB, pointers->jacobianC, pointers->jacobianD};
  char* stringTable[modelStringSlots];
  memcpy(stringTable, pointers->stringTable, sizeof stringTable);

  memcpy(destination, source, modelDataLiveBytes);

  destination->solverReals = solverReals;
  destination->solverInts = solverInts;
  memcpy(destination->externalObjects, externalObjects, sizeof externalObjects);
  destination->jacobianA = jacobians[0];
  destination->jacobianB = jacobians[1];
  destination->jacobianC = jacobians[2];
  destination->jacobianD = jacobians[3];
  memcpy(destination->stringTable, stringTable, sizeof stringTable);
}

namespace {

fmi2Status allocateState(ModelInstance** out, ModelInstance* instance, bool fillModelData) {
  const fmi2CallbackFunctions* functions = instance->functions;
  *out = nullptr;
  auto* state = static_cast<ModelInstance*>(fmiAllocateZeroed(functions, 1, sizeof(ModelInstance)));
  bool complete = state != nullptr;
  if (complete) {
    // The state keeps the instance's callbacks, so that its integrator copy can be made and
    // released through them.
    state->functions = functions;
    fmiCopyStateCounts(state, instance);
    for (const ValueArray& a : valueArrays) {
      state->*a.field = static_cast<double*>(fmiAllocateZeroed(functions, state->*a.count + 1, sizeof(double)));
      complete = complete && state->*a.field;
    }
    if (complete) {
      state->strings = static_cast<char**>(fmiAllocateZeroed(functions, state->ns + 1, sizeof(char*)));
      complete = state->strings != nullptr;
    }
    for (uint64_t i = 0; complete && i < state->ns; ++i) {
      state->strings[i] = static_cast<char*>(fmiAllocateZeroed(functions, stringBufferSize, 1));
      complete = state->strings[i] != nullptr;
    }
    if (complete) {
      state->solverReals = static_cast<double*>(fmiAllocateZeroed(functions, 1, solverRealCount * sizeof(double)));
      state->solverInts = static_cast<int32_t*>(fmiAllocateZeroed(functions, 1, solverIntCount * sizeof(int32_t)));
      complete = state->solverReals && state->solverInts;
    }
    if (complete && instance->modelData) {
      state->modelData = static_cast<ModelData*>(fmiAllocateZeroed(functions, 1, static_cast<size_t>(modelDataSize)));
      complete = state->modelData != nullptr;
      if (complete && fillModelData) copyModelData(state->modelData);
    }
  }
  if (!complete) {
    // The instance goes on as it was: only the state could not be had.
    fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "memory allocation failed");
    if (state) releaseState(functions, state);
    return fmi2Error;
  }
  *out = state;
  return fmi2OK;
}

}  // namespace

fmi2Status fmiAllocateFMUstate(ModelInstance** out, ModelInstance* instance) {
  return allocateState(out, instance, true);
}

fmi2Status fmiAllocateFMUstateUnfilled(ModelInstance** out, ModelInstance* instance) {
  return allocateState(out, instance, false);
}

fmi2Status fmiGetFMUstate(ModelInstance* instance, ModelInstance** handle) {
  if (!instance) return fmi2Warning;
  const char* fn = name(fmiNameGetFMUstate);
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "%s", fn);
  if (!handle) {
    fmiPrintMessage(instance, instance->instanceName, fmi2Warning, "", "%s: FMUstate == NULL", fn);
    return fmi2Warning;
  }
  // Everything that can fail comes before the state is written: a refused get hands back no new
  // state and leaves an existing one as it was, and the instance goes on as it was.
  ModelInstance* state = *handle;
  bool made = false;
  if (!state) {
    if (fmiAllocateFMUstate(&state, instance) != fmi2OK) return fmi2Error;
    made = true;
  }
  const bool integrated = usesIntegrator(instance);
  if (integrated && integratorPrepareSave(instance, state)) {
    fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "%s failed", fn);
    if (made) fmiReleaseFMUstate(instance, &state);
    return fmi2Error;
  }
  fmiCopyStateValues(state, instance);
  copyStrings(state, instance);
  fmiCopyStateScalars(state, instance);
  if (state->modelData && instance->modelData)
    fmiCopyModelDataBlock(state->modelData, instance->modelData, state->modelData, state->solverReals,
                          state->solverInts);
  state->modelDataBlob = instance->modelDataBlob;
  if (integrated) {
    // Only a refused restart of CVODE is left to fail here; a state it left unfinished is not
    // handed back.
    if (integratorSaveState(instance, state) != fmi2OK) {
      fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "%s failed", fn);
      if (made) fmiReleaseFMUstate(instance, &state);
      return fmi2Error;
    }
    *handle = state;
    return fmi2OK;
  }
  *handle = state;
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "%s", fn);
  return fmi2OK;
}

fmi2Status fmiSetFMUstate(ModelInstance* instance, ModelInstance* state) {
  if (!instance) return fmi2Warning;
  const char* fn = name(fmiNameSetFMUstate);
  if (!state) {
    fmiPrintMessage(instance, instance->instanceName, fmi2Warning, "", "%s: FMUstate == NULL", fn);
    return fmi2Warning;
  }
  // Everything that can fail (an integrator set up afresh, the room for the integrator's data)
  // comes before anything of the instance is overwritten: a refused restore leaves it as it was.
  const bool integrated = usesIntegrator(instance);
  bool fresh = false;
  if (integrated && integratorPrepareRestore(state, instance, &fresh)) {
    fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "%s failed", fn);
    return fmi2Error;
  }
  fmiCopyStateValues(instance, state);
  copyStrings(instance, state);
  if (state->time > instance->time)
    fmiPrintMessage(instance, instance->instanceName, fmi2Warning, "",
                    "%s: Time in FMU state later than current. The behaviour for this is not well tested.", fn);
  fmiCopyStateScalars(instance, state);
  if (state->modelData && instance->modelData)
    fmiCopyModelDataBlock(instance->modelData, state->modelData, instance->modelData, instance->solverReals,
                          instance->solverInts);
  // Restores the integrator's data, or completes the one set up at the restored time and states
  // when the instance had none (terminated, never initialised), and restarts CVODE.
  if (integrated) {
    if (integratorFinishRestore(state, instance, fresh) != fmi2OK) {
      fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "%s failed", fn);
      return fmi2Error;
    }
    return fmi2OK;
  }
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "%s", fn);
  return fmi2OK;
}

void fmiReleaseFMUstate(ModelInstance* instance, ModelInstance** handle) {
  ModelInstance* state = *handle;
  if (!state) return;
  if (state->integrator) integratorFreeState(instance, state);
  releaseState(instance->functions, state);
  *handle = nullptr;
}

fmi2Status fmiFreeFMUstate(ModelInstance* instance, ModelInstance** handle) {
  // Without the instance there are no callbacks to release through: the state stays the host's.
  if (!instance) return fmi2Warning;
  if (!handle || !*handle) return fmi2OK;
  fmiReleaseFMUstate(instance, handle);
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "%s", name(fmiNameFreeFMUstate));
  return fmi2OK;
}
