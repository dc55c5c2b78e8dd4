#include "messages.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bridge.h"

ModelInstance* currentInstance = nullptr;

namespace {

bool filtered(const ModelInstance* instance, fmi2Status status) {
  return !instance || (!instance->loggingOn && status < fmi2Warning);
}

// Characters pending. A pendingEnd that does not point into the instance's own buffer (a fresh
// zero-filled record) counts as nothing pending.
size_t pendingLength(const ModelInstance* instance) {
  uintptr_t start = reinterpret_cast<uintptr_t>(instance->pendingText);
  uintptr_t end = reinterpret_cast<uintptr_t>(instance->pendingEnd);
  if (end < start || end - start >= static_cast<uintptr_t>(pendingTextLimit)) return 0;
  return end - start;
}

// Hands the composed text to the logger with every '%' doubled, so that the logger's printf
// formatting reproduces it instead of reading arguments that were never passed.
void deliver(const ModelInstance* instance, const char* name, fmi2Status status, const char* category,
             const char* text) {
  const fmi2CallbackFunctions* functions = instance->functions;
  if (!functions || !functions->logger) return;
  char escaped[2 * messageLimit + 1];
  size_t out = 0;
  for (const char* c = text; *c; ++c) {
    if (*c == '%') escaped[out++] = '%';
    escaped[out++] = *c;
  }
  escaped[out] = '\0';
  functions->logger(functions->componentEnvironment, name, status, category, escaped);
}

}  // namespace

void fmiClearPendingText(ModelInstance* instance) {
  instance->pendingEnd = instance->pendingText;
  instance->pendingText[0] = '\0';
}

static void printMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                         const char* format, va_list args) {
  if (filtered(instance, status)) return;
  char composed[messageLimit + 2];
  size_t pending = pendingLength(instance);
  memcpy(composed, instance->pendingText, pending);
  composed[pending] = '\0';
  int written = vsnprintf(composed + pending, messageLimit + 1 - pending, format, args);
  if (written < 0) composed[pending] = '\0';
  deliver(instance, name, status, category, composed);
  fmiClearPendingText(instance);
}

void fmiPrintMessage(ModelInstance* instance, const char* name, fmi2Status status, const char* category,
                     const char* format, ...) {
  va_list args;
  va_start(args, format);
  printMessage(instance, name, status, category, format, args);
  va_end(args);
}

void fmiLog(ModelInstance* instance, fmi2Status status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printMessage(instance, instance ? instance->instanceName : nullptr, status, "", format, args);
  va_end(args);
}

void fmiAppendMessage(ModelInstance* instance, const char*, fmi2Status status, const char*,
                      const char* format, ...) {
  if (filtered(instance, status)) return;
  size_t pending = pendingLength(instance);
  int room = pendingTextLimit - static_cast<int>(pending);
  if (room <= 0) {
    fmiClearPendingText(instance);
    return;
  }
  char* end = instance->pendingText + pending;
  va_list args;
  va_start(args, format);
  int length = vsnprintf(end, static_cast<size_t>(room), format, args);
  va_end(args);
  if (length <= 0 || length >= room) {
    fmiClearPendingText(instance);
    return;
  }
  instance->pendingEnd = end + length;
}

void fmiRuntimeMessage(const char* text, int flush, int level) {
  ModelInstance* target = singleInstance ? singleInstance : currentInstance;
  if (!target || !text) return;
  fmi2Status status = level == 0 ? fmi2OK : level == 1 ? fmi2Warning : fmi2Error;
  char doubled[runtimeTextLimit + 1];
  int out = 0;
  for (const char* c = text; *c && out < runtimeTextLimit; ++c) {
    doubled[out++] = *c;
    if (*c == '#' && out < runtimeTextLimit) doubled[out++] = '#';
  }
  doubled[out] = '\0';
  if (flush)
    fmiPrintMessage(target, target->instanceName, status, "", "%s", doubled);
  else
    fmiAppendMessage(target, target->instanceName, status, "", "%s", doubled);
}

bool fmiFiniteArgument(ModelInstance* instance, const char* name, const char* argument, double value) {
  if (std::isfinite(value)) return true;
  fmiLog(instance, fmi2Warning, "%s: %s = %g is not a finite number", name, argument, value);
  return false;
}

void fmiInstallRuntimeBridge(void) { SetRuntimeMessageBridge(fmiRuntimeMessage); }

char* fmiStrdup(const fmi2CallbackFunctions* functions, const char* text) {
  if (!functions || !functions->allocateMemory) return nullptr;
  const char* source = text ? text : "<NULL>";
  size_t length = strnlen(source, strdupLimit);
  char* copy = static_cast<char*>(functions->allocateMemory(length + 1, 1));
  if (!copy) return nullptr;
  memcpy(copy, source, length);
  copy[length] = '\0';
  return copy;
}
