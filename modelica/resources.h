// The unit's resources folder as the built-in resources function hands it to generated code.
#pragma once

#include <cstddef>
#include <cstdint>

// Process-wide: the folder text, null until it is computed or preset by the model.
extern const char* resourcesPath;
// 1 until the first attempt to compute the folder, successful or not.
extern int32_t resourcesPathPending;

enum { resourcesPathCapacity = 1000 };

// The resources folder of a unit at modulePath (an absolute path of .../binaries/<platform>/<file>):
// the file name and two folder levels go, "resources/" comes instead, for example
// /fmu/binaries/linux64/Quenzel.so gives /fmu/resources/. Returns 0, or -1 (folder emptied) when the
// path lacks one of the three separators or the result does not fit size bytes.
int ResourcesFolderOf(const char* modulePath, char* folder, size_t size);

extern "C" {
// The folder of the loaded unit, ending in "/", computed once; "TrelvixResources/" when the code
// does not run from the unit's library file or its folder cannot be made.
const char* FmuResourcesPath(void);
}
