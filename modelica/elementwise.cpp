// Elementwise arithmetic and reductions. The Real and Integer members share one template per
// operation; the Integer steps go through unsigned arithmetic, where wrapping is defined.
#include "elementwise.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>

#include "arrayfamily.h"
#include "errors.h"
#include "saturate.h"

namespace {

// The arithmetic of one element type.
double Plus(double x, double y) { return x + y; }
int32_t Plus(int32_t x, int32_t y) {
  return static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(y));
}
double Minus(double x, double y) { return x - y; }
int32_t Minus(int32_t x, int32_t y) {
  return static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(y));
}
double Times(double x, double y) { return x * y; }
int32_t Times(int32_t x, int32_t y) {
  return static_cast<int32_t>(static_cast<uint32_t>(x) * static_cast<uint32_t>(y));
}
double Negated(double x) { return -x; }
int32_t Negated(int32_t x) { return static_cast<int32_t>(0u - static_cast<uint32_t>(x)); }

template <class Array, class Op>
Array Combine(Array res, Array a, Array b, Op op, const char* argumentsMessage,
              const char* resultMessage) {
  using F = Family<Array>;
  AssertCondition(F::MatchingSizes(a, b), F::matchingAB, argumentsMessage);
  AssertCondition(F::MatchingSizes(res, a), F::matchingResA, resultMessage);
  const int32_t n = F::NrElements(a);
  for (int32_t i = 0; i < n; ++i) res.data[i] = op(a.data[i], b.data[i]);
  return res;
}

template <class Array>
Array Add(Array res, Array a, Array b) {
  using Element = typename Family<Array>::Element;
  return Combine(
      res, a, b, [](Element x, Element y) { return Plus(x, y); },
      "Add of arrays require arguments of matching size",
      "Add of arrays require result of matching size");
}

template <class Array>
Array Subtract(Array res, Array a, Array b) {
  using Element = typename Family<Array>::Element;
  return Combine(
      res, a, b, [](Element x, Element y) { return Minus(x, y); },
      "Subtract of arrays require arguments of matching size",
      "Subtract of arrays require result of matching size");
}

template <class Array>
Array Scale(Array res, Array a, typename Family<Array>::Element s) {
  using F = Family<Array>;
  AssertCondition(F::MatchingSizes(res, a), F::matchingResA,
                  "Array times scalar require result of matching size");
  const int32_t n = F::NrElements(a);
  for (int32_t i = 0; i < n; ++i) res.data[i] = Times(s, a.data[i]);
  return res;
}

template <class Array>
Array Negate(Array res, Array a) {
  using F = Family<Array>;
  AssertCondition(F::MatchingSizes(res, a), F::matchingResA,
                  "Negating a matrix require result of matching size");
  const int32_t n = F::NrElements(a);
  for (int32_t i = 0; i < n; ++i) res.data[i] = Negated(a.data[i]);
  return res;
}

// A reduction from a starting value, one step per element in storage order.
template <class Array, class Element, class Step>
Element Reduce(Array a, Element start, Step step) {
  const int32_t n = Family<Array>::NrElements(a);
  Element s = start;
  for (int32_t i = 0; i < n; ++i) s = step(s, a.data[i]);
  return s;
}

}  // namespace

#define ARITHMETIC_FAMILY(Prefix, Array, Scalar)                                             \
  Array Prefix##Add(Array res, Array a, Array b) { return Add(res, a, b); }                  \
  Array Prefix##AddNew(Array a, Array b) { return Add(Prefix##NewLike(a), a, b); }           \
  Array Prefix##Subtract(Array res, Array a, Array b) { return Subtract(res, a, b); }        \
  Array Prefix##SubtractNew(Array a, Array b) { return Subtract(Prefix##NewLike(a), a, b); } \
  Array Prefix##Scale(Array res, Array a, Scalar s) { return Scale(res, a, s); }             \
  Array Prefix##ScaleNew(Array a, Scalar s) { return Scale(Prefix##NewLike(a), a, s); }      \
  Array Prefix##Negate(Array res, Array a) { return Negate(res, a); }                        \
  Array Prefix##NegateNew(Array a) { return Negate(Prefix##NewLike(a), a); }

ARITHMETIC_FAMILY(Real, RealArray, double)
ARITHMETIC_FAMILY(Integer, IntegerArray, int)

RealArray RealScaleDiv(RealArray a, double t) {
  AssertCondition(t != 0, "t!=0", "Division by zero in function RealScaleDiv");
  return RealScale(RealNewLike(a), a, 1 / t);
}

double RealSum(RealArray a) {
  return Reduce(a, 0.0, [](double s, double x) { return s + x; });
}

int IntegerSum(IntegerArray a) {
  return Reduce(a, int32_t{0}, [](int32_t s, int32_t x) { return Plus(s, x); });
}

double RealSumAbs(RealArray a) {
  // A NaN is subtracted, so the sum becomes NaN.
  return Reduce(a, 0.0, [](double s, double x) { return x > 0 ? s + x : s - x; });
}

int IntegerSumAbs(IntegerArray a) {
  return Reduce(a, int32_t{0},
                [](int32_t s, int32_t x) { return x <= 0 ? Minus(s, x) : Plus(s, x); });
}

double RealMax(RealArray a) {
  return Reduce(a, -DBL_MAX, [](double m, double x) { return x > m ? x : m; });
}

int IntegerMax(IntegerArray a) {
  return Reduce(a, int32_t{INT_MIN}, [](int32_t m, int32_t x) { return x > m ? x : m; });
}

double RealMin(RealArray a) {
  return Reduce(a, DBL_MAX, [](double m, double x) { return x < m ? x : m; });
}

int IntegerMin(IntegerArray a) {
  return Reduce(a, int32_t{INT_MAX}, [](int32_t m, int32_t x) { return x < m ? x : m; });
}

double RealProduct(RealArray a) {
  return Reduce(a, 1.0, [](double p, double x) { return p * x; });
}

int IntegerProduct(IntegerArray a) {
  return Reduce(a, int32_t{1}, [](int32_t p, int32_t x) { return Times(p, x); });
}

double RealDiff(RealArray a, RealArray b) {
  const int32_t max_elem = RealNrElements(a);
  AssertCondition(max_elem == RealNrElements(b), "max_elem==RealNrElements(b)", "Diff");
  double s = 0.0;
  for (int32_t i = 0; i < max_elem; ++i) {
    const double t = (a.data[i] - b.data[i]) / (fabs(a.data[i]) + 1.0);
    s = t > 0 ? s + t : s - t;
  }
  return s;
}

int FloorToInteger(double x) { return SaturatingInt(floor(x)); }

IntegerArray RealToInteger(RealArray a) {
  IntegerArray res;
  res.ndims = a.ndims;
  res.dims = a.dims;
  res = WithElements(res);
  const int32_t n = RealNrElements(a);
  for (int32_t i = 0; i < n; ++i) res.data[i] = FloorToInteger(a.data[i]);
  return res;
}
