#include "modelexchange.h"

#include "evaluate.h"
#include "initialize.h"
#include "messages.h"
#include "modes.h"

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
  instance->eventStart = 1;
  if (status != fmi2OK) return status;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiSetTime(ModelInstance* instance, double time) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameSetTime];
  if (!fmiModeAccepts(instance, callSetTime, name)) return fmi2Warning;
  instance->time = time;
  instance->levelReached = 0;
  instance->jacobianStale = 1;
  fmiLog(instance, fmi2OK, "%s to %g", name, time);
  return fmi2OK;
}

fmi2Status fmiTerminateME(ModelInstance* instance) {
  const char* name = fmiFunctionNames[fmiNameTerminateME];
  if (!fmiModeAccepts(instance, callTerminate, name)) return fmi2Warning;
  fmiLog(instance, fmi2OK, "%s", name);
  fmi2Status status = fmiTerminalSection(instance, name);
  fmiProfilingReport(instance);
  instance->mode = modeTerminated;
  return status;
}
