// Matrix algebra of Modelica for Real and Integer arrays: outer product, diagonal, cross, skew,
// matrix and vector products (into a given result, or into a new one), scalar product, identity,
// matrix powers, and the inverse of a Real matrix through the runtime's linear solver.
//
// Products sum in index order starting from 0, each element independently. A result that shares
// elements with an operand is computed through a temporary, so it may be an operand itself.
// Integer arithmetic is 32-bit and wraps around on overflow. New results come from the calling
// thread's work buffers. A failed check ends the evaluation through AssertCondition.
#pragma once

#include <cstdint>

#include "matrixop.h"

RealArray RealOuterProduct(RealArray a, RealArray b);
IntegerArray IntegerOuterProduct(IntegerArray a, IntegerArray b);
RealArray RealDiagonal(RealArray v);
IntegerArray IntegerDiagonal(IntegerArray v);
// The result is allocated before the operands are checked.
RealArray RealCross(RealArray x, RealArray y);
IntegerArray IntegerCross(IntegerArray x, IntegerArray y);
RealArray RealSkew(RealArray x);
IntegerArray IntegerSkew(IntegerArray x);

// res := a·b, M·v, v·M; returns res.
RealArray RealMatMul(RealArray res, RealArray a, RealArray b);
IntegerArray IntegerMatMul(IntegerArray res, IntegerArray a, IntegerArray b);
RealArray RealMatVec(RealArray res, RealArray M, RealArray v);
IntegerArray IntegerMatVec(IntegerArray res, IntegerArray M, IntegerArray v);
RealArray RealVecMat(RealArray res, RealArray v, RealArray M);
IntegerArray IntegerVecMat(IntegerArray res, IntegerArray v, IntegerArray M);

// The same into a new result sized from the operands (a dimension an operand lacks counts as 0,
// and the product's own checks reject the operand).
RealArray RealMatMulNew(RealArray a, RealArray b);
IntegerArray IntegerMatMulNew(IntegerArray a, IntegerArray b);
RealArray RealMatVecNew(RealArray M, RealArray v);
IntegerArray IntegerMatVecNew(IntegerArray M, IntegerArray v);
RealArray RealVecMatNew(RealArray v, RealArray M);
IntegerArray IntegerVecMatNew(IntegerArray v, IntegerArray M);

double RealScalarProduct(RealArray a, RealArray b);
int IntegerScalarProduct(IntegerArray a, IntegerArray b);

RealArray RealIdentity(int n);
IntegerArray IntegerIdentity(int n);

// A^n by squaring; n = 0 gives the identity, n = 1 returns A itself (its elements, not a copy).
RealArray RealMatrixPower(RealArray A, int n);
IntegerArray IntegerMatrixPower(IntegerArray A, int n);

// A^-1 through the linear solver (equilibrated QR, one factorisation for all rows). A singular
// matrix fails with "Inverse failed", except a 1 x 1 one, whose inverse is taken as [0].
RealArray RealInverse(RealArray A);
