// The fmi2 functions Quenzel.so exports so far. Each newly built operation adds its function here.
#pragma once

#define QUENZEL_BUILT_FUNCTIONS                                                                            \
  "fmi2GetTypesPlatform", "fmi2GetVersion", "fmi2SetDebugLogging", "fmi2Instantiate", "fmi2FreeInstance", \
      "fmi2SetupExperiment", "fmi2EnterInitializationMode", "fmi2ExitInitializationMode", "fmi2Terminate", \
      "fmi2GetReal", "fmi2GetInteger", "fmi2GetBoolean", "fmi2GetString", "fmi2SetReal", "fmi2SetInteger",  \
      "fmi2SetBoolean", "fmi2SetString", "fmi2GetFMUstate", "fmi2SetFMUstate", "fmi2FreeFMUstate",            \
      "fmi2SerializedFMUstateSize", "fmi2SerializeFMUstate", "fmi2DeSerializeFMUstate",                  \
      "fmi2GetDirectionalDerivative"
