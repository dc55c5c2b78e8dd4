// fmi2Reset: an instance of either kind back to the state of a fresh instantiation.
#pragma once

#include "fmi2.h"
#include "instance.h"

// Logs "fmi2Reset..." first.
// - modeInstantiated: nothing changes ("fmi2Reset: already reset, ignoring call", fmi2OK).
// - A running instance (modeInitialization, the event modes, modeContinuousTime) is terminated
//   first by the terminate of its kind, running the model's terminal section; a result of it
//   other than fmi2OK and fmi2Warning is returned at once, the instance left as that terminate
//   left it.
// - From modeTerminated, and after such a terminate, the instance is what fmi2Instantiate made:
//   the model's start values (Strings included), every other value array, both solver blocks
//   (LogFlags among them) and the counters and flags cleared, the model's data block refilled
//   from its template, time 0, no experiment settings, no integrator, modeInstantiated;
//   "fmi2Reset completed", fmi2OK. Kept: the name, the callbacks, the logging switch, the
//   registration of the solver blocks with the runtime and the work blocks that only grow
//   (Jacobian blocks, difference vectors, the derivative snapshot).
// - Any other mode code only logs "fmi2Reset completed" and gives fmi2OK.
// Out of memory for the table of String start values: "fmi2Reset failed: out of Memory"
// (fmi2Fatal), the instance left terminated and still valid, to be freed or reset again. A
// failed start-value routine: "fmi2Reset: declare_ failed, QiErr = %d" (fmi2Error), the
// instance terminated. A null instance gives fmi2Warning.
fmi2Status fmiReset(ModelInstance* instance);
