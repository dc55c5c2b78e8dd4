#include "resources.h"

#include <cstring>

#include "platform.h"

const char* resourcesPath = nullptr;
int32_t resourcesPathPending = 1;

namespace {

const char unitFileName[] = "Quenzel.so";
const char fallbackFolder[] = "TrelvixResources/";
const char resourcesFolder[] = "resources/";

char resourcesPathBuffer[resourcesPathCapacity];

}  // namespace

int ResourcesFolderOf(const char* modulePath, char* folder, size_t size) {
  if (!folder || size == 0) return -1;
  folder[0] = '\0';
  if (!modulePath) return -1;
  const size_t length = strlen(modulePath);
  // Find the three last separators: the file name and one folder level go at the first two, the
  // second level goes at the third, which stays.
  size_t end = length;
  for (int cut = 0; cut < 3; ++cut) {
    size_t i = end;
    while (i > 0 && modulePath[i - 1] != '/') --i;
    if (i == 0) return -1;
    end = i - 1;
  }
  const size_t keep = end + 1;
  if (keep + sizeof resourcesFolder > size) return -1;
  memcpy(folder, modulePath, keep);
  memcpy(folder + keep, resourcesFolder, sizeof resourcesFolder);
  return 0;
}

extern "C" const char* FmuResourcesPath(void) {
  if (resourcesPathPending == 1 && !resourcesPath) {
    char module[resourcesPathCapacity];
    if (PlatformModulePath(module, sizeof module) >= 0) {
      const char* slash = strrchr(module, '/');
      const bool inUnit = slash && strcmp(slash + 1, unitFileName) == 0;
      if (inUnit && ResourcesFolderOf(module, resourcesPathBuffer, sizeof resourcesPathBuffer) == 0)
        resourcesPath = resourcesPathBuffer;
    }
    resourcesPathPending = 0;
  }
  return resourcesPath ? resourcesPath : fallbackFolder;
}
