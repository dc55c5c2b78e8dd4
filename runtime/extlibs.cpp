#include "extlibs.h"

#include <stdlib.h>
#include <string.h>

#include "platform.h"

namespace {
// The longest path the system opens (Linux PATH_MAX, terminator included).
const size_t kMaxLibraryPath = 4096;

int IsUnitRelative(const char* entry) {
  return entry[0] == '.' && (entry[1] == '/' || entry[1] == '\\');
}

// The path to open for a unit-relative entry: the folder of ownPath (with its trailing
// separator) followed by the entry without its "./". Returns 0 when it does not fit.
int UnitRelativePath(char* path, const char* entry, const char* ownPath) {
  size_t folder = 0;
  if (ownPath) {
    for (size_t i = 0; ownPath[i]; ++i) {
      if (ownPath[i] == '/' || ownPath[i] == '\\') folder = i + 1;
    }
  }
  const char* prefix = folder ? ownPath : "./";
  if (!folder) folder = 2;
  const char* rest = entry + 2;
  size_t restLength = strlen(rest);
  if (folder + restLength + 1 > kMaxLibraryPath) return 0;
  memcpy(path, prefix, folder);
  memcpy(path + folder, rest, restLength + 1);
  return 1;
}
}  // namespace

const char** LoadExternalLibraries(const char** list, void*** handles, int load,
                                   const char* ownPath) {
  if (!list || !handles) return list;
  if (load == 1 && list[0]) {
    if (!*handles) {
      size_t count = 0;
      while (list[count]) ++count;
      *handles = static_cast<void**>(calloc(count, sizeof(void*)));
      if (!*handles) return list;
    }
  } else if (!*handles) {
    return list;
  }

  void** table = *handles;
  for (size_t i = 0; list[i]; ++i) {
    if (load != 1) {
      if (table[i]) PlatformLibraryClose(table[i]);
      table[i] = nullptr;
      continue;
    }
    if (table[i]) continue;
    const char* entry = list[i];
    char path[kMaxLibraryPath];
    if (IsUnitRelative(entry)) {
      if (!UnitRelativePath(path, entry, ownPath)) continue;
      entry = path;
    }
    table[i] = PlatformLibraryOpen(entry);
  }
  return list;
}
