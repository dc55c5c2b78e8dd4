#include "matrixalgebra.h"

#include <cstdint>
#include <cstring>

#include "errors.h"
#include "linearsolver.h"
#include "workbuffers.h"

namespace {

// What the operations need of one element family. Integer arithmetic goes through uint32_t, where
// wrapping is defined, and back.
template <class Array>
struct Algebra;

template <>
struct Algebra<RealArray> {
  using Element = double;
  static double add(double a, double b) { return a + b; }
  static double sub(double a, double b) { return a - b; }
  static double mul(double a, double b) { return a * b; }
  static double neg(double a) { return -a; }
  static RealArray newMatrix(int32_t rows, int32_t cols) { return RealNewMatrix(rows, cols); }
  static RealArray newVector(int32_t n) { return RealNewVector(n); }
  static double* allocate(int32_t n) { return AllocateReals(n); }
  static int32_t count(RealArray a) { return RealNrElements(a); }
};

template <>
struct Algebra<IntegerArray> {
  using Element = int32_t;
  static int32_t add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
  }
  static int32_t sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
  }
  static int32_t mul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
  }
  static int32_t neg(int32_t a) { return sub(0, a); }
  static IntegerArray newMatrix(int32_t rows, int32_t cols) { return IntegerNewMatrix(rows, cols); }
  static IntegerArray newVector(int32_t n) { return IntegerNewVector(n); }
  static int32_t* allocate(int32_t n) { return AllocateIntegers(n); }
  static int32_t count(IntegerArray a) { return IntegerNrElements(a); }
};

template <class Array>
bool sharesElements(Array res, Array operand) {
  using A = Algebra<Array>;
  const uintptr_t r = reinterpret_cast<uintptr_t>(res.data), o = reinterpret_cast<uintptr_t>(operand.data);
  const uintptr_t size = sizeof(typename A::Element);
  const uintptr_t rEnd = r + static_cast<uintptr_t>(A::count(res)) * size;
  const uintptr_t oEnd = o + static_cast<uintptr_t>(A::count(operand)) * size;
  return r < oEnd && o < rEnd;
}

// out[i][j] := Σk a[i][k]·b[k][j] for a rows × inner and b inner × cols, both row-major. The
// matrix, matrix-vector and vector-matrix products are all this one with a vector as a matrix
// of one column or one row. A result sharing elements with an operand is computed aside first.
template <class Array>
void product(Array res, Array a, Array b, int32_t rows, int32_t inner, int32_t cols) {
  using A = Algebra<Array>;
  using E = typename A::Element;
  const bool aside = sharesElements(res, a) || sharesElements(res, b);
  SavedMarks marks{};
  E* out = res.data;
  if (aside) {
    marks = MarkSave();
    out = A::allocate(rows * cols);
  }
  for (int32_t i = 0; i < rows; ++i) {
    const E* row = a.data + static_cast<size_t>(i) * inner;
    for (int32_t j = 0; j < cols; ++j) {
      E sum = 0;
      for (int32_t k = 0; k < inner; ++k) sum = A::add(sum, A::mul(row[k], b.data[static_cast<size_t>(k) * cols + j]));
      out[static_cast<size_t>(i) * cols + j] = sum;
    }
  }
  if (aside) {
    if (rows * cols > 0) memcpy(res.data, out, static_cast<size_t>(rows) * cols * sizeof(E));
    MarkRestore(marks);
  }
}

template <class Array>
Array outerProduct(Array a, Array b) {
  using A = Algebra<Array>;
  AssertCondition(a.ndims == 1, "a.ndims==1", "Outerproduct require a vector as first argument");
  AssertCondition(b.ndims == 1, "b.ndims==1", "Outerproduct require a vector as second argument");
  const int32_t rows = a.dims[0], cols = b.dims[0];
  Array res = A::newMatrix(rows, cols);
  for (int32_t i = 0; i < rows; ++i)
    for (int32_t j = 0; j < cols; ++j) res.data[static_cast<size_t>(i) * cols + j] = A::mul(a.data[i], b.data[j]);
  return res;
}

template <class Array>
Array identityLike(int32_t n, const typename Algebra<Array>::Element* diagonal) {
  Array res = Algebra<Array>::newMatrix(n, n);
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) res.data[static_cast<size_t>(i) * n + j] = i == j ? (diagonal ? diagonal[i] : 1) : 0;
  return res;
}

template <class Array>
Array diagonal(Array v) {
  AssertCondition(v.ndims == 1, "a.ndims==1", "diagonal requires vector input");
  return identityLike<Array>(v.dims[0], v.data);
}

