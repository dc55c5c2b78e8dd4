// The initial history of a delay buffer from two Real vectors.
#include "delayhistory.h"

#include "delays.h"
#include "errors.h"

int DelayInitialHistory(int bufferSize, double x0, int unused, RealArray initialPoints,
                        RealArray initialValues) {
  (void)unused;
  AssertCondition(initialPoints.ndims == 1, "initialPoints.ndims==1",
                  "Initial Points should be a vector");
  AssertCondition(initialValues.ndims == 1, "initialValues.ndims==1",
                  "Initial Values should be a vector");
  AssertCondition(initialPoints.dims[0] == initialValues.dims[0],
                  "initialPoints.dims[0]==initialValues.dims[0]",
                  "Initial Points and Values should have size");
  return DelayInitialHistoryPoints(bufferSize, x0, initialPoints.data, initialValues.data,
                                   initialPoints.dims[0]);
}
