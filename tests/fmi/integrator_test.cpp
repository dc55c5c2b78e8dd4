// The integrator's callbacks and set-up on a real Co-Simulation instance of the model: what
// no fmi2 function shows directly (the grouped Jacobian, the increments, the evaluation frame,
// the tolerances CVODE is given, the sparse pattern).
#include "integrator.h"

#include <cvode/cvode.h>
#include <gtest/gtest.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <cmath>
#include <vector>

#include "cosim_instance.h"
#include "integrator_callbacks.h"
#include "model.h"

namespace {

class IntegratorTest : public CoSimInstanceTest {
 protected:
  void SetUp() override {
    CoSimInstanceTest::SetUp();
    if (HasFatalFailure()) return;
    SUNContext_Create(nullptr, &context);
    y = N_VNew_Serial(2, context);
    fy = N_VNew_Serial(2, context);
    for (N_Vector& v : tmp) v = N_VNew_Serial(2, context);
    J = SUNDenseMatrix(2, 2, context);
    yData()[0] = instance->states[0];
    yData()[1] = instance->states[1];
  }

  void TearDown() override {
    for (N_Vector v : {y, fy, tmp[0], tmp[1], tmp[2]})
      if (v) N_VDestroy(v);
    if (J) SUNMatDestroy(J);
    SUNContext_Free(&context);
    CoSimInstanceTest::TearDown();
  }

  double* yData() { return N_VGetArrayPointer(y); }
  const IntegratorStatistics& statistics() const { return instance->integrator->statistics; }
  int jacobian() { return integratorDenseJacobian(instance->time, y, fy, J, instance, tmp[0], tmp[1], tmp[2]); }
  int rhs(N_Vector into) { return integratorRhs(instance->time, y, into, instance); }

