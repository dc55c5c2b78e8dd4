// Which call is accepted in which InstanceMode: the one place that decides it. The bodies of
// the calls set the mode they lead to; the refusals and the modes a call first moves into
// before doing its work are decided here.
#pragma once

#include "instance.h"

// The calls whose acceptance depends on the mode. Calls missing here (fmi2SetupExperiment,
// fmi2SetDebugLogging, the setters, fmi2SetContinuousStates, the FMU-state and status functions
// and others) are accepted in every mode.
enum FmiModeCall {
  callEnterInitializationMode,
  callExitInitializationMode,
  callEnterEventMode,
  callNewDiscreteStates,
  callEnterContinuousTimeMode,
  callSetTime,
  callDoStep,
  callTerminate,
  callGetValues,  // the numeric getters and fmi2GetString
  callGetDerivatives,
  callGetContinuousStates,
  callGetEventIndicators,
  callInputOutputDerivatives,  // fmi2SetRealInputDerivatives, fmi2GetRealOutputDerivatives
  callCount
};

// Whether `call` may run in the instance's current mode. When it may, the mode the call starts
// from is entered first (fmi2NewDiscreteStates moves mode 2, modeEventDone, and modeContinuousTime
// of a Co-Simulation instance or one without states, into modeEvent; fmi2SetTime moves
// modeEventDone of an instance without states into modeContinuousTime). When it may not, the
// refusal is logged as fmi2Warning under `name` (the function's entry of fmiFunctionNames, or
// the member's prefix such as "fmiGetReal") and nothing changes.
bool fmiModeAccepts(ModelInstance* instance, FmiModeCall call, const char* name);
