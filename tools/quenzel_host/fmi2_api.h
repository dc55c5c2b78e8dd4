// The fmi2 functions of a loaded FMU binary, resolved by name.
#pragma once

#include <string>

#include "fmi2.h"

// A function the binary does not export stays null.
struct Fmi2Api {
#define FMI2_API_MEMBER(name, ret, params) name##TYPE name;
  FMI2_FUNCTIONS(FMI2_API_MEMBER)
#undef FMI2_API_MEMBER
};

// Fills *api from a library handle of dlopen.
void resolveFmi2Api(void* library, Fmi2Api* api);

// A loaded FMU binary; close releases it.
struct Fmi2Library {
  void* handle = nullptr;
  Fmi2Api api{};
};

bool openFmi2Library(const std::string& path, Fmi2Library* library, std::string* error);
void closeFmi2Library(Fmi2Library* library);
