// The Modelica-level initial history of a delay buffer: a grid buffer filled from a vector of
// abscissae and a vector of values.
#pragma once

#include "matrixop.h"

// Checks that initialPoints and initialValues are vectors of one size, then fills a grid buffer
// of bufferSize points on [x0, x0 + 1] from the points x0 + initialPoints[k] with their values,
// entered from the last point to the first at the left end (DelayInitialHistoryPoints of the
// runtime's delay buffers). Empty vectors give a grid of zeros. Returns the buffer's number. The
// third argument has no effect. A failed check ends the evaluation through AssertCondition.
int DelayInitialHistory(int bufferSize, double x0, int unused, RealArray initialPoints,
                        RealArray initialValues);
