// The unit's own path and its resources folder.
#include <cstring>

#include "model.h"
#include "platform.h"
#include "resources.h"

namespace {
char libraryPath[1000];
}

char* modulePath(void) {
  libraryPath[0] = '\0';
  if (PlatformModulePath(libraryPath, sizeof libraryPath) < 0) return libraryPath;
  // The unit is found under its own file name: code that runs from any other object (a program
  // that links the model statically) has no unit path.
  const char* slash = strrchr(libraryPath, '/');
  const char* name = slash ? slash + 1 : libraryPath;
  if (strcmp(name, modelLibraryFileName) != 0) libraryPath[0] = '\0';
  return libraryPath;
}

void setResourcesDirectory(const char* folder) { resourcesPath = folder; }
