// The model's static side: identity, start values, dimensions and the Jacobian structure.
#include "model.h"

const char modelGUID[] = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";
const char modelLibraryFileName[] = "Quenzel.so";

namespace {

// Start values of the parameters, in their order.
const double parameterStartValues[modelParameters] = {
    1,      // outputSelector
    1,      // filter.k
    1,      // filter.T
    1,      // filter.yStart
    1,      // limiter.uMax
    10000,  // limiter.uMin
    1,      // limiter1.uMax
    10000,  // limiter1.uMin
    1,      // limitedFilter.k
    1,      // limitedFilter.T
    1,      // limitedFilter.yStart
    1500,   // inputSwitch.alternative
    1,      // greaterThreshold.threshold
    0,      // timeSource.offset
    0,      // timeSource.startTime
};

void put(int* out, int value) {
  if (out) *out = value;
}

// The counts every dimension function but the auxiliary one starts with.
void putVariableCounts(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np) {
  put(nx, modelStates);
  put(unused1, 0);
  put(nu, modelInputs);
  put(ny, modelOutputs);
  put(nw, modelAuxiliaries);
  put(np, modelParameters);
}

}  // namespace

void setStartValues(double* states, double* parameters, double* inputs) {
  if (parameters)
    for (int i = 0; i < modelParameters; ++i) parameters[i] = parameterStartValues[i];
  if (inputs) inputs[inputU] = 1;
  if (states) {
    states[stateFilterY] = 0;
    states[stateLimitedFilterY] = 0;
  }
}

void declareVariables(double* states, double* parameters, double* inputs, void* /*strings*/,
                      int* /*qiErr*/, int /*unused*/, void* /*writer*/) {
  setStartValues(states, parameters, inputs);
}

void declare_(double* states, double* parameters, double* inputs, void* strings, int* qiErr) {
  declareVariables(states, parameters, inputs, strings, qiErr, 0, nullptr);
}

void getDriverDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* unused6,
                         int* ncross, int* nrel, int* unused9, int* unused10) {
  putVariableCounts(nx, unused1, nu, ny, nw, np);
  put(unused6, 0);
  put(ncross, modelCrossingPairs);
  put(nrel, modelRelations);
  put(unused9, 0);
  put(unused10, 0);
}

void getInstanceDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* ns,
                           int* ncross, int* nrel, int* unused9, int* unused10, int* nExtra,
                           int* nExtra2) {
  // The driver's counts, the string variables (none) standing in the driver's unused seventh.
  static_assert(modelStrings == 0, "the seventh driver count is 0");
  getDriverDimensions(nx, unused1, nu, ny, nw, np, ns, ncross, nrel, unused9, unused10);
  put(nExtra, modelExtraValues);
  put(nExtra2, modelExtraValues2);
}

void getModelDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* value6,
                        int* unused7, int* unused8) {
  putVariableCounts(nx, unused1, nu, ny, nw, np);
  put(value6, 5);
  put(unused7, 0);
  put(unused8, 0);
}

void getAuxDimensions(int* value0, int* value1, int* unused2, int* unused3, int* unused4,
                      int* unused5, int* unused6, int* unused7, int* unused8, int* unused9) {
  put(value0, 5);
  put(value1, 1);
  int* zeros[] = {unused2, unused3, unused4, unused5, unused6, unused7, unused8, unused9};
  for (int* out : zeros) put(out, 0);
}

// One group holding both states: each derivative depends only on its own state, so one
// perturbation of both states serves both columns.
const int jacobianColumnGroups[jacobianTableSize] = {
    1,        // groups
    2, 1, 2,  // group 1: two columns, states 1 and 2
    0,        // unused room of the group list
    1, 2,     // row table of group 1: row 1 on column 1, row 2 on column 2
    0, 0,     // row table of a second group (none)
};
static_assert(jacobianRowTablePosition == 5, "the row table follows the group list");
