// Subscripting and subscripted assignment of the three array families. The list is decoded into
// a table on the stack first; every later pass walks the table. The logic exists once, as
// templates over the record; SUBSCRIPT_FAMILY stamps out the named entry points.
#include "subscripts.h"

#include <cstring>

#include "arrayaccess.h"
#include "arrayfamily.h"
#include "errors.h"

namespace {

// The element count of start:step:stop, 0 for an empty range in either direction. In 64 bits:
// stop - start + step does not fit in 32 for distant bounds.
int64_t RangeCount(const SubscriptDescriptor* e) {
  int64_t m = (static_cast<int64_t>(e->stop) - e->start + e->step) / e->step;
  return m > 0 ? m : 0;
}

bool IsRange(int32_t kind) { return kind == subscriptRange || kind == subscriptStepRange; }

// The one walk behind both copy workers. `dense` is the side that holds every position (the
// subscript result, or the assignment's copied source), `selected` the side the list applies to;
// p and d run over dense, q and k over selected. Only the direction of the block copy differs.
template <bool put, class Array>
void Walk(Array dense, int64_t p, int32_t d, Array selected, int64_t q, int32_t k, int64_t block,
          const SubscriptDescriptor* e) {
  switch (e->kind) {
    case subscriptColon: {
      int64_t n = selected.dims[k];
      for (int64_t i = 0; i < n; ++i)
        Walk<put>(dense, p * n + i, d + 1, selected, q * n + i, k + 1, block, e + 1);
      break;
    }
    case subscriptRange:
    case subscriptStepRange: {
      int64_t c = dense.dims[d];  // the range's count
      for (int64_t i = 0; i < c; ++i)
        Walk<put>(dense, p * c + i, d + 1, selected,
                  q * selected.dims[k] + (e->start - 1) + i * e->step, k + 1, block, e + 1);
      break;
    }
    case subscriptVector: {
      int64_t c = dense.dims[d];  // the vector's length
      for (int64_t i = 0; i < c; ++i)
        Walk<put>(dense, p * c + i, d + 1, selected, q * selected.dims[k] + e->vector.data[i] - 1,
                  k + 1, block, e + 1);
      break;
    }
    case subscriptScalar:
      Walk<put>(dense, p, d, selected, q * selected.dims[k] + e->start - 1, k + 1, block, e + 1);
      break;
    case subscriptEnd:
      if (block <= 0) break;
      if (put)
        memcpy(selected.data + q * block, dense.data + p * block,
               sizeof(*dense.data) * static_cast<size_t>(block));
      else
        memcpy(dense.data + p * block, selected.data + q * block,
               sizeof(*dense.data) * static_cast<size_t>(block));
      break;
    default:
      break;
  }
}

template <class Array>
void Get(Array out, int64_t p, int32_t d, Array src, int64_t q, int32_t k, int64_t block,
         const SubscriptDescriptor* e) {
  Walk<false>(out, p, d, src, q, k, block, e);
}

template <class Array>
void Put(Array out, int64_t p, int32_t d, Array src, int64_t q, int32_t k, int64_t block,
         const SubscriptDescriptor* e) {
  Walk<true>(src, q, k, out, p, d, block, e);
}

// The product of the sizes from dimension `from` on. Unsigned, so that a product that wraps is
// defined; such a block belongs to an empty array and is never copied.
int64_t TrailingBlock(int32_t ndims, const int32_t* dims, int32_t from) {
  uint64_t block = 1;
  for (int32_t j = from; j < ndims; ++j) block *= static_cast<uint64_t>(dims[j]);
  return static_cast<int64_t>(block);
}

template <class Array>
Array Subscript(Array a, va_list list) {
  SubscriptDescriptor table[subscriptTableSize];
  DecodeSubscripts(list, table, subscriptTableSize);

  int32_t nargs = 0;
  int32_t ndims = a.ndims;
  for (const SubscriptDescriptor* e = table; e->kind != subscriptEnd; ++e) {
    if (e->kind == subscriptScalar) {
      AssertCondition(ndims > 0, "ndims>0", "Internal error in subscriptring of array");
      --ndims;
    }
    ++nargs;
  }
  AssertCondition(nargs <= a.ndims, "nargs<=a.ndims", "Too many subscripts for array");

  Array result;
  result.ndims = ndims;
  result.dims = AllocateSizes(ndims);
  int32_t d = 0;
  int32_t k = 0;
  for (const SubscriptDescriptor* e = table; e->kind != subscriptEnd; ++e, ++k) {
    int32_t dim = a.dims[k];
    if (e->kind == subscriptColon) {
      result.dims[d++] = dim;
    } else if (IsRange(e->kind)) {
      int64_t m = RangeCount(e);
      if (m > 0) {
        AssertCondition((e->start >= 1) && (e->start <= dim), "(start>=1)&&(start<=a.dims[a_dim])",
                        "Range subscripting: start out of range");
        AssertCondition((e->stop >= 1) && (e->stop <= dim), "(stop >=1)&&(stop <=a.dims[a_dim])",
                        "Range subscripting: end out of range");
      }
      result.dims[d++] = static_cast<int32_t>(m);
    } else if (e->kind == subscriptVector) {
      IntegerArray v = e->vector;
      AssertCondition(v.ndims == 1, "v.ndims==1",
                      "Array subscripting: only vectors (and scalars) allowed as indicies");
      result.dims[d++] = v.dims[0];
      for (int32_t i = 0; i < v.dims[0]; ++i)
        AssertCondition((v.data[i] >= 1) && (v.data[i] <= dim),
                        "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])",
                        "Array subscripting: vector index out of range");
    } else {
      AssertCondition((e->start >= 1) && (e->start <= dim), "(i>=1)&&(i<=a.dims[a_dim])",
                      "Array subscripting: scalar index out of range");
    }
  }
  for (int32_t j = nargs; j < a.ndims; ++j) result.dims[d++] = a.dims[j];
  int64_t block = TrailingBlock(a.ndims, a.dims, nargs);

  result = WithElements(result);
  Get(result, 0, 0, a, 0, 0, block, table);
  return result;
}

// The shape checks of out[list] := a, in list order; the block of the trailing dimensions.
template <class Array>
int64_t CheckAssignment(Array out, Array a, const SubscriptDescriptor* table) {
  int32_t d = 0;  // out_dim
  int32_t k = 0;  // a_dim
  const SubscriptDescriptor* e = table;
  for (; e->kind != subscriptEnd; ++e) {
    if (e->kind == subscriptColon) {
      AssertCondition(d < out.ndims, "out_dim<out.ndims", "Internal error in subscripting (:)");
      AssertCondition(k < a.ndims, "a_dim<a.ndims", "Internal error in subscripting (:)");
      AssertCondition(out.dims[d] == a.dims[k], "out.dims[out_dim]==a.dims[a_dim]",
                      "Assignment array subscripting: A[:]=B must have identical sizes");
      ++d;
      ++k;
    } else if (IsRange(e->kind)) {
      AssertCondition(d < out.ndims, "out_dim<out.ndims", "Internal error in subscripting: range");
      AssertCondition(k < a.ndims, "a_dim<a.ndims", "Internal error in subscripting: range ");
      int64_t m = RangeCount(e);
      if (m > 0) {
        AssertCondition((e->start >= 1) && (e->start <= out.dims[d]),
                        "(start>=1)&&(start<=out.dims[out_dim])",
                        "Assignment array subscripting: start of range out of bounds");
        AssertCondition((e->stop >= 1) && (e->stop <= out.dims[d]),
                        "(stop>=1)&&(stop<=out.dims[out_dim])",
                        "Assignment array subscripting: end of range out of bounds");
      }
      AssertCondition(a.dims[k] == m, "a.dims[a_dim]==num",
                      "Assignment array subscripting: A[a:b]=B must have identical sizes");
      ++d;
      ++k;
    } else if (e->kind == subscriptVector) {
      IntegerArray v = e->vector;
      AssertCondition(d < out.ndims, "out_dim<out.ndims", "Internal error in vector subscripting");
      AssertCondition(k < a.ndims, "a_dim<a.ndims", "Internal error in vector subscripting");
      AssertCondition(v.ndims == 1, "v.ndims==1",
                      "Assignment array subscripting: array index must be a vector");
      AssertCondition(a.dims[k] == v.dims[0], "a.dims[a_dim]==v.dims[0]",
                      "Assignment array subscripting: A[vect]=B must have identical sizes");
      for (int32_t i = 0; i < v.dims[0]; ++i)
        AssertCondition((v.data[i] >= 1) && (v.data[i] <= out.dims[d]),
                        "(v.data[i]>=1)&&(v.data[i]<=out.dims[out_dim])",
                        "Assignment array subscripting: vector index out of bounds");
      ++d;
      ++k;
    } else {
      AssertCondition(d < out.ndims, "out_dim<out.ndims", "Internal error in scalar subscripting");
      AssertCondition((e->start >= 1) && (e->start <= out.dims[d]),
                      "(i>=1)&&(i<=out.dims[out_dim])",
                      "Assignment array subscripting: scalar index out of bounds");
      ++d;  // a scalar consumes no source dimension
    }
  }
  AssertCondition(a.ndims - k == out.ndims - d, "a.ndims-a_dim==out.ndims-out_dim",
                  "Assignment array subscripting: unequal number of dimensions");
  for (int32_t j = k; j < a.ndims; ++j)
    AssertCondition(a.dims[j] == out.dims[d + (j - k)], "a.dims[i]==out.dims[(i-a_dim)+out_dim]",
                    "Internal error in subscripting");
  return TrailingBlock(a.ndims, a.dims, k);
}

template <class Array>
void SubscriptAssign(Array source, Array out, va_list list, Array (*copy)(Array)) {
  SubscriptDescriptor table[subscriptTableSize];
  DecodeSubscripts(list, table, subscriptTableSize);
  Array a = copy(source);
  int64_t block = CheckAssignment(out, a, table);
  Put(out, 0, 0, a, 0, 0, block, table);
}

}  // namespace

