// The fmi2 functions Quenzel.so exports so far. Each newly built operation adds its function here.
#pragma once

#define QUENZEL_BUILT_FUNCTIONS \
  "fmi2GetTypesPlatform", "fmi2GetVersion", "fmi2SetDebugLogging"
