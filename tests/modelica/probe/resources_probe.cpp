// A stand-in for the unit's library file: built as Quenzel.so, it hands out the resources folder
// that the library code computes from the file it was loaded from.
#include "resources.h"

extern "C" __attribute__((visibility("default"))) const char* ProbeResourcesPath(void) {
  return FmuResourcesPath();
}
