#include "initialize.h"

#include "cosimulation.h"
#include "evaluate.h"
#include "messages.h"
#include "model.h"
#include "modelexchange.h"
#include "modes.h"
#include "results.h"

fmi2Status fmiInitialize(ModelInstance* instance) {
  // Refused before anything changes: a misplaced call must not clear what the model reported.
  if (!fmiModeAccepts(instance, callEnterInitializationMode, fmiFunctionNames[fmiNameEnterInitializationModeME]))
    return fmi2Warning;
  instance->terminatedByModel = 0;
  setExperimentDefaults(instance->solverReals, instance->solverInts);
  setInlineIntegration(instance->modelData, instance->fmuType == fmi2CoSimulation &&
                                                instance->solverInts[solverIntInlineIntegration] != 0);
  instance->levelReached = -1;
  // In modeInstantiated the phase set here stays in force and the demand stays initialisation.
  setEventPhase(instance->modelData, eventPhaseStartExternal);
  int qiErr = fmiEvaluateModel(instance, demandInitialize, nullptr, nullptr);
  if (qiErr == qiErrSuccess) {
    if (instance->resultGeneration) resultSetup(instance);
    return fmi2OK;
  }
  fmiLog(instance, fmi2Error, "fmiInitialize: dsblock_ failed, QiErr = %d", qiErr);
  fmiLog(instance, fmi2Error,
         "Unless otherwise indicated by error messages, possible errors are (non-exhaustive):\n"
         "The model references external data that is not present on the target machine, at least not with the "
         "same location.\n");
  return fmiErrorExit(instance);
}

fmi2Status fmiExitInitialization(ModelInstance* instance, const char* name, int32_t newMode) {
  if (!fmiModeAccepts(instance, callExitInitializationMode, name)) return fmi2Warning;
  setEventPhase(instance->modelData, eventPhaseContinueConverge);
  if (fmiEvaluateModel(instance, demandInitialize, nullptr, nullptr) != qiErrSuccess) return fmiErrorExit(instance);
  setEventPhase(instance->modelData, eventPhaseConverge);
  instance->mode = newMode;
  return fmi2OK;
}

fmi2Status fmiEnterInitializationMode(ModelInstance* instance) {
  if (!instance) return fmi2Warning;
  if (instance->fmuType == fmi2CoSimulation)
    return fmiEnterInitializationModeCS(instance, instance->tolerance, instance->startTime,
                                        instance->stopTimeDefined, instance->stopTime);
  return fmiEnterInitializationModeME(instance);
}

fmi2Status fmiExitInitializationMode(ModelInstance* instance) {
  if (!instance) return fmi2Warning;
  if (instance->fmuType == fmi2CoSimulation) return fmiExitInitializationModeCS(instance);
  return fmiExitInitializationModeME(instance);
}

fmi2Status fmiTerminate(ModelInstance* instance) {
  if (!instance) return fmi2Warning;
  if (instance->fmuType == fmi2CoSimulation) return fmiTerminateCS(instance);
  return fmiTerminateME(instance);
}
