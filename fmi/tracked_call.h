// Calls into the C libraries linked into the unit (the serialiser, SUNDIALS) whose C-heap blocks
// are tracked, so that an allocation those libraries cannot survive ends the call instead of the
// process. Each block taken through the tracked allocator carries a small head that links it into
// a block list: the list of the call in progress on the calling thread (for the serialiser, the
// call's own list; for SUNDIALS, the list of the record that owns the objects). Releasing a block
// unlinks it from whatever list it is on. A call ends in a failure by giving back every block on
// its list and jumping back to where its caller armed it:
//
//   TrackedCall call;
//   trackedCallEnter(&call, trackedSundials, &owner->blocks, nullptr);
//   if (TRACKED_CALL_ARMED(call)) {
//     ... library calls ...
//   } else {
//     ... the refusal: every block on the list is gone ...
//   }
//   trackedCallLeave(&call);
//
// Code a jump crosses holds plain records only. Calls nest per thread: the innermost call of a
// kind receives that kind's blocks. A block taken outside any call of its kind is on no list.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <thread>

// The head of a tracked block; the block's bytes follow it, aligned as the C library aligns its
// own. A list is a head of the same type, circular through it.
struct TrackedBlock {
  TrackedBlock* next;
  TrackedBlock* previous;
};

enum TrackedCallKind : int32_t { trackedSerialiser = 0, trackedSundials = 1 };

struct TrackedCall {
  jmp_buf jump;
  std::thread::id thread;  // the thread the call runs on
  TrackedCall* next;       // the next call in progress, on this thread or another
  TrackedBlock* blocks;    // the list the call's new blocks join
  void* data;              // the caller's, for the library's hooks
  int32_t kind;
};

// An empty list. A zero-filled head counts as empty too.
void trackedListInit(TrackedBlock* list);
// Gives back every block on the list; the list is empty afterwards.
void trackedListRelease(TrackedBlock* list);
// Takes every block off the list without releasing it: each is on no list afterwards.
void trackedListDetach(TrackedBlock* list);
// The number of blocks on the list.
int64_t trackedListCount(const TrackedBlock* list);

// Makes the call the calling thread's innermost call of its kind; its new blocks join `blocks`.
void trackedCallEnter(TrackedCall* call, int32_t kind, TrackedBlock* blocks, void* data);
// True on arming; false when the call failed and jumped back.
#define TRACKED_CALL_ARMED(call) (setjmp((call).jump) == 0)
// Ends the call: the thread's innermost call of the kind is the enclosing one again, if any.
void trackedCallLeave(TrackedCall* call);
// The calling thread's innermost call of the kind, null outside one.
TrackedCall* trackedCurrentCall(int32_t kind);
// Gives back every block on the call's list and jumps back into the call.
[[noreturn]] void trackedCallFail(TrackedCall* call);

// The tracked allocator: like malloc, realloc and free, for blocks of one kind. A failure returns
// null and leaves the call alone (the caller decides whether to fail it). A reallocated block
// stays on the list it was on.
void* trackedAllocate(int32_t kind, size_t size);
void* trackedReallocate(int32_t kind, void* bytes, size_t size);
void trackedRelease(void* bytes);
