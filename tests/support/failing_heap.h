// A C heap that fails on request, for test programs of their own: failing_heap.cpp defines the
// program's malloc, calloc, realloc and free (the program is linked with its symbols exported,
// so that a loaded unit binds to them too) on top of the C library's, or under the address
// sanitizer on top of the sanitizer's, which then still sees every block.
//
// While armed, the calls of the arming thread are counted, the failAt-th fails, and every block
// taken is remembered until it is freed.
#pragma once

namespace heap {

// Arms or disarms the heap for the calling thread.
void arm(bool on);
bool armed();
extern long failAt;
extern long calls;
extern int liveCount;  // remembered blocks still live
extern bool overflow;  // more live blocks than the heap can remember

// Counting from zero, nothing remembered, disarmed.
void reset();
// Whether a block (as the C heap gave it out) is remembered and live.
bool remembered(const void* block);

// Disarms the heap for the current scope.
struct Suspended {
  bool was = armed();
  Suspended() { arm(false); }
  ~Suspended() { arm(was); }
};

}  // namespace heap
