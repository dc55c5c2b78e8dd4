// The unit's serialiser hooks: messages to the calling instance's logger, blocks kept on the
// call's list, and fatal conditions that end the call instead of the process.
#include "serialiser_call.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "messages.h"
#include "tpl.h"

namespace {

SerialiserCall* currentCall() {
  TrackedCall* call = trackedCurrentCall(trackedSerialiser);
  return call ? static_cast<SerialiserCall*>(call->data) : nullptr;
}

void* serialiserMalloc(size_t size) { return trackedAllocate(trackedSerialiser, size); }

void* serialiserRealloc(void* bytes, size_t size) { return trackedReallocate(trackedSerialiser, bytes, size); }

void serialiserFree(void* bytes) { trackedRelease(bytes); }

// One line on the calling instance's logger. Its line end is the stream's, not the text's.
void logLine(SerialiserCall* call, fmi2Status status, char* text) {
  size_t length = strlen(text);
  if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
  fmiLog(call->instance, status, "%s", text);
}

// The serialiser's messages, at fmi2Warning: they come with a refusal the caller reports. Outside
// a call a message has no instance to go to and is dropped.
int serialiserReport(const char* format, ...) {
  SerialiserCall* call = currentCall();
  if (!call) return 0;
  char text[messageLimit + 1];
  va_list args;
  va_start(args, format);
  int written = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (written < 0) return 0;
  logLine(call, fmi2Warning, text);
  return 0;
}

// Reports the first 99 characters, as the serialiser's own fatal hook does, gives back every
// block of the call and jumps back into it. A fatal condition always ends the call in its
// fmi2Error refusal, so its text (the cause: "out of memory", an internal error) goes at that
// status. The unit runs the serialiser inside calls only; without one there is nothing to
// return to, and the default ends the process.
void serialiserFatal(const char* format, ...) {
  char text[100];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  SerialiserCall* call = currentCall();
  if (!call) tpl_default_fatal("%s", text);
  logLine(call, fmi2Error, text);
  trackedCallFail(&call->tracked);
}

void installHooks() {
  // Once per load of the unit, whichever thread comes first.
  static const bool installed = [] {
    tpl_hooks.report = serialiserReport;
    tpl_hooks.malloc = serialiserMalloc;
    tpl_hooks.realloc = serialiserRealloc;
    tpl_hooks.free = serialiserFree;
    tpl_hooks.fatal = serialiserFatal;
    return true;
  }();
  (void)installed;
}

}  // namespace

void fmiSerialiserEnter(SerialiserCall* call, ModelInstance* instance) {
  installHooks();
  call->instance = instance;
  trackedListInit(&call->blocks);
  trackedCallEnter(&call->tracked, trackedSerialiser, &call->blocks, call);
}

void fmiSerialiserLeave(SerialiserCall* call) {
  trackedListDetach(&call->blocks);
  trackedCallLeave(&call->tracked);
}