SubscriptDescriptor* DecodeSubscripts(va_list list, SubscriptDescriptor* table, int capacity) {
  for (int i = 0;; ++i) {
    int32_t kind = va_arg(list, int32_t);
    AssertCondition(i + 4 < capacity, "i+4<num_VA_handler", "Out of memory for va_list");
    // Operands of an unknown kind cannot be skipped: reading on could go beyond the arguments.
    AssertCondition((kind >= subscriptColon) && (kind <= subscriptEnd), "(kind>=0)&&(kind<=5)",
                    "Internal error in subscripting: unknown kind of subscript");
    SubscriptDescriptor* e = &table[i];
    e->kind = kind;
    switch (kind) {
      case subscriptRange:
        e->start = va_arg(list, int32_t);
        e->stop = va_arg(list, int32_t);
        e->step = 1;
        break;
      case subscriptStepRange:
        e->start = va_arg(list, int32_t);
        e->step = va_arg(list, int32_t);
        e->stop = va_arg(list, int32_t);
        AssertCondition(e->step != 0, "step!=0", "Range subscripting: step must not be zero");
        break;
      case subscriptVector:
        e->vector = va_arg(list, IntegerArray);
        break;
      case subscriptScalar:
        e->start = va_arg(list, int32_t);
        break;
      case subscriptEnd:
        return table;
      default:
        break;
    }
  }
}

