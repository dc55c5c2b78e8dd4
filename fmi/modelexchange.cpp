#include "modelexchange.h"

#include <cstdint>
#include <cstring>

#include "evaluate.h"
#include "initialize.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modeldata.h"
#include "modelfacts.h"
#include "modes.h"
#include "results.h"

fmi2Status fmiEnterInitializationModeME(ModelInstance* instance) {
  const char* name = fmiFunctionNames[fmiNameEnterInitializationModeME];
  fmiLog(instance, fmi2OK, "%s...", name);
  fmi2Status status = fmiInitialize(instance);
  if (status != fmi2OK) return status;
  instance->mode = modeInitialization;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiExitInitializationModeME(ModelInstance* instance) {
  const char* name = fmiFunctionNames[fmiNameExitInitializationModeME];
  fmiLog(instance, fmi2OK, "%s...", name);
  fmi2Status status = fmiExitInitialization(instance, name, modeEvent);
  // Also after a failed exit; but a refusal (the only fmi2Warning) changes nothing, or it would
  // restart an event iteration in progress.
  if (status != fmi2Warning) instance->eventStart = 1;
  if (status != fmi2OK) return status;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiSetTime(ModelInstance* instance, double time) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameSetTime];
  // Accepting the call in event-done mode moves a model without states into continuous-time
  // mode; a refused time leaves the mode as it was.
  const int32_t mode = instance->mode;
  if (!fmiModeAccepts(instance, callSetTime, name)) return fmi2Warning;
  if (!fmiFiniteArgument(instance, name, "time", time)) {
    instance->mode = mode;
    return fmi2Warning;
  }
  if (time != instance->time) integratorTimeMoved(instance);
  fmiSetTimeUnchecked(instance, time);
  return fmi2OK;
}

void fmiSetTimeUnchecked(ModelInstance* instance, double time) {
  instance->time = time;
  instance->levelReached = 0;
  instance->jacobianStale = 1;
  fmiLog(instance, fmi2OK, "%s to %g", fmiFunctionNames[fmiNameSetTime], time);
}

fmi2Status fmiTerminateME(ModelInstance* instance) {
  const char* name = fmiFunctionNames[fmiNameTerminateME];
  if (!fmiModeAccepts(instance, callTerminate, name)) return fmi2Warning;
  fmiLog(instance, fmi2OK, "%s", name);
  fmi2Status status = fmiTerminalSection(instance, name);
  fmiProfilingReport(instance);
  resultFinish(instance);
  instance->mode = modeTerminated;
  return status;
}

namespace {

// The array calls use the smaller of the length given and the instance's count; a mismatch is
// logged and turns the result into fmi2Warning.
size_t commonLength(ModelInstance* instance, const char* name, const char* argument, size_t given, uint64_t count,
                    fmi2Status* status) {
  if (given == count) return given;
  fmiLog(instance, fmi2Warning, "%s: argument %s = %u is incorrect, should be %u", name, argument,
         static_cast<unsigned>(given), static_cast<unsigned>(count));
  *status = fmi2Warning;
  return given < count ? given : static_cast<size_t>(count);
}

// A host array that the call would read or write but that is missing.
bool missingArray(ModelInstance* instance, const char* name, const char* argument, const void* array, size_t n) {
  if (array || n == 0) return false;
  fmiLog(instance, fmi2Warning, "%s: %s == NULL", name, argument);
  return true;
}

// Evaluates up to `demand` when the values are older; the QiErr, 0 when nothing was needed.
int updateTo(ModelInstance* instance, int demand, const char* name) {
  if (instance->levelReached >= demand) return qiErrSuccess;
  return fmiEvaluateModel(instance, demand, name, nullptr);
}

void copyValues(double* to, const double* from, size_t n) {
  if (n) memcpy(to, from, n * sizeof(double));
}

}  // namespace

int fmiUpdateDerivatives(ModelInstance* instance, const char* name) {
  return updateTo(instance, demandDerivatives, name);
}

int fmiUpdateEventIndicators(ModelInstance* instance, const char* name) {
  if (instance->terminatedByModel) return qiErrSuccess;
  return updateTo(instance, demandCrossings, name);
}

