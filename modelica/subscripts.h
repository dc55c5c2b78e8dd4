// Subscripting of the array records (matrixop.h): A[list] as a new array and A[list] := B.
//
// The subscript list follows the array argument(s) as variable arguments: per leading dimension
// a kind (int32_t, SubscriptKind) and its operands (int32_t each, or one IntegerArray record by
// value), always ended by subscriptEnd. Dimensions after the last subscript are taken whole.
// A list holds at most 96 entries counting its end; it is read once, and never beyond that
// bound, so a list that lacks its end marker fails with "Out of memory for va_list". A step of
// 0 and an unknown kind fail as well.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "matrixop.h"

enum SubscriptKind {
  subscriptColon = 0,      // no operands: the whole dimension
  subscriptRange = 1,      // start, stop: start, start+1, ..., stop
  subscriptStepRange = 2,  // start, step, stop: start, start+step, ... up to (or down to) stop
  subscriptVector = 3,     // one IntegerArray of 1-based indices, repetitions allowed
  subscriptScalar = 4,     // index: the dimension disappears from a subscript result
  subscriptEnd = 5
};

// One decoded list entry; only the fields of its kind are meaningful.
struct SubscriptDescriptor {
  int32_t kind;
  union {
    struct {
      int32_t start;  // ranges: the first index; subscriptScalar: the index
      int32_t step;   // subscriptRange: 1
      int32_t stop;
    };
    IntegerArray vector;  // subscriptVector: a copy of the record, its elements are not copied
  };
};

// The number of descriptors the subscript functions decode into; four are kept in reserve.
enum { subscriptTableSize = 100 };

// Reads the list into table (capacity descriptors) up to and including its end marker; returns
// table. Fails with "i+4<num_VA_handler" when entry i with i+4 >= capacity is read.
SubscriptDescriptor* DecodeSubscripts(va_list list, SubscriptDescriptor* table, int capacity);

// A new array of the elements a[list], in the work buffers. Its ndims is a.ndims less the number
// of scalar subscripts; its sizes are, in list order, one per other subscript, then a's trailing
// sizes.
RealArray RealSubscript(RealArray a, ...);
IntegerArray IntegerSubscript(IntegerArray a, ...);
StringArray StringSubscript(StringArray a, ...);

// target[list] := source. The source is copied first, so that storage it shares with the target
// is read as it was; every check runs before the first element of the target is written.
void RealSubscriptAssign(RealArray source, RealArray target, ...);
void IntegerSubscriptAssign(IntegerArray source, IntegerArray target, ...);
void StringSubscriptAssign(StringArray source, StringArray target, ...);

// The copy workers, for lists already checked against both shapes. p and q are the row-major
// positions over the dimensions handled so far (p in out, q in src), d and k the next dimension
// of out and src, e the next descriptor, block the element count of src's (and out's) trailing
// unsubscripted dimensions.
// Get: out is the subscript result, e applies to src.
void RealSubscriptGet(RealArray out, int64_t p, int32_t d, RealArray src, int64_t q, int32_t k,
                      int64_t block, const SubscriptDescriptor* e);
void IntegerSubscriptGet(IntegerArray out, int64_t p, int32_t d, IntegerArray src, int64_t q,
                         int32_t k, int64_t block, const SubscriptDescriptor* e);
void StringSubscriptGet(StringArray out, int64_t p, int32_t d, StringArray src, int64_t q,
                        int32_t k, int64_t block, const SubscriptDescriptor* e);
// Put: out is the assignment's target, e applies to out.
void RealSubscriptPut(RealArray out, int64_t p, int32_t d, RealArray src, int64_t q, int32_t k,
                      int64_t block, const SubscriptDescriptor* e);
void IntegerSubscriptPut(IntegerArray out, int64_t p, int32_t d, IntegerArray src, int64_t q,
                         int32_t k, int64_t block, const SubscriptDescriptor* e);
void StringSubscriptPut(StringArray out, int64_t p, int32_t d, StringArray src, int64_t q,
                        int32_t k, int64_t block, const SubscriptDescriptor* e);
