// The unit's exported functions: each forwards to the operation that implements it.
#include "fmi2.h"
#include "instance.h"

extern "C" {

FMI2_EXPORT const char* fmi2GetTypesPlatform(void) { return fmiGetTypesPlatform(); }
FMI2_EXPORT const char* fmi2GetVersion(void) { return fmiGetVersion(); }
FMI2_EXPORT fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                                           const fmi2String categories[]) {
  return fmiSetDebugLogging(static_cast<ModelInstance*>(c), loggingOn, nCategories, categories);
}

}  // extern "C"