fmi2Status fmiSetContinuousStates(ModelInstance* instance, const fmi2Real x[], size_t nx) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameSetContinuousStates];
  if (missingArray(instance, name, "x", x, nx)) return fmi2Warning;
  fmi2Status status = fmi2OK;
  size_t n = commonLength(instance, name, "nx", nx, instance->nx, &status);
  fmiLog(instance, fmi2OK, "%s", name);
  copyValues(instance->states, x, n);
  instance->valuesChanged = 1;
  instance->levelReached = 0;
  instance->jacobianStale = 1;
  return status;
}

namespace {

// What sets the four array getters apart; everything else they do alike.
struct ArrayGetter {
  FmiFunctionName name;
  FmiModeCall modeCall;  // callCount: accepted in every mode
  const char* argument;  // the host's array, for the missing-array message
  const char* countName;
  uint64_t ModelInstance::*count;
  double* ModelInstance::*values;
  int (*update)(ModelInstance* instance, const char* name);  // null: the stored values are current
};

const ArrayGetter derivativesGetter = {fmiNameGetDerivatives, callGetDerivatives, "derivatives", "nx",
                                       &ModelInstance::nx, &ModelInstance::derivatives, fmiUpdateDerivatives};
const ArrayGetter indicatorsGetter = {fmiNameGetEventIndicators, callGetEventIndicators, "eventIndicators", "ni",
                                      &ModelInstance::ni, &ModelInstance::eventIndicators, fmiUpdateEventIndicators};
const ArrayGetter statesGetter = {fmiNameGetContinuousStates, callGetContinuousStates, "x", "nx",
                                  &ModelInstance::nx, &ModelInstance::states, nullptr};
const ArrayGetter nominalsGetter = {fmiNameGetNominalsOfContinuousStates, callCount, "x_nominal", "nx",
                                    &ModelInstance::nx, &ModelInstance::nominals, nullptr};

// The mode, the array and its length, the evaluation when one is needed (QiErr 1 is fmi2Discard
// with nothing copied, any other failure the error exit), the copy and the log.
fmi2Status getArray(ModelInstance* instance, const ArrayGetter& getter, fmi2Real out[], size_t given) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[getter.name];
  if (getter.modeCall != callCount && !fmiModeAccepts(instance, getter.modeCall, name)) return fmi2Warning;
  if (missingArray(instance, name, getter.argument, out, given)) return fmi2Warning;
  fmi2Status status = fmi2OK;
  size_t n = commonLength(instance, name, getter.countName, given, instance->*getter.count, &status);
  if (getter.update) {
    int qiErr = getter.update(instance, name);
    if (qiErr != qiErrSuccess) return fmiDiscardOrErrorExit(instance, qiErr);
  }
  copyValues(out, instance->*getter.values, n);
  fmiLog(instance, fmi2OK, "%s", name);
  return status;
}

}  // namespace

fmi2Status fmiGetDerivatives(ModelInstance* instance, fmi2Real derivatives[], size_t nx) {
  return getArray(instance, derivativesGetter, derivatives, nx);
}

fmi2Status fmiGetEventIndicators(ModelInstance* instance, fmi2Real eventIndicators[], size_t ni) {
  return getArray(instance, indicatorsGetter, eventIndicators, ni);
}

fmi2Status fmiGetContinuousStates(ModelInstance* instance, fmi2Real x[], size_t nx) {
  return getArray(instance, statesGetter, x, nx);
}

fmi2Status fmiGetNominalsOfContinuousStates(ModelInstance* instance, fmi2Real x_nominal[], size_t nx) {
  return getArray(instance, nominalsGetter, x_nominal, nx);
}

fmi2Status fmiCompletedIntegratorStep(ModelInstance* instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameCompletedIntegratorStep];
  if (missingArray(instance, name, "enterEventMode", enterEventMode, 1) ||
      missingArray(instance, name, "terminateSimulation", terminateSimulation, 1))
    return fmi2Warning;
  if (instance->resultGeneration) {
    resultSample(instance, 0);
    if (noSetFMUStatePriorToCurrentPoint) resultBufferFlush(instance);
  }
  *terminateSimulation = instance->terminatedByModel ? fmi2True : fmi2False;
  *enterEventMode = instance->solverInts[solverIntStepEvent] != 0 ? fmi2True : fmi2False;
  fmiLog(instance, fmi2OK, "%s", name);
  return fmi2OK;
}

