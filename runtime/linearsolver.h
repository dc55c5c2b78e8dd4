// The dense solver of square linear systems A·x = b on LAPACK. Optional equilibration; then an LU
// factorisation, accepted while its reciprocal condition estimate exceeds tol; otherwise a QR
// factorisation with column pivoting and an incremental rank estimate, giving the solution of
// minimum distance from a reference point. The factorisation stays in the caller's arrays for
// further right-hand sides.
//
// Matrices are column-major, every scalar is passed by address, positions in texts are 1-based.
// The caller owns every array:
//   work         n·n + 6n doubles: the factors and, behind them, Householder scalars, scratch,
//                the saved right-hand side and the row and column scale factors;
//   pivots       n + 1: LU pivots or the QR column order; pivots[n] the rank of a held QR;
//   marks        n: after a QR solve, 1 for each variable the solution cannot determine, else 0;
//   solverState  0 before the first call for a matrix, and whenever the matrix changes.
// Nothing is checked of n and lda (n ≥ 1, lda ≥ n); no failure ends the evaluation.
#pragma once

#include <cstdint>

// solverState bits
enum LinearSolverState : int32_t {
  linearSolverLU = 1,            // an LU factorisation is held
  linearSolverQR = 2,            // a QR factorisation is held
  linearSolverRowScaled = 0x100,
  linearSolverColumnScaled = 0x200
};

// mode bits
enum LinearSolverMode : int32_t { linearSolverNoLU = 1, linearSolverEquilibrate = 2 };

// status
enum LinearSolverStatus : int32_t {
  linearSolverSolved = 0,
  linearSolverMinimumNorm = 1,  // rank-deficient, solved with the minimum-norm solution
  linearSolverRejected = 2      // a non-finite solution or a residual component above tol
};

// x holds b on entry and the solution on return. reference (n doubles, may be null): the point
// from which a rank-deficient solution has minimum distance. names (n, may be null) name the
// variables in texts. solverOptions (may be null): a nonzero element [2] keeps status 2 from being
// set (its texts still go out). Texts go out through LogMessage: "Rhs component %d of system %d is
// %e" for a non-finite b, "Solution component %d of system %d is %e" or "In system %d %.140s%s =
// %e" for a non-finite solution, "Residual component %d of system %d is %e".
void SolveLinearSystem(const int32_t* mode, const double* A, const int32_t* lda, const int32_t* n,
                       double* x, const double* reference, const double* tol, int32_t* pivots,
                       double* work, int32_t* marks, int32_t* solverState, int32_t* status,
                       const int32_t* systemNumber, const char* const* names,
                       const int32_t* solverOptions);

// SolveLinearSystem with tol 1e7·DBL_EPSILON, or 1e11·DBL_EPSILON when solverOptions[0] is
// nonzero; ints holds the pivots (n + 1) and then the marks (n). A rank-deficient system (when
// reportSwitch is 1 and reportLevel at least 80) and a rejected one are reported through the
// message sink, naming the undetermined variables; error := 1 for a rejected system, else 0.
void SolveLinearSystemReport(const int32_t* systemNumber, const int32_t* mode, const double* A,
                             const int32_t* lda, const int32_t* n, double* x,
                             const double* reference, const double* time,
                             const int32_t* reportSwitch, const int32_t* reportLevel, double* work,
                             int32_t* ints, int32_t* solverState, const char* const* names,
                             int32_t* error, const int32_t* solverOptions);

// SolveLinearSystemReport without reference, names and options.
void SolveLinearSystemDefault(const int32_t* systemNumber, const int32_t* mode, const double* A,
                              const int32_t* lda, const int32_t* n, double* x, const double* time,
                              const int32_t* reportSwitch, const int32_t* reportLevel,
                              double* work, int32_t* ints, int32_t* solverState, int32_t* error);
