// The unit's exported functions: each forwards to the operation that implements it.
#include "fmi2.h"

extern "C" {

FMI2_EXPORT const char* fmi2GetTypesPlatform(void) { return "default"; }
FMI2_EXPORT const char* fmi2GetVersion(void) { return "2.0"; }

}  // extern "C"
