#include "failing_heap.h"

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define UNDERLYING(name) __interceptor_##name
#else
#define UNDERLYING(name) __libc_##name
#endif

namespace heap {

namespace {
thread_local bool armedHere = false;
}  // namespace

void arm(bool on) { armedHere = on; }
bool armed() { return armedHere; }
long failAt = 0;
long calls = 0;
constexpr int liveCapacity = 65536;
void* live[liveCapacity];
int liveCount = 0;
bool overflow = false;

void reset() {
  armedHere = false;
  failAt = 0;
  calls = 0;
  liveCount = 0;
  overflow = false;
}

bool remembered(const void* block) {
  for (int k = 0; k < liveCount; ++k)
    if (live[k] == block) return true;
  return false;
}

namespace {

bool failNext() { return ++calls == failAt; }

void remember(void* block) {
  if (liveCount == liveCapacity) {
    overflow = true;
    return;
  }
  live[liveCount++] = block;
}

bool forget(void* block) {
  for (int k = liveCount; k-- > 0;)
    if (live[k] == block) {
      live[k] = live[--liveCount];
      return true;
    }
  return false;
}

}  // namespace
}  // namespace heap

extern "C" {
void* UNDERLYING(malloc)(size_t);
void* UNDERLYING(calloc)(size_t, size_t);
void* UNDERLYING(realloc)(void*, size_t);
void UNDERLYING(free)(void*);

void* malloc(size_t size) {
  if (!heap::armed()) return UNDERLYING(malloc)(size);
  if (heap::failNext()) return nullptr;
  void* block = UNDERLYING(malloc)(size);
  if (block) heap::remember(block);
  return block;
}

void* calloc(size_t count, size_t size) {
  if (!heap::armed()) return UNDERLYING(calloc)(count, size);
  if (heap::failNext()) return nullptr;
  void* block = UNDERLYING(calloc)(count, size);
  if (block) heap::remember(block);
  return block;
}

void* realloc(void* block, size_t size) {
  if (!heap::armed() || (block && size == 0)) {
    bool ours = block && heap::forget(block);
    void* grown = UNDERLYING(realloc)(block, size);
    if (ours && grown) heap::remember(grown);
    return grown;
  }
  if (heap::failNext()) return nullptr;
  bool ours = !block || heap::forget(block);
  void* grown = UNDERLYING(realloc)(block, size);
  if (!grown) {
    if (ours && block) heap::remember(block);
    return nullptr;
  }
  if (ours) heap::remember(grown);
  return grown;
}

void free(void* block) {
  if (!block) return;
  heap::forget(block);
  UNDERLYING(free)(block);
}
}
