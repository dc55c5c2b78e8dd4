// Time events, periodic samples and the step scaling of a fixed-step integration ahead of a
// predicted crossing.
#pragma once

#include "modeldata.h"

// Requests a time event at t: lowers the record's next time event (SolverReals[2]) to the
// earliest request of the pass; requests within a small tolerance of each other merge into the
// later one, requests after the next known event are ignored. Never fails.
void RegisterTimeEvent(double t, ModelData* modelData);
void RegisterTimeEventDefault(double t);  // on modelDataTemplate

// The 1-based index of the first tick at or after t: ceil((t - start) / interval) + 1.
double SampleCounter(double t, double start, double interval);

// A periodic clock with ticks at start + (n - 1) * interval. The record keeps two counters
// per sample at index and index + 1 (starting and working). Returns 1 when a tick was passed
// and this is the first pass of an event iteration; registers the next tick as a time event.
// mode nonzero recomputes the starting counter (mode 2 only returns 0); evaluate 0 only
// initialises. A non-positive interval ends the evaluation through the error path.
int Sample(ModelData* modelData, double t, double start, double interval, int index, int mode,
           int evaluate);

// The two halves of Sample, for generated clocks that decide differently when to recount.
// SampleRecount sets the starting counter to the first tick at or after t (always when replace is
// set, otherwise only when that is larger) and raises the registered time scale to |start|.
// SampleTicks, when evaluate is nonzero, advances the working counter from the starting counter
// past every tick up to t, marks the sample registered, requests the next tick as a time event
// and returns what Sample returns; 0 when evaluate is 0 or the interval is not positive.
void SampleRecount(ModelData* modelData, double t, double start, double interval, int index,
                   int replace);
int SampleTicks(ModelData* modelData, double t, double start, double interval, int index, int mode,
                int evaluate);

// The same clock sub-sampled: fires on every factor-th tick, shifted by shift ticks.
int SampleFactorShift(ModelData* modelData, double t, double start, double interval, int shift,
                      int factor, int index, int mode, int evaluate);

// After each converged call of a fixed-step integration: predicts from the recent crossing
// functions (and the next time event) the fraction of the next step at which a crossing lies
// and, when it lies within the step, scales derivatives[0 ... n-1] so that the step ends just
// past it; the following step makes up the rest. Sets solverReals[1] to the factor in force
// (1 without scaling). Its prediction state is process-wide.
void ScaleStepBeforeCrossing(ModelData* modelData, double time, int initial, int allSections,
                             double* crossings, int ncross, double* derivatives, int n,
                             double* solverReals, int* solverInts);
