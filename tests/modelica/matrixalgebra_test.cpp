// Matrix algebra: products against hand-worked values (aliased results included), cross and skew,
// diagonal and identity, Integer wrapping, powers, the inverse through the linear solver, and the
// checks of every operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "failed_check.h"
#include "guarded_call.h"
#include "matrixalgebra.h"
#include "workbuffers.h"

namespace {

// Arrays of the thread's work buffers, released after each test. Earlier tests in the same
// process may leave the marks anywhere, even past a buffer's end.
class MatrixAlgebra : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    MarkReset();
  }
  void TearDown() override { MarkReset(); }
};

// Initializer lists, not vectors: the helpers also run inside guarded calls, whose jump skips
// destructors.
template <class Array, class Element>
Array Filled(Array a, std::initializer_list<Element> v) {
  size_t i = 0;
  for (Element e : v) a.data[i++] = e;
  return a;
}
RealArray RealM(int32_t rows, int32_t cols, std::initializer_list<double> v) { return Filled(RealNewMatrix(rows, cols), v); }
RealArray RealV(std::initializer_list<double> v) { return Filled(RealNewVector(static_cast<int32_t>(v.size())), v); }
IntegerArray IntM(int32_t rows, int32_t cols, std::initializer_list<int32_t> v) { return Filled(IntegerNewMatrix(rows, cols), v); }
IntegerArray IntV(std::initializer_list<int32_t> v) { return Filled(IntegerNewVector(static_cast<int32_t>(v.size())), v); }

template <class Array>
auto Elements(Array a) {
  int32_t count = 1;
  for (int32_t k = 0; k < a.ndims; ++k) count *= a.dims[k];
  return std::vector<std::remove_pointer_t<decltype(a.data)>>(a.data, a.data + count);
}
template <class Array>
std::vector<int32_t> Dims(Array a) {
  return std::vector<int32_t>(a.dims, a.dims + a.ndims);
}

using Reals = std::vector<double>;
using Ints = std::vector<int32_t>;

}  // namespace