template <class Array>
Array cross(Array x, Array y) {
  using A = Algebra<Array>;
  Array res = A::newVector(3);
  AssertCondition((x.ndims == 1) && (y.ndims == 1), "(x.ndims==1)&&(y.ndims==1)", "cross requires vector input");
  AssertCondition(x.dims[0] == 3, "x.dims[0]==3", "cross requires 3-vector input for first argument");
  AssertCondition(y.dims[0] == 3, "y.dims[0]==3", "cross requires 3-vector input for second argument");
  const auto* p = x.data;
  const auto* q = y.data;
  res.data[0] = A::sub(A::mul(p[1], q[2]), A::mul(p[2], q[1]));
  res.data[1] = A::sub(A::mul(p[2], q[0]), A::mul(p[0], q[2]));
  res.data[2] = A::sub(A::mul(p[0], q[1]), A::mul(p[1], q[0]));
  return res;
}

template <class Array>
Array skew(Array x) {
  using A = Algebra<Array>;
  Array res = A::newMatrix(3, 3);
  AssertCondition(x.ndims == 1, "x.ndims==1", "skew requires vector input");
  AssertCondition(x.dims[0] == 3, "x.dims[0]==3", "skew requires 3-vector input");
  const auto* v = x.data;
  auto* m = res.data;
  m[0] = 0;          m[1] = A::neg(v[2]); m[2] = v[1];
  m[3] = v[2];       m[4] = 0;            m[5] = A::neg(v[0]);
  m[6] = A::neg(v[1]); m[7] = v[0];       m[8] = 0;
  return res;
}

template <class Array>
Array matMul(Array res, Array a, Array b) {
  AssertCondition(res.ndims == 2, "res.ndims==2", "Matrix multiply gives a matrix as result");
  AssertCondition(a.ndims == 2, "a.ndims==2", "Matrix multiply requires that first operand is a matrix");
  AssertCondition(b.ndims == 2, "b.ndims==2", "Matrix multiply requires that second operand is a matrix");
  AssertCondition(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
                  "Matrix multiply requires that first dimension of result and first argument match");
  AssertCondition(res.dims[1] == b.dims[1], "res.dims[1]==b.dims[1]",
                  "Matrix multiply requires that second dimension of result and second argument match");
  AssertCondition(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
                  "Matrix multiply requires that inner dimensions of operands match");
  product(res, a, b, a.dims[0], a.dims[1], b.dims[1]);
  return res;
}

template <class Array>
Array matVec(Array res, Array a, Array b) {
  AssertCondition(a.ndims == 2, "a.ndims==2", "Matrix times vector requires a matrix as first operand");
  AssertCondition(b.ndims == 1, "b.ndims==1", "Matrix times vector requires a vector as second operand");
  AssertCondition(res.ndims == 1, "res.ndims==1", "Matrix times vector gives a vector result");
  AssertCondition(res.dims[0] == a.dims[0], "res.dims[0]==a.dims[0]",
                  "Matrix times vector: requires size(M*v,1)=size(M,1)");
  AssertCondition(a.dims[1] == b.dims[0], "a.dims[1]==b.dims[0]",
                  "Matrix times vector: requires size(M,2)==size(v,1)");
  product(res, a, b, a.dims[0], a.dims[1], 1);
  return res;
}

template <class Array>
Array vecMat(Array res, Array a, Array b) {
  AssertCondition(a.ndims == 1, "a.ndims==1", "Vector times matrix requires a vector as first operand");
  AssertCondition(b.ndims == 2, "b.ndims==2", "Vector times matrix requires a matrix as second operand");
  AssertCondition(res.ndims == 1, "res.ndims==1", "Vector times matrix gives a vector result");
  AssertCondition(res.dims[0] == b.dims[1], "res.dims[0]==b.dims[1]",
                  "Vector times matrix: requires size(v*M,1)=size(M,2)");
  AssertCondition(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]",
                  "Vector times matrix: requires size(v,1)=size(M,1)");
  product(res, a, b, 1, a.dims[0], b.dims[1]);
  return res;
}

// A size taken from an operand before the checks run: 0 for a dimension the operand lacks.
template <class Array>
int32_t sizeOf(Array a, int32_t dimension) {
  return a.ndims > dimension ? a.dims[dimension] : 0;
}

template <class Array>
Array matMulNew(Array a, Array b) {
  return matMul(Algebra<Array>::newMatrix(sizeOf(a, 0), sizeOf(b, 1)), a, b);
}

template <class Array>
Array matVecNew(Array M, Array v) {
  return matVec(Algebra<Array>::newVector(sizeOf(M, 0)), M, v);
}

template <class Array>
Array vecMatNew(Array v, Array M) {
  return vecMat(Algebra<Array>::newVector(sizeOf(M, 1)), v, M);
}

template <class Array>
typename Algebra<Array>::Element scalarProduct(Array a, Array b) {
  using A = Algebra<Array>;
  AssertCondition(a.ndims == 1, "a.ndims==1", "Scalar product requires vector as first operand");
  AssertCondition(b.ndims == 1, "b.ndims==1", "Scalar product requires vector as second operand");
  AssertCondition(a.dims[0] == b.dims[0], "a.dims[0]==b.dims[0]", "Scalar product requires vectors of matching size");
  typename A::Element sum = 0;
  for (int32_t i = 0; i < a.dims[0]; ++i) sum = A::add(sum, A::mul(a.data[i], b.data[i]));
  return sum;
}

