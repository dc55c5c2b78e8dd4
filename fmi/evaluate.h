// Every model computation of the FMI layer: one call of the evaluation driver for the
// instance's mode, the mapping of its QiErr, and the error exit that a failed model call takes.
#pragma once

#include "fmi2.h"
#include "instance.h"

// One call of dsblock_. The mode decides the EventPhase and the demand: modeInstantiated passes
// the demand given; modeInitialization always demands initialisation; the event modes always
// demand an event pass and start a new externally driven iteration when `eventStart` is set
// (consuming it); every other mode passes phase and demand as they are. In the first three a
// phase of 0 becomes a plain pass (5), so a phase the caller set before stays in force.
// currentInstance is the instance for the duration of the driver call.
//
// Returns the QiErr, with -995 ... -990 mapped to 0. A failure with `name` given is logged as
// "%s: dsblock_ failed, QiErr = %d" at fmi2Error. `converged`, when given, tells whether the
// driver left the phase at 0. Afterwards the phase is 0 and `valuesChanged` is cleared. A failed
// call (any code but 0 and -999) leaves nothing marked up to date: `levelReached` becomes 0
// and `valuesChanged` keeps its value from before the call, so the next getter evaluates again
// instead of delivering values the failed pass left behind.
int fmiEvaluateModel(ModelInstance* instance, int demand, const char* name, int* converged);

// Whether the instance's values up to `demand` come from a plain pass (no all-sections call, no
// crossing step scaling) that reached exactly that level and succeeded: repeating such a pass at
// the same time, states and inputs gives the same values and leaves the model as it is.
bool fmiPlainPassCurrent(const ModelInstance* instance, int demand);

// How a failed evaluation is reported: QiErr 1 (the evaluation may be retried) as fmi2Discard
// when the caller may report that, every other failure as fmi2Error.
fmi2Status fmiFailureStatus(int qiErr, bool mayDiscard);

// For the callers that may discard (fmi2GetReal, fmi2GetDerivatives, fmi2GetEventIndicators,
// the evaluation at the start of fmi2DoStep): fmi2Discard for QiErr 1, the instance staying in
// its mode; otherwise the error exit and fmi2Error.
fmi2Status fmiDiscardOrErrorExit(ModelInstance* instance, int qiErr);

// Ends the instance after a failed model call: modeInstantiated and modeTerminated become (stay)
// modeTerminated; every other mode runs the terminate of the instance's kind, which ends in
// modeTerminated. Always fmi2Error.
fmi2Status fmiErrorExit(ModelInstance* instance);

// The model's terminal section, run by both terminates after their own checks; skipped (and
// successful) when the model was never initialised (modeInstantiated), the last model call
// failed or the model asked to terminate. A failure other
// than the model's own request to terminate is logged as
// "%s: calling terminal section of dsblock_ failed, QiErr = %d" under `name` and gives fmi2Error.
fmi2Status fmiTerminalSection(ModelInstance* instance, const char* name);

// The Co-Simulation event iteration at the current time: a pass over all sections, then an event
// pass iterated to convergence. *terminated := 1 (and fmi2OK at once) when the model asks to
// terminate; any other failure is logged, takes the error exit and gives fmi2Error.
fmi2Status fmiEventUpdate(ModelInstance* instance, int* terminated);

// The timing report of the model's profiled blocks at termination; nothing when there are none
// or none was called.
void fmiProfilingReport(ModelInstance* instance);
