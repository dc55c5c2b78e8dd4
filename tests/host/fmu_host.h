// A test host: loads Quenzel.so with dlopen, resolves the fmi2 functions by name and supplies
// callbacks that record every message and count every allocation.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "fmi2.h"

// One message as the host's logger received it, formatted with vsnprintf as real hosts do.
struct LogRecord {
  fmi2Status status;
  std::string category;
  std::string instance;
  std::string text;
};

// The host's allocator: counts calls and live bytes, and can be told to fail the N-th call.
struct HostAllocator {
  long allocations = 0;  // successful allocateMemory calls
  long frees = 0;        // freeMemory calls with a non-null pointer
  long liveBlocks = 0;
  long long liveBytes = 0;
  long failAt = 0;  // 1-based call number that returns null; 0 never
  long calls = 0;   // allocateMemory calls, failed ones included
  bool poison = true;  // fill new blocks with 0xAB instead of zeros: the unit must zero them itself
  // (nobj, size) of every allocateMemory call, failed ones included, in order.
  std::vector<std::pair<size_t, size_t>> requests;
};

// Process-wide: the FMI allocation callbacks carry no environment pointer.
HostAllocator& hostAllocator();
void resetHostAllocator();

// The callbacks and the record of what came through them. The callbacks record passed to the
// unit lives inside this object, so it must outlive every instance made with it.
class HostCallbacks {
 public:
  HostCallbacks();
  const fmi2CallbackFunctions* functions() const { return &functions_; }
  // Same record but with a stepFinished callback.
  const fmi2CallbackFunctions* functionsWithStepFinished() const { return &withStepFinished_; }

  std::vector<LogRecord> log;
  int stepFinishedCalls = 0;

  void clear() { log.clear(); }
  // Formats a message the unit gives the logger and keeps it.
  void record(fmi2String instanceName, fmi2Status status, fmi2String category, fmi2String message, va_list args);
  // Texts only, in order.
  std::vector<std::string> texts() const;
  // Whether some message holds `part`.
  bool contains(const std::string& part) const;

 private:
  fmi2CallbackFunctions functions_;
  fmi2CallbackFunctions withStepFinished_;
};

// The loaded unit. Every function pointer is null when the library does not export it.
class FmuLibrary {
 public:
  explicit FmuLibrary(const char* path = QUENZEL_SO_PATH);
  ~FmuLibrary();
  FmuLibrary(const FmuLibrary&) = delete;
  FmuLibrary& operator=(const FmuLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  void* handle() const { return handle_; }

#define FMU_HOST_MEMBER(name, ret, params) name##TYPE name = nullptr;
  FMI2_FUNCTIONS(FMU_HOST_MEMBER)
#undef FMU_HOST_MEMBER

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// Names of every fmi2 function, in the order of the interface.
const std::vector<std::string>& allFmi2FunctionNames();

// The fmi2 functions the unit exports so far; extended as each operation is built.
const std::vector<std::string>& builtFmi2FunctionNames();

// Dynamic symbols that a shared library defines (names only), read from its ELF symbol table.
std::vector<std::string> definedDynamicSymbols(const char* path);
// Every function and object a shared library defines, local ones included, read from its full
// symbol table; C++ names demangled and cut before their parameter list.
std::vector<std::string> definedFunctionNames(const char* path);
// The libraries its dynamic section names as NEEDED.
std::vector<std::string> neededLibraries(const char* path);
