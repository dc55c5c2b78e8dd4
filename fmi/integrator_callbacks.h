// What CVODE calls back while it integrates a Co-Simulation instance (the user data is always
// the ModelInstance): the right-hand side, the root function, and the Jacobian by difference
// quotients over the model's structural column groups. Each evaluates the model on the
// instance's own arrays, with `states` pointed at CVODE's vector for the call and the time,
// state pointer and extrapolated inputs restored afterwards.
#pragma once

#include <nvector/nvector_serial.h>
#include <sundials/sundials_matrix.h>

#include <cstdint>

struct ModelInstance;
struct CoSimIntegrator;

// Positive: use the sparse direct solver on that many cores. A constant of the unit: 0, the
// dense solver.
extern const int32_t useSparseSolver;

extern "C" {
// 0; 1 recoverable failure (the model evaluation failed with QiErr 1); -1 unrecoverable (any
// other failure: the integration call ends and the driver takes the error exit afterwards).
int integratorRhs(double t, N_Vector y, N_Vector ydot, void* instance);
// 0; -1 failure.
int integratorRootFunction(double t, N_Vector y, double* gout, void* instance);
// Dense Jacobian for CVODE's dense direct solver. 0; 1 recoverable failure; -1 unrecoverable.
int integratorDenseJacobian(double t, N_Vector y, N_Vector fy, SUNMatrix J, void* instance, N_Vector tmp1,
                            N_Vector tmp2, N_Vector tmp3);
// Compressed-column Jacobian for a sparse direct solver (J a SUNSparseMatrix in CSC form, with
// the pattern of integratorSparsePattern); the arguments come untyped through the sparse
// solver's interface.
int integratorSparseJacobian(double t, void* y, void* fy, void* J, void* instance, void* tmp1, void* tmp2, void* tmp3);
}

// Stores the model's number of column groups into integratorGroupCount.
void integratorSetGroupCount(int32_t groups);

// Non-zeros of the sparse pattern for nx states; 0 selects the dense solver (always, unless the
// unit is built to use the sparse solver).
int32_t integratorCountNonzeros(uint64_t nx);

// Builds the sparse pattern into the record (arrays from the instance's allocateMemory). Returns
// the largest distance between an entry's row and column, or -1 when an allocation failed.
int32_t integratorSparsePattern(ModelInstance* instance, CoSimIntegrator* integrator, uint64_t nx, int32_t nonZeros);
