// Arrays of the three families for table tests, and guarded runs of array operations.
//
// Array helpers: element k of a family is a value that names k
// (k + 0.5, k, or the k-th of a table of strings), so one expected list of keys serves all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "failed_check.h"
#include "guarded_call.h"
#include "matrixop.h"
#include "workbuffers.h"

// A list of sizes or values that holds no heap memory when written in braces, so that it may be
// built in a frame that a failed check leaves by the error jump.
template <class T>
struct List {
  const T* data = nullptr;
  size_t size = 0;
  List() = default;
  // Braces in a call: the list lives until the end of the call's full expression.
  List(std::initializer_list<T> l) {
    data = l.begin();
    size = l.size();
  }
  List(const std::vector<T>& v) : data(v.data()), size(v.size()) {}
  bool empty() const { return size == 0; }
  T operator[](size_t i) const { return data[i]; }
};

struct RealValues {
  using Array = RealArray;
  static double Value(int k) { return k + 0.5; }
  static int Key(double v) { return static_cast<int>(v - 0.5); }
  static double* Allocate(int n) { return AllocateReals(n); }
};

struct IntegerValues {
  using Array = IntegerArray;
  static int32_t Value(int k) { return k; }
  static int Key(int32_t v) { return v; }
  static int32_t* Allocate(int n) { return AllocateIntegers(n); }
};

struct StringValues {
  using Array = StringArray;
  static constexpr int tableSize = 256;
  static char* Value(int k) { return table[k]; }
  static int Key(char* v) { return static_cast<int>(v - table[0]) / 4; }
  static char** Allocate(int n) { return AllocateStrings(n); }
  static char table[tableSize][4];
};

inline char StringValues::table[tableSize][4] = {};

// A work-buffer array of the given sizes whose element i is Value(keys[i]); with no keys, the
// elements are keys 0, 1, 2, ...
template <class Values>
typename Values::Array MakeArray(List<int32_t> dims, List<int> keys = {}) {
  typename Values::Array a;
  a.ndims = static_cast<int32_t>(dims.size);
  a.dims = AllocateSizes(a.ndims);
  for (int32_t k = 0; k < a.ndims; ++k) a.dims[k] = dims[static_cast<size_t>(k)];
  const int count = ElementsToAllocate(a.ndims, a.dims);
  a.data = Values::Allocate(count);
  for (int32_t i = 0; i < count; ++i)
    a.data[i] = Values::Value(keys.empty() ? i : keys[static_cast<size_t>(i)]);
  return a;
}

template <class Values, class Array>
std::vector<int> Keys(Array a, int32_t count) {
  std::vector<int> keys;
  for (int32_t i = 0; i < count; ++i) keys.push_back(Values::Key(a.data[i]));
  return keys;
}

// The elements themselves.
template <class Array>
auto Values(Array a) {
  const int32_t n = DimsNrElements(a.ndims, a.dims);
  return std::vector<std::remove_pointer_t<decltype(a.data)>>(a.data, a.data + n);
}

template <class Array>
std::vector<int32_t> Dims(Array a) {
  return std::vector<int32_t>(a.dims, a.dims + (a.ndims > 0 ? a.ndims : 0));
}

// A work-buffer array of the given sizes holding the given values (as many as the sizes need).
template <class Array, class Element>
Array ArrayOf(List<int32_t> dims, List<Element> values) {
  Array a;
  a.ndims = static_cast<int32_t>(dims.size);
  a.dims = AllocateSizes(a.ndims);
  for (int32_t k = 0; k < a.ndims; ++k) a.dims[k] = dims[static_cast<size_t>(k)];
  const int n = static_cast<int>(values.size);
  if constexpr (sizeof(Element) == sizeof(double)) {
    a.data = AllocateReals(n);
  } else {
    a.data = AllocateIntegers(n);
  }
  for (size_t i = 0; i < values.size; ++i) a.data[i] = values[i];
  return a;
}

inline RealArray Reals(List<int32_t> dims, List<double> values) {
  return ArrayOf<RealArray, double>(dims, values);
}

inline IntegerArray Integers(List<int32_t> dims, List<int32_t> values) {
  return ArrayOf<IntegerArray, int32_t>(dims, values);
}

// Runs body under the guard from a reset mark; it must not fail.
template <class Body>
void ExpectSucceeds(Body body) {
  ExpectNoFailure(GuardedCall([&] {
    MarkReset();
    body();
  }));
}

// A result to build and the sizes and keys it must have.
template <class Values>
struct BuildCase {
  const char* name;
  typename Values::Array (*make)(void);
  std::vector<int32_t> dims;
  std::vector<int> keys;
};

template <class Values, size_t N>
void ExpectEachBuilds(const BuildCase<Values> (&cases)[N]) {
  for (const BuildCase<Values>& c : cases) {
    SCOPED_TRACE(c.name);
    typename Values::Array a{};
    ExpectSucceeds([&] { a = c.make(); });
    EXPECT_EQ(Dims(a), c.dims);
    EXPECT_EQ(Keys<Values>(a, DimsNrElements(a.ndims, a.dims)), c.keys);
  }
}

// A call that must fail with these texts.
struct FailingCall {
  const char* name;
  void (*call)(void);
  std::string condition;
  std::string message;
};

// Runs each call from a reset mark and checks the texts of its failed check.
template <size_t N>
void ExpectEachFails(const FailingCall (&cases)[N]) {
  for (const FailingCall& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFailedCheck(GuardedCall([&] {
                        MarkReset();
                        c.call();
                      }),
                      c.condition, c.message);
  }
}