#define SUBSCRIPT_FAMILY(Prefix, Array)                                                         \
  Array Prefix##Subscript(Array a, ...) {                                                       \
    va_list list;                                                                               \
    va_start(list, a);                                                                          \
    Array result = Subscript(a, list);                                                          \
    va_end(list);                                                                               \
    return result;                                                                              \
  }                                                                                             \
  void Prefix##SubscriptAssign(Array source, Array target, ...) {                               \
    va_list list;                                                                               \
    va_start(list, target);                                                                     \
    SubscriptAssign(source, target, list, Prefix##Copy);                                        \
    va_end(list);                                                                               \
  }                                                                                             \
  void Prefix##SubscriptGet(Array out, int64_t p, int32_t d, Array src, int64_t q, int32_t k,   \
                            int64_t block, const SubscriptDescriptor* e) {                      \
    Get(out, p, d, src, q, k, block, e);                                                        \
  }                                                                                             \
  void Prefix##SubscriptPut(Array out, int64_t p, int32_t d, Array src, int64_t q, int32_t k,   \
                            int64_t block, const SubscriptDescriptor* e) {                      \
    Put(out, p, d, src, q, k, block, e);                                                        \
  }

SUBSCRIPT_FAMILY(Real, RealArray)
SUBSCRIPT_FAMILY(Integer, IntegerArray)
SUBSCRIPT_FAMILY(String, StringArray)