fmi2Status fmiEnterEventMode(ModelInstance* instance) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameEnterEventMode];
  fmiLog(instance, fmi2OK, "%s...", name);
  if (!fmiModeAccepts(instance, callEnterEventMode, name)) return fmi2Warning;
  instance->mode = modeEvent;
  instance->eventStart = 1;
  fmiLog(instance, fmi2OK, "%s done", name);
  return fmi2OK;
}

fmi2Status fmiNewDiscreteStates(ModelInstance* instance, fmi2EventInfo* eventInfo) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameNewDiscreteStates];
  fmiLog(instance, fmi2OK, "%s...", name);
  if (missingArray(instance, name, "eventInfo", eventInfo, 1)) return fmi2Warning;
  if (instance->resultGeneration && instance->fmuType == fmi2ModelExchange) resultSample(instance, 1);
  size_t nx = static_cast<size_t>(instance->nx);
  copyValues(instance->previousStates, instance->states, nx);
  if (!fmiModeAccepts(instance, callNewDiscreteStates, name)) return fmi2Warning;

  // Changed states or inputs reach the model in a plain pass first, unless this call starts the
  // event's iteration, whose first pass takes them in anyway.
  int qiErr = qiErrSuccess;
  int converged = 0;
  if (instance->valuesChanged && !instance->eventStart) {
    setEventPhase(instance->modelData, eventPhasePlainPass);
    qiErr = fmiEvaluateModel(instance, demandEvent, nullptr, &converged);
  }
  if (qiErr == qiErrSuccess) {
    setEventPhase(instance->modelData, eventPhaseContinueExternal);
    instance->levelReached = 0;
    qiErr = fmiEvaluateModel(instance, demandEvent, nullptr, &converged);
  }

  eventInfo->valuesOfContinuousStatesChanged = fmi2False;
  for (size_t i = 0; i < nx; ++i)
    if (!(instance->states[i] == instance->previousStates[i])) eventInfo->valuesOfContinuousStatesChanged = fmi2True;

  if (qiErr == qiErrTerminate) {
    fmiLog(instance, fmi2OK, "%s: simulation terminated by model", name);
    eventInfo->newDiscreteStatesNeeded = fmi2False;
    eventInfo->terminateSimulation = fmi2True;
    eventInfo->nominalsOfContinuousStatesChanged = fmi2False;
    eventInfo->nextEventTimeDefined = fmi2False;
    eventInfo->nextEventTime = noTimeEvent;
    instance->mode = modeEventDone;
    instance->terminatedByModel = 1;
    return fmi2OK;
  }
  if (qiErr != qiErrSuccess) {
    fmiLog(instance, fmi2Error, "%s: dsblock_ failed, QiErr = %d", name, qiErr);
    return fmiErrorExit(instance);
  }

  // A model listing Booleans to set again after each step would set them here.
  static_assert(modelBooleanReapplyCount == 0, "the Boolean re-apply list is not built");
  int needed = converged ? 0 : 1;
  eventInfo->newDiscreteStatesNeeded = needed ? fmi2True : fmi2False;
  instance->mode = needed ? modeEventIterating : modeEventDone;
  instance->newDiscreteStatesNeeded = needed;
  eventInfo->terminateSimulation = fmi2False;
  eventInfo->nominalsOfContinuousStatesChanged = fmi2False;
  double next = instance->solverReals[solverRealNextTimeEvent];
  if (next < noTimeEvent) {
    eventInfo->nextEventTimeDefined = fmi2True;
    eventInfo->nextEventTime = next;
  } else {
    eventInfo->nextEventTimeDefined = fmi2False;
  }
  instance->jacobianStale = 1;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiEnterContinuousTimeMode(ModelInstance* instance) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameEnterContinuousTimeMode];
  fmiLog(instance, fmi2OK, "%s...", name);
  if (!fmiModeAccepts(instance, callEnterContinuousTimeMode, name)) return fmi2Warning;
  if (instance->resultGeneration) resultSample(instance, 1);
  instance->mode = modeContinuousTime;
  fmiLog(instance, fmi2OK, "%s done", name);
  return fmi2OK;
}
