// Step scaling of a fixed-step integration ahead of a predicted crossing or time event.
#include <gtest/gtest.h>

#include <cstring>

#include "timeevents.h"

namespace {

// One relation (a pair of crossing functions) and two state derivatives, called on the fixed
// grid t = 0, 1, 2, ... (h = 1) as the driver does after every converged all-sections call.
class StepScaling : public ::testing::Test {
 protected:
  static ModelData record;
  double solverReals[solverRealCount] = {0, 1, 1e100, 0};
  int solverInts[solverIntCount] = {};
  double derivatives[2] = {2.0, -4.0};

  void SetUp() override {
    memset(&record, 0, sizeof record);
    record.scaleLastTime = 1e30;
    record.relationEvaluated[1] = 1;
  }

  // One call with both functions of the pair at g; returns the step fraction it set.
  double Step(double time, double g, int initial = 0) {
    double crossings[2] = {g, g};
    derivatives[0] = 2.0;
    derivatives[1] = -4.0;
    ScaleStepBeforeCrossing(&record, time, initial, 1, crossings, 1, derivatives, 2, solverReals,
                            solverInts);
    return solverReals[solverRealStepFraction];
  }
};

ModelData StepScaling::record;

TEST_F(StepScaling, WithoutApproachingCrossingOrNearTimeEventLeavesTheStepWhole) {
  // Moving away from zero, and then approaching it too slowly to reach it within 2.4 steps.
  const double values[] = {1.0, 2.0, 3.0, 2.9, 2.8};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Step(i, values[i], i == 0), 1.0) << "t = " << i;
    EXPECT_EQ(derivatives[0], 2.0);
    EXPECT_EQ(derivatives[1], -4.0);
    EXPECT_EQ(record.scaledStepSize, i == 0 ? 0.0 : 1.0);
  }
  // The step is measured from the first two call times.
  EXPECT_EQ(record.scaleStepSize, 1.0);
}

TEST_F(StepScaling, LinearEstimateScalesTheStepThatReachesTheCrossingAndTheNextMakesUp) {
  // g falls from 1 to 0.4 in one step: zero is 2/3 step ahead, the step ends 0.2 past it.
  EXPECT_EQ(Step(0, 1.0, 1), 1.0);
  const double factor1 = Step(1, 0.4);
  EXPECT_NEAR(factor1, 2.0 / 3.0 + 0.2, 1e-15);
  EXPECT_NEAR(derivatives[0], 2.0 * factor1, 1e-15);
  EXPECT_NEAR(derivatives[1], -4.0 * factor1, 1e-15);
  EXPECT_EQ(record.scaledStepSize, factor1);
  // The next grid point lies in the second window: the rest of the two steps.
  const double factor2 = Step(2, -0.2);
  EXPECT_EQ(factor2, 2.0 - factor1);
  EXPECT_EQ(derivatives[0], 2.0 * factor2);
  // Past both windows the step is whole again.
  EXPECT_EQ(Step(3, -0.8), 1.0);
}

TEST_F(StepScaling, QuadraticEstimateRefinesAMonotoneApproach) {
  // g(t) = (t - 2.5)(t - 7) sampled at t = 0, 1, 2: 17.5, 9, 2.5; the root lies 0.5 step ahead.
  // The linear estimate would be 2.5 / 6.5 + 0.2 = 0.5846...; the quadratic one, with the
  // discriminant damped by 1.7, is 0.04 + 5 / (5.5 + sqrt(13.25)).
  EXPECT_EQ(Step(0, 17.5, 1), 1.0);
  EXPECT_EQ(Step(1, 9.0), 1.0);  // the linear estimate 9/8.5 + 0.2 lies beyond the step
  EXPECT_NEAR(Step(2, 2.5), 0.5870426633411003, 1e-15);
}

TEST_F(StepScaling, NearTimeEventScalesTheStep) {
  EXPECT_EQ(Step(0, 5.0, 1), 1.0);
  solverReals[solverRealNextTimeEvent] = 1.25;  // a quarter step ahead of t = 1
  EXPECT_EQ(Step(1, 5.0), 0.25);
  EXPECT_EQ(derivatives[0], 0.5);
}

TEST_F(StepScaling, IgnoresCrossingsOfRelationsNotEvaluatedOrPairsOfDifferentSigns) {
  struct Case {
    int evaluated;
    double second;  // the pair's other function at t = 1
  } cases[] = {{0, 0.4}, {1, -0.4}};
  for (const Case& c : cases) {
    SetUp();
    record.relationEvaluated[1] = c.evaluated;
    double crossings[2] = {1.0, 1.0};
    ScaleStepBeforeCrossing(&record, 0, 1, 1, crossings, 1, derivatives, 2, solverReals,
                            solverInts);
    crossings[0] = 0.4;
    crossings[1] = c.second;
    ScaleStepBeforeCrossing(&record, 1, 0, 1, crossings, 1, derivatives, 2, solverReals,
                            solverInts);
    EXPECT_EQ(solverReals[solverRealStepFraction], 1.0) << c.evaluated << " " << c.second;
    // A relation that was not evaluated records zeros in its history.
    EXPECT_EQ(record.crossingCurrent[0], c.evaluated ? 0.4 : 0.0);
  }
}

TEST_F(StepScaling, ShiftsTheCrossingHistoryOncePerStep) {
  Step(0, 3.0, 1);
  Step(1, 2.0);
  Step(1, 1.5);  // a second call at the same time only refreshes the current values
  Step(2, 1.0);
  EXPECT_EQ(record.crossingCurrent[0], 1.0);
  EXPECT_EQ(record.crossingHistory1[0], 1.5);
  EXPECT_EQ(record.crossingHistory2[0], 3.0);
  EXPECT_EQ(record.crossingHistory3[0], 0.0);
}

TEST_F(StepScaling, CountsBeyondTheRecordsTablesAreCut) {
  // More pairs than the record holds must not reach past its crossing tables: the spare last
  // element of each table stays untouched.
  for (int k = 0; k <= modelRelations; ++k) record.relationEvaluated[k] = 1;
  record.crossingCurrent[modelCrossings] = 99.0;
  record.crossingHistory1[modelCrossings] = 99.0;
  double crossings[2 * modelRelations + 8];
  for (double& g : crossings) g = 7.0;
  for (int call = 0; call < 2; ++call)
    ScaleStepBeforeCrossing(&record, call, call == 0, 1, crossings, modelRelations + 4,
                            derivatives, 2, solverReals, solverInts);
  EXPECT_EQ(record.crossingCurrent[modelCrossings - 1], 7.0);
  EXPECT_EQ(record.crossingCurrent[modelCrossings], 99.0);
  EXPECT_EQ(record.crossingHistory1[modelCrossings], 99.0);
}

}  // namespace
