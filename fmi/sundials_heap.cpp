// The C heap of the SUNDIALS objects linked into the unit: the unit links copies of the SUNDIALS
// archives whose malloc, calloc, realloc and free are these (renamed at build time, see
// sundials_heap.syms). Every block joins the list of the record whose SUNDIALS call is in
// progress; an allocation that fails inside such a call gives back all of that record's blocks
// and ends the call, so SUNDIALS never goes on with a block it did not get (it does not check
// every allocation). Outside a call a failure is passed on as null.
#include <cstring>

#include "tracked_call.h"

namespace {

void* checked(void* bytes) {
  if (!bytes) {
    TrackedCall* call = trackedCurrentCall(trackedSundials);
    if (call) trackedCallFail(call);
  }
  return bytes;
}

}  // namespace

extern "C" {

void* quenzelSundialsMalloc(size_t size) { return checked(trackedAllocate(trackedSundials, size)); }

void* quenzelSundialsCalloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return checked(nullptr);
  size_t bytes = count * size;
  void* block = checked(trackedAllocate(trackedSundials, bytes));
  if (block) memset(block, 0, bytes);
  return block;
}

void* quenzelSundialsRealloc(void* bytes, size_t size) {
  return checked(trackedReallocate(trackedSundials, bytes, size));
}

void quenzelSundialsFree(void* bytes) { trackedRelease(bytes); }

}  // extern "C"
