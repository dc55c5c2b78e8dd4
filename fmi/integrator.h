// The Co-Simulation integrator: CVODE (BDF, Newton, dense direct solver) integrating the
// instance's states in place, with the event indicators as root functions and the model's step
// events through the stepper's stop callback; its life from set-up at the Co-Simulation
// initialisation to the statistics report at terminate, and its copies in FMU states.
#pragma once

#include <nvector/nvector_serial.h>
#include <sundials/sundials_context.h>
#include <sundials/sundials_linearsolver.h>
#include <sundials/sundials_matrix.h>

#include <cstdint>

#include "cvode_stepper.h"
#include "fmi2.h"
#include "instance.h"
#include "tracked_call.h"

// Counters and timers; copied as one block by the FMU-state functions. Times are milliseconds
// of elapsed time since the unit was loaded, accumulated in single precision; the report turns
// them into seconds. Every callback reads the clock twice, so it must be the cheap steady clock:
// processor time costs a system call, more than the whole callback.
struct IntegratorStatistics {
  int32_t externalSteps;  // integration calls that reached their end time
  int32_t internalSteps;  // CVODE's step counts, summed at every re-initialisation
  int32_t jacobianCalls;
  int32_t rhsCalls;
  float rhsMilliseconds;
  float rootMilliseconds;
  float startClock;  // clock at set-up
  // The work that restoring FMU states has thrown away.
  int32_t rejectedExternalSteps;
  int32_t rejectedInternalSteps;
  int32_t rejectedRhsCalls;
  int32_t rejectedJacobianCalls;
  float rejectedRhsMilliseconds;
};

// One per Co-Simulation instance, from allocateMemory (zero-filled) and held in its
// `integrator`; an FMU state holds its own record of the same type, without CVODE memory.
// The double and pattern arrays come from the host's allocateMemory; vectors, matrix, solver,
// context and CVODE memory from SUNDIALS (C heap), every block of them on `sundialsBlocks`.
// The record does not move while it has SUNDIALS blocks (the list refers to its head).
struct CoSimIntegrator {
  N_Vector stateVector;           // instance: over the instance's `states` (not owned data);
                                  // FMU-state copy: data of its own, never used
  CVodeStepper cvode;             // cvode.memory: CVODE's memory, null in an FMU state's copy
  N_Vector absoluteTolerances;    // per state: abs(nominal) * tolerance
  N_Vector relativeTolerances;    // per state: tolerance, 0 for a negative nominal
  N_Vector errorWeights;          // CVODE's current weights, fetched before each Jacobian
  N_Vector perturbedDerivatives;  // Jacobian work: derivatives at perturbed states
  N_Vector savedStates;           // Jacobian work: states of the perturbed column group
  int32_t* columnStarts;          // sparse pattern [nx+1]; null with the dense solver
  int32_t* entryPositions;        // sparse pattern [G*nx]; -1 for none
  int32_t nonZeroCount;           // 0: dense solver
  int32_t patternGroupCount;
  double inputBaseTime;      // t0 of the input derivatives
  double* inputDerivatives;  // [nu+1]
  double* inputBase;         // [nu+1] inputs at t0
  int32_t inputDerivativesValid;
  int32_t restartPending;  // the inputs change course at the instance time: CVODE's history past
                           // it was computed for other inputs and must not be continued
  int32_t startDerivativesCurrent;  // until the first callback of an integration call: the
                                    // instance's derivatives are those of a plain pass at its
                                    // own time and states
  double* lastOutputs;     // [ny+1] outputs fetched before the last integration call
  double lastOutputTime;
  IntegratorStatistics statistics;
  // SUNDIALS objects of this record: the context of its vectors, and the dense solver's matrix
  // and linear solver, released after the CVODE memory.
  SUNContext context;
  SUNMatrix denseMatrix;
  SUNLinearSolver linearSolver;
  int32_t reportReady;  // the set-up got far enough for terminate to report statistics
  TrackedBlock sundialsBlocks;  // the C-heap blocks of this record's SUNDIALS objects
};

// Number of Jacobian column groups of the model, written by every set-up.
extern int32_t integratorGroupCount;

// Who sets the integrator up, which decides what a failed set-up says. The Co-Simulation
// initialisation answers it with fmi2Fatal: a failed allocation is reported at that status, and
// the statistics of a set-up that got far enough are reported as at terminate. A restore into an
// instance without an integrator answers it with fmi2Error and reports no statistics; its set-up
// also leaves the instance's own blocks to the restore, which writes them once the restored
// values are in place.
enum IntegratorSetupCaller : int32_t { setupAtInitialisation, setupForRestore };

