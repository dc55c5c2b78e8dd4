// SUNDIALS calls for the record that owns the SUNDIALS objects (an instance's integrator or the
// copy in an FMU state). SUNDIALS does not check every allocation, so each set-up, copy,
// integration, restart and release runs as a tracked call for its record: every block SUNDIALS
// takes joins the record's list, and an allocation that fails gives back all of the record's
// SUNDIALS blocks at once (SUNDIALS' own release functions never see half-made objects) and
// jumps back into the call, which then clears the record's SUNDIALS pointers and refuses:
//
//   SundialsCall call;
//   sundialsCallEnter(&call, integrator);
//   if (SUNDIALS_ARMED(call)) {
//     sundialsAt(&call, "CVodeInit", false);
//     ... SUNDIALS calls ...
//   } else {
//     sundialsRefuse(&call, instance);  // the record holds no SUNDIALS object any more
//   }
//   sundialsCallLeave(&call);
//
// Code between the arming and the SUNDIALS calls holds plain records only.
#pragma once

#include "integrator.h"
#include "tracked_call.h"

struct SundialsCall {
  TrackedCall tracked;
  CoSimIntegrator* owner;
  const char* volatile function;   // the SUNDIALS function in progress, as the checks name it
  volatile int32_t returnsPointer;  // it returns a pointer rather than a flag
};

void sundialsCallEnter(SundialsCall* call, CoSimIntegrator* owner);
#define SUNDIALS_ARMED(call) TRACKED_CALL_ARMED((call).tracked)
void sundialsCallLeave(SundialsCall* call);

// Records the function that runs next, for the refusal if it runs out of memory.
inline void sundialsAt(SundialsCall* call, const char* function, bool returnsPointer) {
  call->function = function;
  call->returnsPointer = returnsPointer ? 1 : 0;
}

// After a failed call: the owner's SUNDIALS pointers are cleared, and with an instance the
// failure is reported as the function's own, at `status`: "SUNDIALS_ERROR: %s() failed -
// returned NULL pointer", or "... failed with flag = CV_MEM_FAIL". Returns 1.
int sundialsRefuse(SundialsCall* call, ModelInstance* instance, fmi2Status status = fmi2Error);

// CVODE's name of a return flag, copied into the buffer (empty when it could not be had).
void sundialsFlagName(int flag, char* buffer, size_t size);
