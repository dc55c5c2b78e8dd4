#include "fmi2_api.h"

#include <dlfcn.h>

void resolveFmi2Api(void* library, Fmi2Api* api) {
#define FMI2_API_RESOLVE(name, ret, params) api->name = reinterpret_cast<name##TYPE>(dlsym(library, #name));
  FMI2_FUNCTIONS(FMI2_API_RESOLVE)
#undef FMI2_API_RESOLVE
}

bool openFmi2Library(const std::string& path, Fmi2Library* library, std::string* error) {
  *library = Fmi2Library{};
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    *error = reason ? reason : path + ": cannot be loaded";
    return false;
  }
  library->handle = handle;
  resolveFmi2Api(handle, &library->api);
  return true;
}

void closeFmi2Library(Fmi2Library* library) {
  if (library->handle) dlclose(library->handle);
  *library = Fmi2Library{};
}
