// The registry of tracked calls in progress and the tracked allocator's block lists.
#include "tracked_call.h"

#include <cstdlib>
#include <mutex>

static_assert(sizeof(TrackedBlock) % alignof(max_align_t) == 0, "a block's bytes keep the C library's alignment");

namespace {

// Every call in progress on any thread, each thread's innermost first. A registry rather than a
// thread-local slot: a slot of a loaded library is either allocated at a thread's first use
// (and the C library ends the process when that fails) or taken from the static TLS block,
// which repeated loads of two copies of the unit use up.
constinit std::mutex registryLock;
TrackedCall* callsInProgress = nullptr;

// A block on no list is linked to itself, so that releasing it unlinks nothing.
void detach(TrackedBlock* block) { block->next = block->previous = block; }

bool isEmpty(const TrackedBlock* list) { return !list->next || list->next == list; }

void linkInto(TrackedBlock* list, TrackedBlock* block) {
  if (!list->next) trackedListInit(list);
  block->next = list;
  block->previous = list->previous;
  list->previous->next = block;
  list->previous = block;
}

void unlink(TrackedBlock* block) {
  block->previous->next = block->next;
  block->next->previous = block->previous;
}

TrackedBlock* headOf(void* bytes) { return static_cast<TrackedBlock*>(bytes) - 1; }

}  // namespace

void trackedListInit(TrackedBlock* list) { list->next = list->previous = list; }

void trackedListRelease(TrackedBlock* list) {
  while (!isEmpty(list)) trackedRelease(list->next + 1);
}

void trackedListDetach(TrackedBlock* list) {
  while (!isEmpty(list)) {
    TrackedBlock* block = list->next;
    unlink(block);
    detach(block);
  }
}

int64_t trackedListCount(const TrackedBlock* list) {
  int64_t count = 0;
  if (!list->next) return 0;
  for (const TrackedBlock* block = list->next; block != list; block = block->next) ++count;
  return count;
}

void trackedCallEnter(TrackedCall* call, int32_t kind, TrackedBlock* blocks, void* data) {
  call->thread = std::this_thread::get_id();
  call->blocks = blocks;
  call->data = data;
  call->kind = kind;
  if (!blocks->next) trackedListInit(blocks);
  registryLock.lock();
  call->next = callsInProgress;
  callsInProgress = call;
  registryLock.unlock();
}

void trackedCallLeave(TrackedCall* call) {
  registryLock.lock();
  TrackedCall** link = &callsInProgress;
  while (*link && *link != call) link = &(*link)->next;
  if (*link) *link = call->next;
  registryLock.unlock();
}

TrackedCall* trackedCurrentCall(int32_t kind) {
  const std::thread::id self = std::this_thread::get_id();
  registryLock.lock();
  TrackedCall* call = callsInProgress;
  while (call && (call->thread != self || call->kind != kind)) call = call->next;
  registryLock.unlock();
  return call;
}

void trackedCallFail(TrackedCall* call) {
  trackedListRelease(call->blocks);
  longjmp(call->jump, 1);
}

void* trackedAllocate(int32_t kind, size_t size) {
  if (size > SIZE_MAX - sizeof(TrackedBlock)) return nullptr;
  auto* block = static_cast<TrackedBlock*>(malloc(sizeof(TrackedBlock) + size));
  if (!block) return nullptr;
  TrackedCall* call = trackedCurrentCall(kind);
  if (call) {
    linkInto(call->blocks, block);
  } else {
    detach(block);
  }
  return block + 1;
}

void* trackedReallocate(int32_t kind, void* bytes, size_t size) {
  if (!bytes) return trackedAllocate(kind, size);
  if (size > SIZE_MAX - sizeof(TrackedBlock)) return nullptr;
  TrackedBlock* old = headOf(bytes);
  bool alone = old->next == old;
  // On failure the old block stays as it is, on its list.
  auto* block = static_cast<TrackedBlock*>(realloc(old, sizeof(TrackedBlock) + size));
  if (!block) return nullptr;
  if (alone) {
    detach(block);
  } else {
    block->previous->next = block;
    block->next->previous = block;
  }
  return block + 1;
}

void trackedRelease(void* bytes) {
  if (!bytes) return;
  TrackedBlock* block = headOf(bytes);
  unlink(block);
  free(block);
}