template <class Array>
Array matrixPower(Array a, int n) {
  AssertCondition(n >= 0, "n>=0", "Matrices can only be raised to positive integer");
  AssertCondition(a.ndims == 2, "a.ndims==2", "Matrix raised to a positive integer requires a matrix as first operand");
  AssertCondition(a.dims[0] == a.dims[1], "a.dims[0]==a.dims[1]",
                  "Matrix raised to a positive integer requires a square matrix as first operand");
  if (n == 0) return identityLike<Array>(a.dims[0], nullptr);
  if (n == 1) return a;
  if (n % 2) return matMulNew(matrixPower(a, n - 1), a);
  const Array half = matrixPower(a, n / 2);
  return matMulNew(half, half);
}

}  // namespace

RealArray RealOuterProduct(RealArray a, RealArray b) { return outerProduct(a, b); }
IntegerArray IntegerOuterProduct(IntegerArray a, IntegerArray b) { return outerProduct(a, b); }
RealArray RealDiagonal(RealArray v) { return diagonal(v); }
IntegerArray IntegerDiagonal(IntegerArray v) { return diagonal(v); }
RealArray RealCross(RealArray x, RealArray y) { return cross(x, y); }
IntegerArray IntegerCross(IntegerArray x, IntegerArray y) { return cross(x, y); }
RealArray RealSkew(RealArray x) { return skew(x); }
IntegerArray IntegerSkew(IntegerArray x) { return skew(x); }
RealArray RealMatMul(RealArray res, RealArray a, RealArray b) { return matMul(res, a, b); }
IntegerArray IntegerMatMul(IntegerArray res, IntegerArray a, IntegerArray b) { return matMul(res, a, b); }
RealArray RealMatVec(RealArray res, RealArray M, RealArray v) { return matVec(res, M, v); }
IntegerArray IntegerMatVec(IntegerArray res, IntegerArray M, IntegerArray v) { return matVec(res, M, v); }
RealArray RealVecMat(RealArray res, RealArray v, RealArray M) { return vecMat(res, v, M); }
IntegerArray IntegerVecMat(IntegerArray res, IntegerArray v, IntegerArray M) { return vecMat(res, v, M); }
RealArray RealMatMulNew(RealArray a, RealArray b) { return matMulNew(a, b); }
IntegerArray IntegerMatMulNew(IntegerArray a, IntegerArray b) { return matMulNew(a, b); }
RealArray RealMatVecNew(RealArray M, RealArray v) { return matVecNew(M, v); }
IntegerArray IntegerMatVecNew(IntegerArray M, IntegerArray v) { return matVecNew(M, v); }
RealArray RealVecMatNew(RealArray v, RealArray M) { return vecMatNew(v, M); }
IntegerArray IntegerVecMatNew(IntegerArray v, IntegerArray M) { return vecMatNew(v, M); }
double RealScalarProduct(RealArray a, RealArray b) { return scalarProduct(a, b); }
int IntegerScalarProduct(IntegerArray a, IntegerArray b) { return scalarProduct(a, b); }
RealArray RealIdentity(int n) { return identityLike<RealArray>(n, nullptr); }
IntegerArray IntegerIdentity(int n) { return identityLike<IntegerArray>(n, nullptr); }
RealArray RealMatrixPower(RealArray A, int n) { return matrixPower(A, n); }
IntegerArray IntegerMatrixPower(IntegerArray A, int n) { return matrixPower(A, n); }

RealArray RealInverse(RealArray A) {
  AssertCondition(A.ndims == 2, "A.ndims==2", "Can only invert matrices");
  AssertCondition(A.dims[0] == A.dims[1], "A.dims[0]==A.dims[1]", "Can only invert square matrices");
  const int32_t n = A.dims[0];
  RealArray result = RealNewLike(A);
  const SavedMarks marks = MarkSave();
  double* work = AllocateReals(n * (n + 6) + 4);
  int32_t* ints = AllocateIntegers(2 * n + 1);
  const int32_t system = 0, mode = linearSolverNoLU | linearSolverEquilibrate, off = 0;
  const double time = 0.0;
  int32_t solverState = 0, failed = 0;
  // The solver reads the row-major elements as the column-major transpose, so solving with e_i
  // gives row i of the inverse in place; the factorisation of the first row serves every row.
  for (int32_t i = 0; i < n; ++i) {
    double* row = result.data + static_cast<size_t>(i) * n;
    for (int32_t j = 0; j < n; ++j) row[j] = i == j;
    int32_t error = 0;
    SolveLinearSystemDefault(&system, &mode, A.data, &A.dims[0], &A.dims[1], row, &time, &off, &off,
                             work, ints, &solverState, &error);
    failed |= error;
  }
  if (failed && n == 1) {
    result.data[0] = 0.0;
    failed = 0;
  }
  int32_t IError = failed;
  AssertCondition(IError == 0, "IError==0", "Inverse failed");
  MarkRestore(marks);
  return result;
}