// Creates the instance's integrator at its time and states (an existing one is released first).
// A tolerance <= 0 means 1e-5. 0 ready; 1 failed, reported, the record released. A failed
// allocation (a record or buffer the host's allocator did not give, a block SUNDIALS did not get)
// is reported at the status the caller answers with; SUNDIALS' other refusals at fmi2Error.
int integratorSetup(ModelInstance* instance, double tolerance, IntegratorSetupCaller caller);

// Integrates from the instance time to tout, handling roots and step events on the way with an
// event iteration and a restart. 0 reached tout; 1 failed (reported); 2 the model asked to
// terminate. The instance time is left for the caller to advance.
int integratorIntegrate(ModelInstance* instance, double tout);

// Restarts CVODE at the instance's time and states. 0; 1 when SUNDIALS refused.
int integratorReInit(ModelInstance* instance);

// Restarts CVODE at the instance's time and states without adding the steps since the last
// restart to the statistics (a restore that booked them as rejected). 0; 1 refused.
int integratorRestart(ModelInstance* instance);

// The host moved the instance time (fmi2SetTime, fmi2SetupExperiment): CVODE is still where the
// instance was, so the next step restarts it at the instance time and states first.
void integratorTimeMoved(ModelInstance* instance);

// The internal steps of the recorded restarts and those since the last one.
int32_t integratorTotalSteps(ModelInstance* instance);

// The instance's outputs and time become the base of the output-derivative estimate.
void integratorRecordOutputs(ModelInstance* instance);

// The host changed input `index`: it becomes the base of the input extrapolation.
void integratorSetInputBase(ModelInstance* instance, int index);

// While input derivatives are valid: inputs := base + (t - base time) * derivatives.
void integratorExtrapolateInputs(ModelInstance* instance, double t);

// Logs the CVODE statistics (when the set-up got that far), then releases the record.
void integratorStatistics(ModelInstance* instance);

// Releases owner's record (owner: the instance itself or one of its FMU states) with the
// callbacks of `instance`, and clears owner's pointer. Nothing without a record.
void integratorFree(ModelInstance* instance, ModelInstance* owner);

// Copies the integrator data that travels with FMU states from source to destination (either
// an instance or an FMU state), making the destination's record when it has none. 0; 1 on
// allocation failure, reported, the destination left without a record.
int integratorCopy(ModelInstance* destination, ModelInstance* source);

// fmi2GetFMUstate of a Co-Simulation instance, before anything of the state is written: makes
// what the integrator copy into the state needs. 0; 1 after "memory allocation failed", the
// state as it was.
int integratorPrepareSave(ModelInstance* instance, ModelInstance* state);
// fmi2GetFMUstate of a Co-Simulation instance: the integrator data and statistics into state.
// After integratorPrepareSave only a refused restart of CVODE can fail it (fmi2Error).
fmi2Status integratorSaveState(ModelInstance* instance, ModelInstance* state);
// fmi2SetFMUstate of a Co-Simulation instance, before anything of the instance is overwritten:
// sets up an integrator when the state is a stepping one and the instance has none (*fresh),
// and makes what the copy from the state needs. 0; 1 after the failure's message at fmi2Error,
// the instance as it was.
int integratorPrepareRestore(ModelInstance* state, ModelInstance* instance, bool* fresh);
// fmi2SetFMUstate of a Co-Simulation instance, after integratorPrepareRestore and after its
// values, time and mode are restored: the state's integrator data back, the discarded work
// booked as rejected, CVODE restarted (fmi2Error when SUNDIALS refused the restart).
fmi2Status integratorFinishRestore(ModelInstance* state, ModelInstance* instance, bool fresh);
// Both of the above.
fmi2Status integratorRestoreState(ModelInstance* state, ModelInstance* instance);
// fmi2FreeFMUstate: releases the state's record.
void integratorFreeState(ModelInstance* instance, ModelInstance* state);

// Checks a SUNDIALS result and reports a failure under the function's name: "SUNDIALS_ERROR:
// %s() failed - returned NULL pointer" for a null pointer, "SUNDIALS_ERROR: %s() failed with
// flag = %s" for a negative flag; at fmi2Error unless the caller answers the failure with another
// status. 0 passed, 1 failed.
int checkSundialsPointer(const void* result, const char* function, ModelInstance* instance,
                         fmi2Status status = fmi2Error);
int checkSundialsFlag(int flag, const char* function, ModelInstance* instance, fmi2Status status = fmi2Error);
