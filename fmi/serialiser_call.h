// The serialiser inside the unit's FMU-state calls. Each call that uses it runs it under a call
// record: the serialiser's messages go to the calling instance's logger, every block it takes
// is kept on the record's list, and a fatal condition (out of memory, an internal inconsistency)
// gives back all of those blocks and jumps back into the call, which then refuses as it would
// have for a failed step. Nothing of the serialiser ever writes to the standard error stream or
// ends the process. The arming function calls setjmp itself, through SERIALISER_ARMED:
//
//   SerialiserCall call;
//   fmiSerialiserEnter(&call, instance);
//   volatile int step = ...;            // read after a jump, so volatile
//   if (SERIALISER_ARMED(call)) {
//     ... tpl calls, releasing what they made before leaving ...
//   } else {
//     ... the refusal: nothing the serialiser made during the call exists any more
//   }
//   fmiSerialiserLeave(&call);
//
// The serialiser's code that a jump crosses holds plain records only. Calls nest (per thread): a
// call inside another's logger restores the outer one when it leaves.
#pragma once

#include <csetjmp>

#include "instance.h"
#include "tracked_call.h"

struct SerialiserCall {
  TrackedCall tracked;  // the call's registration; its data is the call itself
  ModelInstance* instance;
  TrackedBlock blocks;  // the call's live blocks
};

// Makes the call the calling thread's serialiser call for the instance; installs the unit's
// serialiser hooks the first time.
void fmiSerialiserEnter(SerialiserCall* call, ModelInstance* instance);

// True on arming; false when a fatal condition ended the serialiser's work.
#define SERIALISER_ARMED(call) TRACKED_CALL_ARMED((call).tracked)

// Ends the call: the thread's serialiser call is the enclosing one again, if any. Blocks still
// live stay valid and are no longer the call's.
void fmiSerialiserLeave(SerialiserCall* call);
