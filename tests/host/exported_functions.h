// The fmi2 functions Quenzel.so exports so far. Each newly built operation adds its function here.
#pragma once

#define QUENZEL_BUILT_FUNCTIONS                                                                            \
  "fmi2GetTypesPlatform", "fmi2GetVersion", "fmi2SetDebugLogging", "fmi2Instantiate", "fmi2FreeInstance", \
      "fmi2SetupExperiment", "fmi2EnterInitializationMode", "fmi2ExitInitializationMode", "fmi2Terminate", \
      "fmi2Reset",                                                                                         \
      "fmi2GetReal", "fmi2GetInteger", "fmi2GetBoolean", "fmi2GetString", "fmi2SetReal", "fmi2SetInteger",  \
      "fmi2SetBoolean", "fmi2SetString", "fmi2EnterEventMode", "fmi2NewDiscreteStates",              \
      "fmi2EnterContinuousTimeMode", "fmi2CompletedIntegratorStep", "fmi2SetTime", "fmi2SetContinuousStates", \
      "fmi2GetDerivatives", "fmi2GetEventIndicators", "fmi2GetContinuousStates",                           \
      "fmi2GetNominalsOfContinuousStates", "fmi2SetRealInputDerivatives", "fmi2GetRealOutputDerivatives",  \
      "fmi2DoStep", "fmi2CancelStep", "fmi2GetStatus", "fmi2GetRealStatus", "fmi2GetIntegerStatus",          \
      "fmi2GetBooleanStatus", "fmi2GetStringStatus", "fmi2GetFMUstate", "fmi2SetFMUstate",                   \
      "fmi2FreeFMUstate", "fmi2SerializedFMUstateSize", "fmi2SerializeFMUstate", "fmi2DeSerializeFMUstate",  \
      "fmi2GetDirectionalDerivative"