  SUNContext context = nullptr;
  N_Vector y = nullptr, fy = nullptr;
  N_Vector tmp[3] = {};
  SUNMatrix J = nullptr;
};

// One group holds both columns and each row depends on its own column only: one right-hand side
// gives the diagonal, the rest stays 0.
TEST_F(IntegratorTest, GroupedJacobianTakesOneRhsForTheDiagonal) {
  ASSERT_EQ(rhs(fy), 0);
  int rhsBefore = statistics().rhsCalls;
  int jacobiansBefore = statistics().jacobianCalls;
  double* tmp2Data = N_VGetArrayPointer(tmp[1]);
  double y0 = yData()[0], y1 = yData()[1];

  EXPECT_EQ(jacobian(), 0);
  EXPECT_EQ(statistics().rhsCalls, rhsBefore + 1);
  EXPECT_EQ(statistics().jacobianCalls, jacobiansBefore + 1);
  // d/dx (k u - x) / T with k = T = 1.
  EXPECT_NEAR(SM_ELEMENT_D(J, 0, 0), -1.0, 1e-6);
  EXPECT_NEAR(SM_ELEMENT_D(J, 1, 1), -1.0, 1e-6);
  EXPECT_EQ(SM_ELEMENT_D(J, 0, 1), 0.0);
  EXPECT_EQ(SM_ELEMENT_D(J, 1, 0), 0.0);
  EXPECT_EQ(yData()[0], y0);
  EXPECT_EQ(yData()[1], y1);
  EXPECT_EQ(N_VGetArrayPointer(tmp[1]), tmp2Data);
  EXPECT_EQ(instance->solverInts[solverIntJacobianInProgress], 0);
}

// A failing model sends the grouped evaluation to the column-by-column method, which tries the
// first column five times and then fails recoverably, with the states as they were.
TEST_F(IntegratorTest, FailingRhsFallsBackAndFailsRecoverably) {
  ASSERT_EQ(rhs(fy), 0);
  instance->parameters[parFilterT] = 0.0;  // division by zero at the derivative level
  int rhsBefore = statistics().rhsCalls;
  double y0 = yData()[0], y1 = yData()[1];
  double* states = instance->states;
  double time = instance->time;

  EXPECT_EQ(jacobian(), 1);
  EXPECT_EQ(statistics().rhsCalls, rhsBefore + 1 + 5);
  EXPECT_EQ(yData()[0], y0);
  EXPECT_EQ(yData()[1], y1);
  EXPECT_EQ(instance->states, states);
  EXPECT_EQ(instance->time, time);
  EXPECT_EQ(instance->solverInts[solverIntJacobianInProgress], 0);
}

// Increments: a negative state is perturbed downwards; with fy of weighted norm 0 the minimum
// increment is 1, so each column's increment is 1 / its weight.
TEST_F(IntegratorTest, IncrementsFollowTheSignAndTheMinimum) {
  yData()[0] = -3.0;
  ASSERT_EQ(rhs(fy), 0);
  ASSERT_EQ(jacobian(), 0);
  EXPECT_LT(N_VGetArrayPointer(tmp[2])[0], 0.0);
  EXPECT_GT(N_VGetArrayPointer(tmp[2])[1], 0.0);

  N_VConst(0.0, y);
  N_VConst(0.0, fy);
  ASSERT_EQ(jacobian(), 0);
  const double* weights = N_VGetArrayPointer(instance->integrator->errorWeights);
  EXPECT_EQ(N_VGetArrayPointer(tmp[2])[0], 1.0 / weights[0]);
  EXPECT_EQ(N_VGetArrayPointer(tmp[2])[1], 1.0 / weights[1]);
}

// The right-hand side evaluates at CVODE's time and states with the inputs extrapolated there,
// and gives the instance's time, state pointer and inputs (extrapolated to its own time) back.
TEST_F(IntegratorTest, RhsFrameIsRestored) {
  const fmi2ValueReference u = (5u << 24);
  const fmi2Integer order = 1;
  const fmi2Real slope = 2.0;
  ASSERT_EQ(fmiSetRealInputDerivatives(instance, &u, 1, &order, &slope), fmi2OK);
  double* states = instance->states;
  double time = instance->time;
  double input = instance->inputs[0];

  N_VConst(0.25, y);
  ASSERT_EQ(integratorRhs(time + 0.5, y, fy, instance), 0);
  // u = 1 + 2 * 0.5 at the evaluation: (2 - 0.25) / 1.
  EXPECT_DOUBLE_EQ(N_VGetArrayPointer(fy)[0], 1.75);
  EXPECT_EQ(instance->states, states);
  EXPECT_EQ(instance->time, time);
  EXPECT_EQ(instance->inputs[0], input);

  double g[10];
  ASSERT_EQ(integratorRootFunction(time + 0.5, y, g, instance), 0);
  EXPECT_EQ(instance->states, states);
  EXPECT_EQ(instance->inputs[0], input);
}

// The weights CVODE uses: 1 / (relative |y| + absolute), from the set-up tolerance.
TEST_F(IntegratorTest, ErrorWeightsFromTheTolerances) {
  N_Vector ewt = N_VNew_Serial(2, context);
  ASSERT_EQ(CVodeGetErrWeights(instance->integrator->cvode.memory, ewt), CV_SUCCESS);
  for (int i = 0; i < 2; ++i)
    EXPECT_DOUBLE_EQ(N_VGetArrayPointer(ewt)[i], 1.0 / (1e-6 * std::fabs(instance->states[i]) + 1e-6));
  N_VDestroy(ewt);
}

// Tolerances per state: a tolerance of 0 means 1e-5; a negative nominal gives an absolute
// tolerance from its magnitude and no relative one. A second set-up replaces the first.
TEST_F(IntegratorTest, SetupTolerances) {
  ASSERT_EQ(integratorSetup(instance, 0.0, setupAtInitialisation), 0);
  EXPECT_EQ(N_VGetArrayPointer(instance->integrator->absoluteTolerances)[0], 1e-5);
  EXPECT_EQ(N_VGetArrayPointer(instance->integrator->relativeTolerances)[0], 1e-5);

  instance->nominals[1] = -2.0;
  ASSERT_EQ(integratorSetup(instance, 1e-4, setupAtInitialisation), 0);
  EXPECT_EQ(N_VGetArrayPointer(instance->integrator->absoluteTolerances)[0], 1e-4);
  EXPECT_EQ(N_VGetArrayPointer(instance->integrator->relativeTolerances)[0], 1e-4);
  EXPECT_EQ(N_VGetArrayPointer(instance->integrator->absoluteTolerances)[1], 2e-4);
  EXPECT_EQ(N_VGetArrayPointer(instance->integrator->relativeTolerances)[1], 0.0);
  EXPECT_EQ(integratorGroupCount, 1);
  EXPECT_EQ(instance->integrator->nonZeroCount, 0) << "the dense solver";
  // The new integrator steps on.
  EXPECT_EQ(fmiDoStep(instance, instance->time, 0.5, fmi2True), fmi2OK);
}

// A model without states integrates one dummy state.
TEST_F(IntegratorTest, NoStatesGetsADummyState) {
  instance->nx = 0;
  instance->states[0] = 5.0;
  instance->nominals[0] = 3.0;
  ASSERT_EQ(integratorSetup(instance, 1e-6, setupAtInitialisation), 0);
  EXPECT_EQ(instance->nx, 1u);
  EXPECT_EQ(instance->states[0], 0.0);
  EXPECT_EQ(instance->nominals[0], 1.0);
  EXPECT_EQ(N_VGetLength(instance->integrator->stateVector), 1);
}

// The compressed-column pattern of the model's groups: one entry per column, on the diagonal.
TEST_F(IntegratorTest, SparsePatternOfTheModel) {
  EXPECT_EQ(integratorCountNonzeros(2), 0) << "the unit uses the dense solver";
  CoSimIntegrator pattern{};
  EXPECT_EQ(integratorSparsePattern(instance, &pattern, 2, 2), 0);
  EXPECT_EQ(pattern.nonZeroCount, 2);
  EXPECT_EQ(pattern.patternGroupCount, 1);
  EXPECT_EQ(std::vector<int32_t>(pattern.columnStarts, pattern.columnStarts + 3), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(std::vector<int32_t>(pattern.entryPositions, pattern.entryPositions + 2), (std::vector<int32_t>{0, 1}));
  host.functions()->freeMemory(pattern.columnStarts);
  host.functions()->freeMemory(pattern.entryPositions);
}

// A model evaluation that fails inside CVODE's right-hand side (here without a pending change
// that the communication point would catch first) fails the integration: the step reports it,
// takes the error exit after CVode has returned, and ends terminated.
TEST_F(IntegratorTest, RhsFailureInsideAStepEndsWithTheErrorExit) {
  instance->loggingOn = 1;
  instance->parameters[parFilterT] = 0.0;
  instance->levelReached = 2;  // the step's own evaluation at the point is then skipped
  host.clear();
  EXPECT_EQ(fmiDoStep(instance, instance->time, 10.0, fmi2True), fmi2Error);
  EXPECT_EQ(instance->mode, modeTerminated);
  EXPECT_EQ(instance->integrator, nullptr);
  EXPECT_TRUE(host.contains("fmi2DoStep: integration_step failed"));
  EXPECT_TRUE(host.contains("CVODE: CVode failed with CV_"));
}

}  // namespace
