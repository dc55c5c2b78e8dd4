// Ranges, linspace, Boolean arrays and when edges.
#include "ranges.h"

#include <climits>
#include <cmath>
#include <cstdint>

#include "errors.h"
#include "saturate.h"

namespace {

// A vector length as the allocator should be asked for it: a count beyond int32 becomes a
// request no buffer grants, so an overlong range fails with the buffer's own texts.
int32_t VectorLength(int64_t n) {
  if (n < 0) return 0;
  return n > INT_MAX ? INT_MAX : static_cast<int32_t>(n);
}

int64_t FloorDivide(int64_t x, int64_t y) {
  int64_t q = x / y;
  if ((x % y != 0) && ((x < 0) != (y < 0))) --q;
  return q;
}

// and, or: the result is made before the shapes are compared.
template <class Op>
IntegerArray Elementwise(IntegerArray a, IntegerArray b, Op op, const char* message) {
  IntegerArray res = IntegerNewLike(a);
  AssertCondition(IntegerMatchingSizes(a, b), "IntegerMatchingSizes(a,b)", message);
  const int32_t n = IntegerNrElements(a);
  for (int32_t i = 0; i < n; ++i) res.data[i] = op(a.data[i], b.data[i]);
  return res;
}

}  // namespace

RealArray RealRange(double start, double stop, double stride) {
  AssertCondition(stride != 0, "stride!=0", "range requires non-zero stride");
  double span = stop - start;
  double mag = stride;
  if (stride < 0) {
    span = -(stop - start);
    mag = -stride;
  }
  double tol = 0;
  if (mag != floor(mag)) tol = fabs(span);
  if (span != floor(span)) tol += fabs(stop) + fabs(start);
  const double q = floor((tol * 1.11022302462516e-16 + span) / mag);
  AssertCondition(!std::isnan(q), "!isnan((stop-start)/stride)",
                  "range requires numeric bounds and stride");
  const int32_t n = VectorLength(int64_t{SaturatingInt(q)} + 1);
  RealArray res = RealNewVector(n);
  for (int32_t i = 0; i < n; ++i) res.data[i] = i * stride + start;
  return res;
}

IntegerArray IntegerRange(int start, int stop, int stride) {
  AssertCondition(stride != 0, "stride!=0", "range requires non-zero stride");
  // Formed wide, so that a span beyond int32 still counts right; every element then lies
  // between start and stop.
  const int32_t n = VectorLength(FloorDivide(int64_t{stop} - start, stride) + 1);
  IntegerArray res = IntegerNewVector(n);
  int64_t value = start;
  for (int32_t i = 0; i < n; ++i, value += stride) res.data[i] = static_cast<int32_t>(value);
  return res;
}

RealArray RealLinspace(double x1, double x2, int n) {
  AssertCondition(n >= 2, "n>=2", "Linspace number of point>=2");
  RealArray res = RealNewVector(n);
  const double c = (x2 - x1) / (n - 1);
  for (int i = 0; i < n - 1; ++i) res.data[i] = i * c + x1;
  res.data[n - 1] = x2;
  return res;
}

IntegerArray BooleanNot(IntegerArray a) {
  IntegerArray res = IntegerNewLike(a);
  const int32_t n = IntegerNrElements(a);
  for (int32_t i = 0; i < n; ++i) res.data[i] = a.data[i] == 0;
  return res;
}

IntegerArray BooleanAnd(IntegerArray a, IntegerArray b) {
  return Elementwise(
      a, b, [](int32_t x, int32_t y) { return x != 0 && y != 0; },
      "and of arrays require arguments of matching size");
}

IntegerArray BooleanOr(IntegerArray a, IntegerArray b) {
  return Elementwise(
      a, b, [](int32_t x, int32_t y) { return x != 0 || y != 0; },
      "or of arrays require arguments of matching size");
}

int IntegerWhenEdges(IntegerArray cond, IntegerArray eval, IntegerArray state, int edges,
                     int* fired) {
  AssertCondition(IntegerMatchingSizes(cond, eval), "IntegerMatchingSizes(cond,eval)",
                  "Internal error in array when.");
  const int32_t n = IntegerNrElements(cond);
  AssertCondition(IntegerNrElements(state) >= n,
                  "IntegerNrElements(state)>=IntegerNrElements(cond)",
                  "Internal error in array when.");
  int any = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (cond.data[i] == 0) {
      state.data[i] = 1;
    } else if (edges != 0 && eval.data[i] != 0) {
      *fired = 1;
      state.data[i] = 0;
      any = 1;
    }
  }
  return any;
}