TEST_F(MatrixAlgebra, ProductsGiveHandWorkedValues) {
  RealArray a = RealM(2, 3, {1, 2, 3, 4, 5, 6});
  RealArray b = RealM(3, 4, {1, 0, 2, -1, 0, 1, 1, 2, 3, -2, 0, 1});
  RealArray ab = RealMatMulNew(a, b);
  EXPECT_EQ(Dims(ab), (Ints{2, 4}));
  EXPECT_EQ(Elements(ab), (Reals{10, -4, 4, 6, 22, -7, 13, 12}));
  EXPECT_EQ(Elements(RealMatVecNew(a, RealV({1, -1, 2}))), (Reals{5, 11}));
  EXPECT_EQ(Elements(RealVecMatNew(RealV({2, -1}), a)), (Reals{-2, -1, 0}));
  EXPECT_EQ(RealScalarProduct(RealV({1, 2, 3}), RealV({4, -5, 6})), 12.0);
  RealArray outer = RealOuterProduct(RealV({1, 2}), RealV({3, 4, 5}));
  EXPECT_EQ(Dims(outer), (Ints{2, 3}));
  EXPECT_EQ(Elements(outer), (Reals{3, 4, 5, 6, 8, 10}));

  IntegerArray ia = IntM(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(Elements(IntegerMatMulNew(ia, IntM(3, 1, {1, 1, 1}))), (Ints{6, 15}));
  EXPECT_EQ(Elements(IntegerMatVecNew(ia, IntV({1, -1, 2}))), (Ints{5, 11}));
  EXPECT_EQ(Elements(IntegerVecMatNew(IntV({2, -1}), ia)), (Ints{-2, -1, 0}));
  EXPECT_EQ(IntegerScalarProduct(IntV({1, 2, 3}), IntV({4, -5, 6})), 12);
  EXPECT_EQ(Elements(IntegerOuterProduct(IntV({-1, 2}), IntV({3, 4}))), (Ints{-3, -4, 6, 8}));

  // Into a given result, which is returned.
  RealArray res = RealNewMatrix(2, 4);
  RealArray returned = RealMatMul(res, a, b);
  EXPECT_EQ(returned.data, res.data);
  EXPECT_EQ(Elements(res), Elements(ab));
  // Empty inner dimension: every sum is 0.
  EXPECT_EQ(Elements(RealMatMulNew(RealNewMatrix(2, 0), RealNewMatrix(0, 2))), (Reals{0, 0, 0, 0}));
}

TEST_F(MatrixAlgebra, ResultThatIsAnOperandIsComputedAside) {
  struct Case {
    const char* what;
    Reals (*run)(void);
    Reals expected;
  } cases[] = {
      {"A := A·A", [] { RealArray A = RealM(2, 2, {1, 2, 3, 4}); return Elements(RealMatMul(A, A, A)); },
       {7, 10, 15, 22}},
      {"A := A·B", [] { RealArray A = RealM(2, 2, {1, 2, 3, 4}); return Elements(RealMatMul(A, A, RealM(2, 2, {0, 1, 1, 0}))); },
       {2, 1, 4, 3}},
      {"B := A·B", [] { RealArray B = RealM(2, 2, {0, 1, 1, 0}); return Elements(RealMatMul(B, RealM(2, 2, {1, 2, 3, 4}), B)); },
       {2, 1, 4, 3}},
      {"v := M·v", [] { RealArray v = RealV({1, 1}); return Elements(RealMatVec(v, RealM(2, 2, {1, 2, 3, 4}), v)); },
       {3, 7}},
      {"v := v·M", [] { RealArray v = RealV({1, 1}); return Elements(RealVecMat(v, v, RealM(2, 2, {1, 2, 3, 4}))); },
       {4, 6}},
      {"a row of A := its first row times A", [] {
         RealArray A = RealM(2, 2, {1, 2, 3, 4});
         RealArray row{1, A.dims + 1, A.data};  // a view of the first row
         RealVecMat(row, row, A);
         return Elements(A);
       }, {7, 10, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.run(), c.expected);
  }
  IntegerArray A = IntM(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(Elements(IntegerMatMul(A, A, A)), (Ints{7, 10, 15, 22}));
  // The temporary is released again.
  BufferMark before, after;
  MarkGet(&before);
  RealArray B = RealM(2, 2, {1, 0, 0, 1});
  MarkGet(&before);
  RealMatMul(B, B, B);
  MarkGet(&after);
  EXPECT_EQ(after.place.Realbuffer, before.place.Realbuffer);
}

TEST_F(MatrixAlgebra, CrossSkewDiagonalAndIdentity) {
  EXPECT_EQ(Elements(RealCross(RealV({1, 2, 3}), RealV({4, 5, 6}))), (Reals{-3, 6, -3}));
  EXPECT_EQ(Elements(IntegerCross(IntV({1, 0, 0}), IntV({0, 1, 0}))), (Ints{0, 0, 1}));
  RealArray s = RealSkew(RealV({1, 2, 3}));
  EXPECT_EQ(Dims(s), (Ints{3, 3}));
  EXPECT_EQ(Elements(s), (Reals{0, -3, 2, 3, 0, -1, -2, 1, 0}));
  // skew(x)·y is cross(x, y).
  EXPECT_EQ(Elements(RealMatVecNew(s, RealV({4, 5, 6}))), (Reals{-3, 6, -3}));
  EXPECT_EQ(Elements(IntegerSkew(IntV({1, 2, 3}))), (Ints{0, -3, 2, 3, 0, -1, -2, 1, 0}));
  EXPECT_EQ(Elements(RealDiagonal(RealV({1, 2}))), (Reals{1, 0, 0, 2}));
  EXPECT_EQ(Elements(IntegerDiagonal(IntV({3}))), (Ints{3}));
  EXPECT_EQ(Elements(RealIdentity(3)), (Reals{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(Elements(IntegerIdentity(2)), (Ints{1, 0, 0, 1}));
  EXPECT_EQ(Dims(RealIdentity(0)), (Ints{0, 0}));
}

TEST_F(MatrixAlgebra, IntegerArithmeticWrapsIn32Bits) {
  EXPECT_EQ(IntegerScalarProduct(IntV({65536, 2}), IntV({65536, 1})), 2);
  EXPECT_EQ(IntegerScalarProduct(IntV({INT32_MAX, 1}), IntV({1, 1})), INT32_MIN);
  EXPECT_EQ(Elements(IntegerMatMulNew(IntM(1, 2, {INT32_MAX, INT32_MAX}), IntM(2, 1, {2, 1}))),
            (Ints{static_cast<int32_t>(3u * INT32_MAX)}));
  EXPECT_EQ(Elements(IntegerCross(IntV({INT32_MIN, 0, 0}), IntV({0, 0, 1}))), (Ints{0, INT32_MIN, 0}));
  EXPECT_EQ(Elements(IntegerSkew(IntV({INT32_MIN, 0, 0})))[5], INT32_MIN);
}

TEST_F(MatrixAlgebra, PowersFromZeroToFive) {
  RealArray A = RealM(3, 3, {1, 1, 0, 0, 1, 1, 1, 0, 2});
  RealArray expected = RealIdentity(3);
  for (int n = 0; n <= 5; ++n) {
    SCOPED_TRACE(n);
    RealArray p = RealMatrixPower(A, n);
    EXPECT_EQ(Dims(p), (Ints{3, 3}));
    EXPECT_EQ(Elements(p), Elements(expected));
    expected = RealMatMulNew(expected, A);
  }
  EXPECT_EQ(RealMatrixPower(A, 1).data, A.data);  // A itself
  IntegerArray B = IntM(2, 2, {1, 1, 1, 0});      // Fibonacci
  EXPECT_EQ(Elements(IntegerMatrixPower(B, 5)), (Ints{8, 5, 5, 3}));
  EXPECT_EQ(Elements(IntegerMatrixPower(B, 0)), (Ints{1, 0, 0, 1}));
}

namespace {

// max |A·X − I| for square row-major A and X.
double DistanceFromIdentity(RealArray A, RealArray X) {
  RealArray P = RealMatMulNew(A, X);
  const int32_t n = A.dims[0];
  double worst = 0.0;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) worst = std::fmax(worst, std::fabs(P.data[i * n + j] - (i == j)));
  return worst;
}

}  // namespace

TEST_F(MatrixAlgebra, InversesCheckedByMultiplication) {
  EXPECT_EQ(Elements(RealInverse(RealM(2, 2, {2, 0, 0, 4}))), (Reals{0.5, 0, 0, 0.25}));
  // Unsymmetric, so a transposed inverse would show.
  RealArray U = RealM(2, 2, {1, 2, 0, 1});
  RealArray inverseU = RealInverse(U);
  const Reals expectedU = {1, -2, 0, 1};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(inverseU.data[k], expectedU[k], 1e-15);

  RealArray W = RealM(3, 3, {4, -2, 1, 3, 6, -4, 2, 1, 8});
  EXPECT_LT(DistanceFromIdentity(W, RealInverse(W)), 1e-14);

  // Badly scaled and ill-conditioned (Hilbert of order 6, condition about 1.5e7).
  RealArray S = RealM(2, 2, {1e12, 2e12, 3e-6, 1e-6});
  EXPECT_LT(DistanceFromIdentity(RealInverse(S), S), 1e-14);
  RealArray H = RealNewMatrix(6, 6);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) H.data[i * 6 + j] = 1.0 / (i + j + 1);
  EXPECT_LT(DistanceFromIdentity(H, RealInverse(H)), 1e-8);

  // The solver's workspace is released; the result stays.
  BufferMark before, after;
  MarkGet(&before);
  RealInverse(W);
  MarkGet(&after);
  EXPECT_EQ(after.place.Realbuffer - before.place.Realbuffer, 9);
  EXPECT_EQ(after.place.Integerbuffer, before.place.Integerbuffer);
}

TEST_F(MatrixAlgebra, InverseOfZeroByOneIsZeroAndOfLargerSingularMatricesFails) {
  RealArray inverse{};
  GuardedCallResult zero = GuardedCall([&] { inverse = RealInverse(RealM(1, 1, {0})); });
  ExpectNoFailure(zero);
  EXPECT_EQ(Elements(inverse), (Reals{0}));
  // The solver's text and the position of the undetermined variable from its report.
  EXPECT_EQ(zero.texts(), (std::vector<std::string>{"Residual component 1 of system 0 is 1.000000e+00", "... 1"}));

  struct Case {
    const char* what;
    int32_t n;
    Reals elements;
  } cases[] = {
      {"rank 1", 2, {1, 2, 2, 4}},
      {"zero row", 2, {1, 0, 0, 0}},
      {"zero matrix", 3, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"rank 2 of 3", 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // Only the first row's solve fails; the last one succeeds and must not hide it.
      {"zero first row", 2, {0, 0, 0, 1}},
      {"zero middle row", 3, {1, 0, 0, 0, 0, 0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RealArray A = RealNewMatrix(c.n, c.n);
    std::copy(c.elements.begin(), c.elements.end(), A.data);
    GuardedCallResult r = GuardedCall([&] { RealInverse(A); });
    ASSERT_TRUE(r.jumped);
    // The solver's texts for each row come first, then the failed check.
    std::vector<std::string> texts = r.texts();
    auto check = std::find(texts.begin(), texts.end(), "IError==0");
    ASSERT_NE(check, texts.end());
    EXPECT_GT(check - texts.begin(), 0);
    ASSERT_GE(texts.end() - check, 3);
    EXPECT_EQ(check[2], "Inverse failed");
  }
}

TEST_F(MatrixAlgebra, ChecksFailWithTheirTexts) {
  struct Case {
    const char* condition;
    const char* message;
    void (*call)(void);
  } cases[] = {
      {"a.ndims==1", "Outerproduct require a vector as first argument", [] { RealOuterProduct(RealM(1, 1, {}), RealV({1})); }},
      {"b.ndims==1", "Outerproduct require a vector as second argument", [] { IntegerOuterProduct(IntV({1}), IntM(1, 1, {})); }},
      {"a.ndims==1", "diagonal requires vector input", [] { RealDiagonal(RealM(1, 1, {})); }},
      {"(x.ndims==1)&&(y.ndims==1)", "cross requires vector input", [] { RealCross(RealV({1, 2, 3}), RealM(3, 1, {})); }},
      {"x.dims[0]==3", "cross requires 3-vector input for first argument", [] { RealCross(RealV({1, 2}), RealV({1, 2})); }},
      {"y.dims[0]==3", "cross requires 3-vector input for second argument", [] { IntegerCross(IntV({1, 2, 3}), IntV({1})); }},
      {"x.ndims==1", "skew requires vector input", [] { RealSkew(RealM(3, 1, {})); }},
      {"x.dims[0]==3", "skew requires 3-vector input", [] { IntegerSkew(IntV({1, 2, 3, 4})); }},
      {"res.ndims==2", "Matrix multiply gives a matrix as result", [] { RealMatMul(RealV({0}), RealM(1, 1, {}), RealM(1, 1, {})); }},
      {"a.ndims==2", "Matrix multiply requires that first operand is a matrix", [] { RealMatMulNew(RealV({1}), RealM(1, 1, {})); }},
      {"b.ndims==2", "Matrix multiply requires that second operand is a matrix", [] { IntegerMatMulNew(IntM(1, 1, {}), IntV({1})); }},
      {"res.dims[0]==a.dims[0]", "Matrix multiply requires that first dimension of result and first argument match",
       [] { RealMatMul(RealNewMatrix(3, 4), RealNewMatrix(2, 3), RealNewMatrix(3, 4)); }},
      {"res.dims[1]==b.dims[1]", "Matrix multiply requires that second dimension of result and second argument match",
       [] { RealMatMul(RealNewMatrix(2, 3), RealNewMatrix(2, 3), RealNewMatrix(3, 4)); }},
      {"a.dims[1]==b.dims[0]", "Matrix multiply requires that inner dimensions of operands match",
       [] { RealMatMulNew(RealNewMatrix(2, 3), RealNewMatrix(2, 4)); }},
      {"a.ndims==2", "Matrix times vector requires a matrix as first operand", [] { RealMatVecNew(RealV({1}), RealV({1})); }},
      {"b.ndims==1", "Matrix times vector requires a vector as second operand", [] { IntegerMatVecNew(IntM(1, 1, {}), IntM(1, 1, {})); }},
      {"res.ndims==1", "Matrix times vector gives a vector result", [] { RealMatVec(RealNewMatrix(1, 1), RealNewMatrix(1, 1), RealV({1})); }},
      {"res.dims[0]==a.dims[0]", "Matrix times vector: requires size(M*v,1)=size(M,1)",
       [] { RealMatVec(RealNewVector(3), RealNewMatrix(2, 2), RealNewVector(2)); }},
      {"a.dims[1]==b.dims[0]", "Matrix times vector: requires size(M,2)==size(v,1)",
       [] { RealMatVecNew(RealNewMatrix(2, 2), RealNewVector(3)); }},
      {"a.ndims==1", "Vector times matrix requires a vector as first operand", [] { RealVecMatNew(RealNewMatrix(1, 1), RealNewMatrix(1, 1)); }},
      {"b.ndims==2", "Vector times matrix requires a matrix as second operand", [] { IntegerVecMatNew(IntV({1}), IntV({1})); }},
      {"res.ndims==1", "Vector times matrix gives a vector result", [] { RealVecMat(RealNewMatrix(1, 1), RealV({1}), RealNewMatrix(1, 1)); }},
      {"res.dims[0]==b.dims[1]", "Vector times matrix: requires size(v*M,1)=size(M,2)",
       [] { RealVecMat(RealNewVector(2), RealNewVector(2), RealNewMatrix(2, 3)); }},
      {"a.dims[0]==b.dims[0]", "Vector times matrix: requires size(v,1)=size(M,1)",
       [] { RealVecMatNew(RealNewVector(3), RealNewMatrix(2, 3)); }},
      {"a.ndims==1", "Scalar product requires vector as first operand", [] { RealScalarProduct(RealM(1, 1, {}), RealV({1})); }},
      {"b.ndims==1", "Scalar product requires vector as second operand", [] { IntegerScalarProduct(IntV({1}), IntM(1, 1, {})); }},
      {"a.dims[0]==b.dims[0]", "Scalar product requires vectors of matching size", [] { RealScalarProduct(RealV({1}), RealV({1, 2})); }},
      {"n>=0", "Matrices can only be raised to positive integer", [] { RealMatrixPower(RealIdentity(3), -1); }},
      {"a.ndims==2", "Matrix raised to a positive integer requires a matrix as first operand", [] { IntegerMatrixPower(IntV({1}), 2); }},
      {"a.dims[0]==a.dims[1]", "Matrix raised to a positive integer requires a square matrix as first operand",
       [] { RealMatrixPower(RealNewMatrix(2, 3), 0); }},
      {"A.ndims==2", "Can only invert matrices", [] { RealInverse(RealV({1})); }},
      {"A.dims[0]==A.dims[1]", "Can only invert square matrices", [] { RealInverse(RealNewMatrix(2, 3)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.condition) + ": " + c.message);
    ExpectFailedCheck(GuardedCall(c.call), c.condition, c.message);
  }
}

TEST_F(MatrixAlgebra, CrossAndSkewAllocateBeforeTheyCheck) {
  struct Case {
    void (*call)(RealArray);
    int32_t reals;
  } cases[] = {{[](RealArray v) { RealCross(v, v); }, 3}, {[](RealArray v) { RealSkew(v); }, 9}};
  for (const Case& c : cases) {
    RealArray v = RealV({1, 2});
    BufferMark before{}, after{};
    GuardedCallResult r = GuardedCall([&] {
      MarkGet(&before);
      MarkGet(&after);  // overwritten by the call when it returns
      c.call(v);
    });
    ASSERT_TRUE(r.jumped);
    MarkGet(&after);
    EXPECT_EQ(after.place.Realbuffer - before.place.Realbuffer, c.reals);
  }
}
