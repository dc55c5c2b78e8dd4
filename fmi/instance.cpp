#include "instance.h"

ModelInstance* singleInstance = nullptr;

const char* const fmiFunctionNames[fmiNameCount] = {
    "fmi2EnterInitializationMode",
    "fmi2GetString",
    "fmi2SetString",
    "fmi2GetFMUstate",
    "fmi2SetFMUstate",
    "fmi2FreeFMUstate",
    "fmi2GetDirectionalDerivative",
    "fmi2SetupExperiment",
    "fmi2Instantiate",
    "fmi2SetTime",
    "fmi2SetContinuousStates",
    "fmi2EnterInitializationMode",
    "fmi2ExitInitializationMode",
    "fmi2EnterEventMode",
    "fmi2EnterContinuousTimeMode",
    "fmi2NewDiscreteStates",
    "fmi2CompletedIntegratorStep",
    "fmi2Terminate",
    "fmi2GetDerivatives",
    "fmi2GetEventIndicators",
    "fmi2GetContinuousStates",
    "fmi2GetNominalsOfContinuousStates",
    "fmi2SetClock",
    "fmi2GetClock",
    "fmi2SetInterval",
    "fmi2GetInterval",
    "fmi2Instantiate",
    "fmi2EnterInitializationMode",
    "fmiExitInitializationMode",
    "fmi2Terminate",
    "fmi2Reset",
    "fmi2SetRealInputDerivatives",
    "fmi2GetRealOutputDerivatives",
    "fmi2DoStep",
    "fmi2HybridDoStep",
    "fmi2CancelStep",
    "fmi2GetStatus",
    "fmi2GetRealStatus",
    "fmi2GetIntegerStatus",
    "fmi2GetBooleanStatus",
    "fmi2GetStringStatus",
};

const char* fmiGetTypesPlatform(void) { return "default"; }

const char* fmiGetVersion(void) { return "2.0"; }

fmi2Status fmiSetDebugLogging(ModelInstance* instance, fmi2Boolean loggingOn, size_t, const fmi2String[]) {
  if (instance) instance->loggingOn = loggingOn;
  return fmi2OK;
}
