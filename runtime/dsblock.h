// The evaluation driver: the single entry through which the FMI layer evaluates the model.
//
// One call computes what the demand asks for at one time point. It binds the record to the
// calling thread, ends the evaluation with QiErr 1 when a runtime error jumps back, runs passes
// of modelEquations, iterates events until the discrete state is consistent (another counted
// pass is started while the iteration counter is at most iterationLimit, 25), continues a failed
// initialisation by homotopy from the simplified to the actual equations, and reports the
// outcome in QiErr, the level reached and eventPhase. The thread's previous record is current
// again when the call returns.
#pragma once

#include "modeldata.h"

// Always returns 0. Arguments 5, 8, 9, 16 and 19 are handed to the model unchanged; demand may
// be rewritten by the inline crossing pre-pass; QiErr is set by the call (the caller clears it
// first). A null record stands for modelDataTemplate.
int dsblock_(int* demand, int* levelReached, double* time, double* states, void* argument5,
             double* inputs, double* parameters, void* argument8, void* argument9,
             double* derivatives, double* outputs, double* auxiliaries, double* crossings,
             double* solverReals, int* solverInts, void* strings, ModelData* modelData, int* qiErr,
             int argument19);

// dsblock_ on modelDataTemplate, argument 19 being 0.
int dsblock_default(int* demand, int* levelReached, double* time, double* states, void* argument5,
                    double* inputs, double* parameters, void* argument8, void* argument9,
                    double* derivatives, double* outputs, double* auxiliaries, double* crossings,
                    double* solverReals, int* solverInts, void* strings, int* qiErr);

// Whether the homotopy continuation can go on from lambda with lambdaStep: lambda within [0, 1]
// and the step within what the driver makes of its start of 0.1 by halving (never below 1e-4
// before it gives up) and doubling. Anything else, which only a restored state can carry, would
// step backwards or take more steps than any initialisation can wait for.
bool HomotopyContinuable(double lambda, double lambdaStep);
