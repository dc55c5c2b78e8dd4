// The Model Exchange mode functions: initialisation, time, states, derivatives and event
// indicators, the completed step, the event iteration and terminate. fmi2SetTime,
// fmi2NewDiscreteStates and the state and derivative getters serve Co-Simulation instances too.
//
// The array calls take the smaller of the length given and the instance's count; a mismatch is
// logged as "%s: argument nx = %u is incorrect, should be %u" (ni for the event indicators) and
// makes the result fmi2Warning after the work is done. A missing array where one is needed, or a
// missing result pointer, is refused with "%s: <argument> == NULL" (fmi2Warning). A null instance
// gives fmi2Warning.
#pragma once

#include "fmi2.h"
#include "instance.h"

// Next-time-event values from this one up mean that no time event is pending.
constexpr double noTimeEvent = 1e37;

// Logs "%s..." and initialises; on success modeInitialization and "%s completed".
fmi2Status fmiEnterInitializationModeME(ModelInstance* instance);
// Ends the initialisation in modeEvent; the next event-mode model call starts a new event
// iteration, also when the exit failed. Refused (changing nothing) outside modeInitialization.
fmi2Status fmiExitInitializationModeME(ModelInstance* instance);
// Accepted in modeInstantiated and modeContinuousTime, and in modeEventDone for a model without
// states (which then enters modeContinuousTime); refused with fmi2Warning otherwise. Invalidates
// every computed value.
fmi2Status fmiSetTime(ModelInstance* instance, double time);
// fmi2SetTime's work and message without its mode check: the time updates inside a Co-Simulation
// step, which must advance also when a host has left the instance in an event mode.
void fmiSetTimeUnchecked(ModelInstance* instance, double time);
// The terminal section, the profiling report and modeTerminated; refused once terminated.
// Keeps the model's work state.
fmi2Status fmiTerminateME(ModelInstance* instance);

// Copies the states in and invalidates every computed value, also when they are unchanged. Any
// mode.
fmi2Status fmiSetContinuousStates(ModelInstance* instance, const fmi2Real x[], size_t nx);
// Evaluates up to the derivatives when they are older. QiErr 1 is fmi2Discard with nothing
// copied (the instance stays usable); any other failure takes the error exit (fmi2Error).
// Refused in modeInstantiated.
fmi2Status fmiGetDerivatives(ModelInstance* instance, fmi2Real derivatives[], size_t nx);
// As fmiGetDerivatives for the crossing functions, two per relation; once the model asked to
// terminate, the stored indicators without evaluating. Refused before the initialisation ends.
fmi2Status fmiGetEventIndicators(ModelInstance* instance, fmi2Real eventIndicators[], size_t ni);
// The stored states, never evaluating. Refused in modeInstantiated.
fmi2Status fmiGetContinuousStates(ModelInstance* instance, fmi2Real x[], size_t nx);
// The states' nominals (all 1.0). Any mode.
fmi2Status fmiGetNominalsOfContinuousStates(ModelInstance* instance, fmi2Real x_nominal[], size_t nx);
// Reports without evaluating: enterEventMode from the step-event flag of SolverInts,
// terminateSimulation when the model asked to terminate. Any mode; fmi2OK.
fmi2Status fmiCompletedIntegratorStep(ModelInstance* instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                      fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation);
// modeContinuousTime to modeEvent; the next event-mode model call starts a new event iteration.
fmi2Status fmiEnterEventMode(ModelInstance* instance);
// One step of the event iteration (the first after entering event mode starts it), ending in
// modeEventIterating while more steps are needed and in modeEventDone otherwise. Fills
// eventInfo, with the next time event when the model has one below 1e37; when it has none,
// nextEventTime is left as it was. The model's request to terminate is fmi2OK with
// terminateSimulation set and nextEventTime 1e37; any other failure takes the error exit.
fmi2Status fmiNewDiscreteStates(ModelInstance* instance, fmi2EventInfo* eventInfo);
// modeEventDone to modeContinuousTime.
fmi2Status fmiEnterContinuousTimeMode(ModelInstance* instance);

// The bodies of the two evaluating getters without their error handling, for callers that must
// not take the error exit (the Co-Simulation integrator's callbacks): evaluate when the values
// are older and return the QiErr (0 when nothing was needed). A failure is logged under `name`
// when one is given. After the model asked to terminate the indicators are not evaluated.
int fmiUpdateDerivatives(ModelInstance* instance, const char* name);
int fmiUpdateEventIndicators(ModelInstance* instance, const char* name);
