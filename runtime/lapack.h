// The LAPACK and BLAS routines the runtime calls, declared for their Fortran interface: every
// argument by address, INTEGER as int32_t, and after the listed arguments one hidden length
// (size_t) per CHARACTER argument, in the order of those arguments. The routines come from the
// reference LAPACK and BLAS archives linked into the unit.
//
// LAPACK reports an illegal argument through xerbla_, which the runtime supplies: it sends
// "LAPACK routine %s: argument %d has an illegal value" as an error-level runtime text and
// returns, so that the routine returns to its caller with its INFO set, instead of the library's
// own handler writing to standard output and stopping the process.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

void xerbla_(const char* routine, const int32_t* argument, size_t routineLength);

// ---- LAPACK --------------------------------------------------------------------------------
void dgeequ_(const int32_t* m, const int32_t* n, const double* a, const int32_t* lda, double* r,
             double* c, double* rowcnd, double* colcnd, double* amax, int32_t* info);
void dlaqge_(const int32_t* m, const int32_t* n, double* a, const int32_t* lda, const double* r,
             const double* c, const double* rowcnd, const double* colcnd, const double* amax,
             char* equed, size_t equedLength);
void dgetrf_(const int32_t* m, const int32_t* n, double* a, const int32_t* lda, int32_t* ipiv,
             int32_t* info);
double dlange_(const char* norm, const int32_t* m, const int32_t* n, const double* a,
               const int32_t* lda, double* work, size_t normLength);
void dgecon_(const char* norm, const int32_t* n, const double* a, const int32_t* lda,
             const double* anorm, double* rcond, double* work, int32_t* iwork, int32_t* info,
             size_t normLength);
void dgetrs_(const char* trans, const int32_t* n, const int32_t* nrhs, const double* a,
             const int32_t* lda, const int32_t* ipiv, double* b, const int32_t* ldb, int32_t* info,
             size_t transLength);
void dgeqpf_(const int32_t* m, const int32_t* n, double* a, const int32_t* lda, int32_t* jpvt,
             double* tau, double* work, int32_t* info);
void dlaic1_(const int32_t* job, const int32_t* j, const double* x, const double* sest,
             const double* w, const double* gamma, double* sestpr, double* s, double* c);
void dtzrqf_(const int32_t* m, const int32_t* n, double* a, const int32_t* lda, double* tau,
             int32_t* info);
void dorm2r_(const char* side, const char* trans, const int32_t* m, const int32_t* n,
             const int32_t* k, const double* a, const int32_t* lda, const double* tau, double* c,
             const int32_t* ldc, double* work, int32_t* info, size_t sideLength,
             size_t transLength);
void dlatzm_(const char* side, const int32_t* m, const int32_t* n, const double* v,
             const int32_t* incv, const double* tau, double* c1, double* c2, const int32_t* ldc,
             double* work, size_t sideLength);

// ---- BLAS ----------------------------------------------------------------------------------
void dtrsm_(const char* side, const char* uplo, const char* transa, const char* diag,
            const int32_t* m, const int32_t* n, const double* alpha, const double* a,
            const int32_t* lda, double* b, const int32_t* ldb, size_t sideLength,
            size_t uploLength, size_t transaLength, size_t diagLength);
void dgemv_(const char* trans, const int32_t* m, const int32_t* n, const double* alpha,
            const double* a, const int32_t* lda, const double* x, const int32_t* incx,
            const double* beta, double* y, const int32_t* incy, size_t transLength);
void dcopy_(const int32_t* n, const double* x, const int32_t* incx, double* y,
            const int32_t* incy);
}
