// Co-Simulation stepping: fmi2DoStep with its checks of the communication point and the stop
// time, the event iterations at communication points and time events, and the input and output
// derivatives; and the status functions, which this unit answers without asynchronous stepping.
#pragma once

#include <cstddef>

#include "fmi2.h"
#include "instance.h"

// Advances the instance from currentCommunicationPoint by communicationStepSize (clipped to a
// defined stop time), with the event iteration at the point when states or inputs were set, the
// integration to each pending time event with its event iteration, and the integration to the
// step's end. A step size of 0 runs only the event iteration at the current time.
fmi2Status fmiDoStep(ModelInstance* instance, double currentCommunicationPoint, double communicationStepSize,
                     fmi2Boolean noSetFMUStatePriorToCurrentPoint);

// The event iteration at the current time and the integrator's restart. fmi2Discard when the
// model asked to terminate; fmi2Error after the error exit.
fmi2Status fmiDoStepEventUpdate(ModelInstance* instance);

// First-order input derivatives, extrapolating the inputs over the next step.
fmi2Status fmiSetRealInputDerivatives(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer order[], const fmi2Real value[]);
// Output derivatives estimated from the outputs before the last integration call.
fmi2Status fmiGetRealOutputDerivatives(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                                       const fmi2Integer order[], fmi2Real value[]);

fmi2Status fmiCancelStep(ModelInstance* instance);
fmi2Status fmiGetStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Status* value);
fmi2Status fmiGetRealStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Real* value);
fmi2Status fmiGetIntegerStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Integer* value);
fmi2Status fmiGetBooleanStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Boolean* value);
fmi2Status fmiGetStringStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2String* value);
