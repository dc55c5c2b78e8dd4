// The Co-Simulation bodies built so far: initialisation and terminate. The integrator they set
// up and release is the CVODE driver's (integrator.h).
#pragma once

#include "fmi2.h"
#include "instance.h"

// Logs "%s...", sets the time to startTime, initialises the model and sets up the integrator;
// on success modeInitialization and "%s completed". A failed set-up of the integrator gives
// fmi2Fatal and leaves the instance in modeInstantiated.
fmi2Status fmiEnterInitializationModeCS(ModelInstance* instance, double tolerance, double startTime,
                                        int32_t stopTimeDefined, double stopTime);
fmi2Status fmiInitializeCS(ModelInstance* instance, double tolerance, double startTime, int32_t stopTimeDefined,
                           double stopTime);
// Ends the initialisation in modeContinuousTime, ready to step.
fmi2Status fmiExitInitializationModeCS(ModelInstance* instance);
// The terminal section, the integrator's statistics and release, the profiling report, and
// the model's work state cleared; refused once terminated.
fmi2Status fmiTerminateCS(ModelInstance* instance);
