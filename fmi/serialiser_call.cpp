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

// One line on the logger, at fmi2Warning: the serialiser's messages come with a refusal. Their
// line ends are the stream's, not the text's. Outside a call a message has no instance to go
// to and is dropped.
int serialiserReport(const char* format, ...) {
  SerialiserCall* call = currentCall();
  if (!call) return 0;
  char text[messageLimit + 1];
  va_list args;
  va_start(args, format);
  int written = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (written < 0) return 0;
  size_t length = strlen(text);
  if (length > 0 && text[length - 1] == '\n') text[length - 1] = '\0';
  fmiLog(call->instance, fmi2Warning, "%s", text);
  return 0;
}

// Reports the first 99 characters, as the serialiser's own fatal hook does, gives back every
// block of the call and jumps back into it. The unit runs the serialiser inside calls only;
// without one there is nothing to return to, and the default ends the process.
void serialiserFatal(const char* format, ...) {
  char text[100];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  SerialiserCall* call = currentCall();
  if (!call) tpl_default_fatal("%s", text);
  serialiserReport("%s", text);
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
