// The vectors of range expressions (start:stride:stop) and of linspace, elementwise not, and and
// or of Boolean arrays (IntegerArrays; any nonzero element is true, results hold 0 and 1), and the
// rising edges of a when-clause over a Boolean vector.
#pragma once

#include "matrixop.h"

// start, start + stride, ... not beyond stop; element i is i * stride + start. The count allows
// for a last step that the quotient misses by a rounding error: 0:0.1:0.3 has 4 elements.
// Note the order of the arguments: the stop before the stride.
RealArray RealRange(double start, double stop, double stride);
// start, then each element the previous one plus stride, not beyond stop.
IntegerArray IntegerRange(int start, int stop, int stride);
// n >= 2 equally spaced values from x1 to x2; the last is x2 itself.
RealArray RealLinspace(double x1, double x2, int n);

IntegerArray BooleanNot(IntegerArray a);
IntegerArray BooleanAnd(IntegerArray a, IntegerArray b);
IntegerArray BooleanOr(IntegerArray a, IntegerArray b);

// One call of a when-clause over the condition vector cond. An element whose condition is false
// gets state 1; an element whose condition is true fires when edges is nonzero and eval (may it
// fire now) is nonzero for it: its state becomes 0 and *fired is set to 1 (never cleared here).
// Other elements keep their state. state, owned by the caller, needs at least cond's count.
// Returns 1 when an element fired in this call.
int IntegerWhenEdges(IntegerArray cond, IntegerArray eval, IntegerArray state, int edges,
                     int* fired);
