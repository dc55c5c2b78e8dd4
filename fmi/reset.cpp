#include "reset.h"

#include <cstdint>
#include <cstring>

#include "evaluate.h"
#include "initialize.h"
#include "instantiate.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modelfacts.h"
#include "values.h"

namespace {

// Clears an array with its spare element, as the instantiation's allocation leaves it.
template <typename T>
void clearArray(T* values, uint64_t count) {
  if (values) memset(values, 0, (count + 1) * sizeof(T));
}

// The table declare_ fills with the model's String start texts; made once, by the first reset
// that needs it. False when the host has no memory for it.
bool haveStringStarts(ModelInstance* instance) {
  if (instance->stringStarts || instance->ns == 0) return true;
  instance->stringStarts =
      static_cast<char**>(fmiAllocateZeroed(instance->functions, instance->ns, sizeof(char*)));
  return instance->stringStarts != nullptr;
}

// The model's start values written again; each String variable gets its start text copied into
// its own buffer. The QiErr of declare_.
int loadStartValues(ModelInstance* instance) {
  int qiErr = 0;
  declare_(instance->states, instance->parameters, instance->inputs, instance->stringStarts, &qiErr);
  for (uint64_t i = 0; i < instance->ns; ++i) fmiCopyStartString(instance->strings[i], instance->stringStarts[i]);
  return qiErr;
}

// Everything but the start values as fmi2Instantiate leaves it.
void clearRunState(ModelInstance* instance) {
  // A Co-Simulation terminate has released the integrator already; one can still be there when
  // a restored FMU state put the instance into modeTerminated.
  integratorFree(instance, instance);

  clearArray(instance->derivatives, instance->nx);
  clearArray(instance->outputs, instance->ny);
  clearArray(instance->auxiliaries, instance->nw);
  clearArray(instance->eventIndicators, instance->ni);
  clearArray(instance->previousStates, instance->nx);
  clearArray(instance->extraValues, instance->nExtra);
  clearArray(instance->extraValues2, instance->nExtra2);
  clearArray(instance->booleanReapplyValues, static_cast<uint64_t>(modelBooleanReapplyCount));
  for (uint64_t i = 0; i < instance->nx; ++i) instance->nominals[i] = 1.0;

  memset(instance->solverReals, 0, solverRealCount * sizeof(double));
  memset(instance->solverInts, 0, solverIntCount * sizeof(int32_t));
  // The work state first (its external objects destroyed, the process's delay buffers
  // released), then the whole block from the template, as a new instance gets it.
  if (instance->modelData) {
    resetModelData(instance->modelData);
    copyModelData(instance->modelData);
    fmiAttachSolverBlocks(instance);
  } else {
    resetTemplateModelData();
  }

  instance->startTime = 0;
  instance->stopTimeDefined = 0;
  instance->stopTime = 0;
  instance->toleranceDefined = 0;
  instance->tolerance = 0;
  instance->time = 0;
  instance->levelReached = 0;
  instance->qiErr = 0;
  instance->eventStart = 0;
  instance->valuesChanged = 0;
  instance->newDiscreteStatesNeeded = 0;
  instance->terminatedByModel = 0;
  instance->inDirectionalDerivative = 0;
  instance->inlineStepCounter = 0;
  instance->jacobianStale = 1;
}

}  // namespace

fmi2Status fmiReset(ModelInstance* instance) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameReset];
  fmiLog(instance, fmi2OK, "%s...", name);
  switch (instance->mode) {
    case modeInstantiated:
      fmiLog(instance, fmi2OK, "%s: already reset, ignoring call", name);
      return fmi2OK;
    case modeInitialization:
    case modeEvent:
    case modeEventIterating:
    case modeEventDone:
    case modeContinuousTime: {
      fmi2Status status = fmiTerminate(instance);
      if (status != fmi2OK && status != fmi2Warning) return status;
      break;
    }
    case modeTerminated:
      break;
    default:
      fmiLog(instance, fmi2OK, "%s completed", name);
      return fmi2OK;
  }

  if (!haveStringStarts(instance)) {
    // Nothing was changed yet: the instance stays terminated, and the host still owns it.
    fmiLog(instance, fmi2Fatal, "%s failed: out of Memory", name);
    return fmi2Fatal;
  }
  int qiErr = loadStartValues(instance);
  clearRunState(instance);
  if (qiErr != 0) {
    fmiLog(instance, fmi2Error, "%s: declare_ failed, QiErr = %d", name, qiErr);
    return fmiErrorExit(instance);
  }
  instance->mode = modeInstantiated;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}
