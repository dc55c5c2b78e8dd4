#include "cosimulation.h"

#include "evaluate.h"
#include "initialize.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modelexchange.h"
#include "modes.h"
#include "results.h"

fmi2Status fmiEnterInitializationModeCS(ModelInstance* instance, double tolerance, double startTime,
                                        int32_t stopTimeDefined, double stopTime) {
  const char* name = fmiFunctionNames[fmiNameEnterInitializationModeCS];
  fmiLog(instance, fmi2OK, "%s...", name);
  fmi2Status status = fmiInitializeCS(instance, tolerance, startTime, stopTimeDefined, stopTime);
  if (status != fmi2OK) return status;
  instance->mode = modeInitialization;
  instance->inlineStepCounter = 0;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiInitializeCS(ModelInstance* instance, double tolerance, double startTime, int32_t stopTimeDefined,
                           double stopTime) {
  // Refused before the time is set: a misplaced call must not move a running instance's time.
  if (!fmiModeAccepts(instance, callEnterInitializationMode, fmiFunctionNames[fmiNameEnterInitializationModeCS]))
    return fmi2Warning;
  fmiSetTime(instance, startTime);
  fmi2Status status = fmiInitialize(instance);
  if (status != fmi2OK) return status;
  instance->valuesChanged = 0;
  instance->stopTime = stopTime;
  instance->stopTimeDefined = stopTimeDefined;
  if (instance->solverInts[solverIntInlineIntegration] != 0) return fmi2OK;
  // The tolerance is used whether or not the host declared it defined.
  if (integratorSetup(instance, tolerance, setupAtInitialisation) != 0) {
    // The cause is reported already (an allocation that failed, the host's or SUNDIALS', at
    // fmi2Fatal; any other refusal of SUNDIALS at fmi2Error); the host learns why the answer is
    // fmi2Fatal.
    fmiLog(instance, fmi2Fatal, "%s: the integrator could not be set up",
           fmiFunctionNames[fmiNameEnterInitializationModeCS]);
    return fmi2Fatal;
  }
  return fmi2OK;
}

fmi2Status fmiExitInitializationModeCS(ModelInstance* instance) {
  const char* name = fmiFunctionNames[fmiNameExitInitializationModeCS];
  fmiLog(instance, fmi2OK, "%s...", name);
  fmi2Status status = fmiExitInitialization(instance, name, modeContinuousTime);
  if (status != fmi2OK) return status;
  // Parameters and start values set during Initialization Mode have moved the states and
  // possibly the time since the set-up: the first step integrates from what the
  // initialisation produced.
  if (instance->solverInts[solverIntInlineIntegration] == 0) {
    if (integratorReInit(instance)) return fmiErrorExit(instance);
    integratorRecordOutputs(instance);
  }
  fmiLog(instance, fmi2OK, "%s completed", name);
  return fmi2OK;
}

fmi2Status fmiTerminateCS(ModelInstance* instance) {
  const char* name = fmiFunctionNames[fmiNameTerminateCS];
  fmiLog(instance, fmi2OK, "%s...", name);
  if (!fmiModeAccepts(instance, callTerminate, name)) return fmi2Warning;
  fmi2Status status = fmiTerminalSection(instance, name);
  if (instance->solverInts[solverIntInlineIntegration] == 0) integratorStatistics(instance);
  fmiProfilingReport(instance);
  resultFinish(instance);
  if (instance->modelData)
    resetModelData(instance->modelData);
  else
    resetTemplateModelData();
  instance->mode = modeTerminated;
  fmiLog(instance, fmi2OK, "%s completed", name);
  return status;
}
