// The unit's serialiser hooks: messages to the calling instance's logger, blocks kept on the
// call's list, and fatal conditions that end the call instead of the process.
#include "serialiser_call.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "messages.h"
#include "tpl.h"

static_assert(sizeof(SerialiserBlock) % alignof(max_align_t) == 0,
              "a block's bytes keep the C library's alignment");

namespace {

// Every call in progress on any thread, each thread's innermost first. A registry rather than a
// thread-local slot: a slot of a loaded library is either allocated at a thread's first use
// (and the C library ends the process when that fails) or taken from the static TLS block,
// which repeated loads of two copies of the unit use up.
constinit std::mutex registryLock;
SerialiserCall* callsInProgress = nullptr;

// The calling thread's serialiser call, null outside one.
SerialiserCall* currentCall() {
  const std::thread::id self = std::this_thread::get_id();
  registryLock.lock();
  SerialiserCall* call = callsInProgress;
  while (call && call->thread != self) call = call->next;
  registryLock.unlock();
  return call;
}

// A block taken outside any call is linked to itself, so that releasing it unlinks nothing.
void detach(SerialiserBlock* block) { block->next = block->previous = block; }

void linkBlock(SerialiserBlock* block) {
  SerialiserCall* call = currentCall();
  if (!call) {
    detach(block);
    return;
  }
  SerialiserBlock* head = &call->blocks;
  block->next = head;
  block->previous = head->previous;
  head->previous->next = block;
  head->previous = block;
}

void unlinkBlock(SerialiserBlock* block) {
  block->previous->next = block->next;
  block->next->previous = block->previous;
}

SerialiserBlock* headOf(void* bytes) { return static_cast<SerialiserBlock*>(bytes) - 1; }

void* serialiserMalloc(size_t size) {
  if (size > SIZE_MAX - sizeof(SerialiserBlock)) return nullptr;
  auto* block = static_cast<SerialiserBlock*>(malloc(sizeof(SerialiserBlock) + size));
  if (!block) return nullptr;
  linkBlock(block);
  return block + 1;
}

void* serialiserRealloc(void* bytes, size_t size) {
  if (!bytes) return serialiserMalloc(size);
  if (size > SIZE_MAX - sizeof(SerialiserBlock)) return nullptr;
  SerialiserBlock* old = headOf(bytes);
  bool alone = old->next == old;
  // On failure the old block stays as it is, on its list.
  auto* block = static_cast<SerialiserBlock*>(realloc(old, sizeof(SerialiserBlock) + size));
  if (!block) return nullptr;
  if (alone) {
    detach(block);
  } else {
    block->previous->next = block;
    block->next->previous = block;
  }
  return block + 1;
}

void serialiserFree(void* bytes) {
  if (!bytes) return;
  SerialiserBlock* block = headOf(bytes);
  unlinkBlock(block);
  free(block);
}

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
  SerialiserBlock* head = &call->blocks;
  while (head->next != head) serialiserFree(head->next + 1);
  longjmp(call->jump, 1);
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
  call->thread = std::this_thread::get_id();
  call->blocks.next = call->blocks.previous = &call->blocks;
  registryLock.lock();
  call->next = callsInProgress;
  callsInProgress = call;
  registryLock.unlock();
}

void fmiSerialiserLeave(SerialiserCall* call) {
  SerialiserBlock* head = &call->blocks;
  while (head->next != head) {
    SerialiserBlock* block = head->next;
    unlinkBlock(block);
    detach(block);
  }
  registryLock.lock();
  SerialiserCall** link = &callsInProgress;
  while (*link != call) link = &(*link)->next;
  *link = call->next;
  registryLock.unlock();
}
