// CVODE's normal mode with a per-step stop callback, built on CVODE's one-step mode.
//
// The Co-Simulation driver needs CVODE to consult a callback after every successful internal
// step and to end the integration call like a root return when the callback says so. Stock
// CVODE has no such hook, so the stepper drives `CVode` in CV_ONE_STEP mode towards tout itself
// and does what normal mode would do around each step:
//   - a step that reaches or passes tout ends the call with the solution interpolated at tout;
//   - a root of the root functions that lies within tout returns as normal mode returns it
//     (without consulting the callback); a root found beyond tout (one-step mode searches the
//     whole step) is held back and returned by the call whose tout reaches it;
//   - the callback is consulted after each new step, before the test whether tout was reached:
//     non-zero ends the call with CV_ROOT_RETURN at the step's time, or at tout with the
//     interpolated solution when the step passed tout;
//   - the limit on internal steps per call, which one-step mode never enforces, is counted
//     here and reported as CVODE reports it (CV_TOO_MUCH_WORK).
// Forward integration only.
#pragma once

#include <cvode/cvode.h>

#include <cstdint>

// The stop callback: called with CVODE's user data; non-zero stops the integration call.
typedef int (*CVStepRootFn)(void* userData);

// The stepping state the stepper keeps beside one CVODE memory. Plain data: it holds no
// resources of its own, and the CVODE memory belongs to whoever created it.
struct CVodeStepper {
  void* memory;                 // CVODE memory; null while there is none
  CVStepRootFn stepRoot;        // consulted after each internal step; null for none
  CVErrHandlerFn errorHandler;  // where the stepper's own reports go, as CVODE's do; null: stderr
  void* errorData;
  long maxSteps;        // internal steps per call; negative for no limit
  int32_t rootPending;  // a root beyond an earlier tout waits at pendingRootTime
  double pendingRootTime;
  int32_t cvodeAtRoot;  // CVODE's last one-step return was a root: its step still holds
                        // an unsearched rest, so the next call must go through CVODE
};

// CVODE's default limit of internal steps per call.
constexpr long cvodeDefaultMaxSteps = 500;

// Attaches a fresh CVODE memory (or null): no callback, no error handler, the default step
// limit, nothing pending.
void cvodeStepperAttach(CVodeStepper* stepper, void* memory);

// Registers the stop callback (null removes it). CV_SUCCESS, or CV_MEM_NULL without a memory,
// after reporting "cvode_mem = NULL illegal." like CVODE does.
int CVodeStepRootInit(CVodeStepper* stepper, CVStepRootFn stepRoot);

// CVodeSetMaxNumSteps, also kept for the stepper's own count: 0 means CVODE's default, a
// negative count no limit.
int cvodeStepperSetMaxNumSteps(CVodeStepper* stepper, long maxSteps);

// CVodeSetErrHandlerFn, also kept for the stepper's own reports.
int cvodeStepperSetErrHandlerFn(CVodeStepper* stepper, CVErrHandlerFn handler, void* data);

// CVodeReInit; also drops a held-back root.
int cvodeStepperReInit(CVodeStepper* stepper, double t0, N_Vector y0);

// Integrates towards tout as CVode(memory, tout, yout, tret, CV_NORMAL) with the stop callback.
// Returns CV_SUCCESS (tret = tout), CV_ROOT_RETURN (a root, or the callback stopped the call)
// or a negative CVODE flag (CV_TOO_MUCH_WORK after maxSteps steps, with tret and yout at the
// last step; CV_ILL_INPUT when tout lies behind the last step; CVODE's own failures).
int cvodeStepperAdvance(CVodeStepper* stepper, double tout, N_Vector yout, double* tret);
