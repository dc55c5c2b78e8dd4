#include "platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

int PlatformModulePath(char* buffer, size_t size) {
  if (!buffer || size == 0) return -1;
  buffer[0] = '\0';
  Dl_info info;
  // The address of this very function lies inside the shared object that holds it.
  if (dladdr(reinterpret_cast<void*>(&PlatformModulePath), &info) == 0 || !info.dli_fname) return -1;
  char resolved[PATH_MAX];
  // dli_fname is the name given to dlopen, which may be relative.
  const char* path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  size_t length = strlen(path);
  if (length + 1 > size) return -1;
  memcpy(buffer, path, length + 1);
  return static_cast<int>(length);
}

void* PlatformLibraryOpen(const char* path) {
  if (!path) return nullptr;
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* PlatformLibrarySymbol(void* library, const char* name) {
  if (!library || !name) return nullptr;
  return dlsym(library, name);
}

int PlatformLibraryClose(void* library) {
  if (!library) return -1;
  return dlclose(library) == 0 ? 0 : -1;
}

const char* PlatformLibraryError(void) {
  const char* text = dlerror();
  return text ? text : "";
}
