// The Model Exchange mode functions built so far: initialisation, time and terminate.
#pragma once

#include "fmi2.h"
#include "instance.h"

// Logs "%s..." and initialises; on success modeInitialization and "%s completed".
fmi2Status fmiEnterInitializationModeME(ModelInstance* instance);
// Ends the initialisation in modeEvent; the next event-mode model call starts a new event
// iteration, whatever the outcome.
fmi2Status fmiExitInitializationModeME(ModelInstance* instance);
// Accepted in modeInstantiated and modeContinuousTime, and in modeEventDone for a model without
// states (which then enters modeContinuousTime); refused with fmi2Warning otherwise. Invalidates
// every computed value.
fmi2Status fmiSetTime(ModelInstance* instance, double time);
// The terminal section, the profiling report and modeTerminated; refused once terminated.
// Keeps the model's work state.
fmi2Status fmiTerminateME(ModelInstance* instance);
