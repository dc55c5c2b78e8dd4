// What the FMI layer asks of the Co-Simulation integrator. The CVODE driver implements these;
// until it exists, integrator.cpp holds stand-ins that create no integrator, so a Co-Simulation
// instance steps through its modes without one and `integrator` stays null.
#pragma once

#include "instance.h"

// Creates the instance's integrator after the model's initialisation. 0 ready, 1 failed (the
// failure has been logged and nothing is left allocated).
int integratorSetup(ModelInstance* instance, double tolerance);

// The input at `inputIndex` was changed by a setter: it becomes the new base value of the input
// extrapolation. Called only while the instance has an integrator.
void integratorSetInputBase(ModelInstance* instance, int inputIndex);

// Prints the statistics report and releases the instance's integrator; nothing without one.
void integratorStatistics(ModelInstance* instance);

// Releases the integrator of `owner` (the instance or an FMU state) through the callbacks of
// `instance`, without a report, and clears owner->integrator; nothing without one.
void integratorFree(ModelInstance* instance, ModelInstance* owner);
