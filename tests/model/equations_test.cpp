// The model's equations, evaluated through dsblock_ as the FMI layer does.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dsblock.h"
#include "globalcontext.h"
#include "guarded_call.h"
#include "messages.h"
#include "model.h"

namespace {

using Texts = std::vector<std::string>;

// One instance's arrays, each with a spare element, and its blocks.
class Model : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    copyModelData(record.get());
    record->solverReals = solverReals;
    record->solverInts = solverInts;
    SetContextRecords(solverReals, solverInts);
    declare_(x, p, u, nullptr, &qiErr);
    setExperimentDefaults(solverReals, solverInts);
  }
  void TearDown() override {
    UnregisterContextRecords(solverReals, solverInts);
    resetModelData(record.get());
  }

  // Limits that the default parameters get wrong.
  void consistentLimits() {
    p[parLimiterUMin] = -1;
    p[parLimiter1UMin] = -1;
  }
  void parameterChanged() { ++solverInts[solverIntChangeCounter]; }

  int evaluate(int demandCode, double t, int phase = eventPhaseConverge) {
    setEventPhase(record.get(), phase);
    demand = demandCode;
    time = t;
    qiErr = 0;
    recorder.messages.clear();
    dsblock_(&demand, &level, &time, x, nullptr, u, p, nullptr, nullptr, dx, y, w, q, solverReals,
             solverInts, nullptr, record.get(), &qiErr, 0);
    return qiErr;
  }
  int initialise(double t = 0) { return evaluate(demandInitialize, t); }

  std::unique_ptr<ModelData> record{new ModelData};
  double x[modelStates + 1] = {};
  double dx[modelStates + 1] = {};
  double p[modelParameters + 1] = {};
  double u[modelInputs + 1] = {};
  double y[modelOutputs + 1] = {};
  double w[modelAuxiliaries + 1] = {};
  double q[2 * modelRelations + 1] = {};
  double solverReals[solverRealCount] = {};
  int solverInts[solverIntCount] = {};
  int demand = 0;
  int level = 0;
  int qiErr = 0;
  double time = 0;
  RuntimeMessageRecorder recorder;
};

TEST_F(Model, DefaultParametersFailTheLimiterCheck) {
  EXPECT_EQ(initialise(), 1);
  EXPECT_EQ(recorder.texts(),
            (Texts{"limiter.uMax >= limiter.uMin", "The following error was detected at time: 0",
                   "Limiter: Limits must be consistent. However, uMax (=1) < uMin (=10000)"}));
  EXPECT_EQ(recorder.levels(), (std::vector<int>{messageError, messageError, messageError}));
}

TEST_F(Model, RepeatedFailuresKeepReportingTheLimiterMessage) {
  // Each failed check leaves its message text behind in the string area unless the driver
  // releases it.
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(initialise(), 1);
    ASSERT_EQ(recorder.texts().back(),
              "Limiter: Limits must be consistent. However, uMax (=1) < uMin (=10000)")
        << i;
  }
}

TEST_F(Model, SecondLimiterIsCheckedWithItsOwnCondition) {
  p[parLimiterUMin] = -1;
  p[parLimiter1UMin] = 1234567;
  EXPECT_EQ(initialise(0.5), 1);
  EXPECT_EQ(
      recorder.texts(),
      (Texts{"limiter1.uMax >= limiter1.uMin", "The following error was detected at time: 0.5",
             "Limiter: Limits must be consistent. However, uMax (=1) < uMin (=1.23457e+06)"}));
}

TEST_F(Model, LimitsAreCheckedAgainWhenAParameterChanges) {
  consistentLimits();
  ASSERT_EQ(initialise(), 0);
  p[parLimiterUMax] = -5;
  EXPECT_EQ(evaluate(demandOutputs, 0.1), 0);  // without a change nothing is checked
  parameterChanged();
  EXPECT_EQ(evaluate(demandOutputs, 0.1), 1);
  EXPECT_EQ(recorder.texts().front(), "limiter.uMax >= limiter.uMin");
}

TEST_F(Model, InitialisationSetsTheStartsAndTheOutputFollowsTheSelector) {
  struct Case {
    double selector;
    double y;
  } cases[] = {
      {1, 0.5},   // u
      {2, 1500},  // the switch, while the ramp is below the threshold
      {3, 2},     // filter.y
      {4, 3},     // limitedFilter.y
      {2.5, 3},   // any other value: limitedFilter.y
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    SetUp();
    consistentLimits();
    u[inputU] = 0.5;
    p[parOutputSelector] = c.selector;
    p[parFilterYStart] = 2;
    p[parLimitedFilterYStart] = 3;
    ASSERT_EQ(initialise(), 0);
    EXPECT_EQ(level, demandInitialize);
    EXPECT_EQ(getEventPhase(record.get()), eventPhaseConverge);
    EXPECT_EQ(x[stateFilterY], 2);
    EXPECT_EQ(x[stateLimitedFilterY], 3);
    EXPECT_EQ(y[outputY], c.y);
    const double constants[] = {4, 0, 1, -1, 0, 1, -1, 4};
    for (int i : {0, 1, 2, 4, 5, 7}) EXPECT_EQ(w[i], constants[i]) << i;
    // After initialisation the same output comes from the output section.
    y[outputY] = -1;
    level = 0;
    ASSERT_EQ(evaluate(demandOutputs, 0), 0);
    EXPECT_EQ(y[outputY], c.y);
    TearDown();
  }
}

TEST_F(Model, DerivativesAndOutputsFollowTheEquations) {
  p[parOutputSelector] = 2;
  p[parFilterK] = 2;
  p[parFilterT] = 0.5;
  p[parLimiterUMax] = 2;
  p[parLimiterUMin] = -1;
  p[parLimiter1UMax] = 1.5;
  p[parLimiter1UMin] = -1;
  p[parLimitedFilterK] = 3;
  p[parLimitedFilterT] = 4;
  p[parThreshold] = 0.2;
  p[parTimeSourceOffset] = 0.1;
  p[parTimeSourceStartTime] = 0.5;
  u[inputU] = 2.5;
  ASSERT_EQ(initialise(), 0);
  EXPECT_EQ(solverReals[solverRealNextTimeEvent], 0.5);
  // The host moves the states; at time 0.7 the ramp has started.
  x[stateFilterY] = 0.3;
  x[stateLimitedFilterY] = -0.2;
  ASSERT_EQ(evaluate(demandEvent, 0.7), 0);
  EXPECT_EQ(level, demandEvent);

  EXPECT_DOUBLE_EQ(dx[stateFilterY], (2 * 2.5 - 0.3) / 0.5);          // 9.4
  EXPECT_DOUBLE_EQ(dx[stateLimitedFilterY], (3 * 1.5 - (-0.2)) / 4);  // 1.175
  EXPECT_EQ(w[auxLimiterY], 2);                                       // u above limiter.uMax
  EXPECT_EQ(w[auxLimiter1Y], 1.5);                                    // u above limiter1.uMax
  EXPECT_DOUBLE_EQ(w[auxTimeSourceY], 0.1 + 0.7 - 0.5);
  EXPECT_EQ(w[auxGreaterThresholdY], 1);
  EXPECT_EQ(w[auxInputSwitchY], 2.5);
  EXPECT_EQ(y[outputY], 2.5);
  // The threshold's crossing functions are its shifted difference.
  EXPECT_NEAR(q[8], 0.3 - 0.2, 1e-9);
  EXPECT_EQ(q[8], q[9]);
  EXPECT_EQ(solverReals[solverRealNextTimeEvent], 1e100);  // no time event ahead any more
}

TEST_F(Model, ZeroTimeConstantIsADivisionByZero) {
  struct Case {
    int parameter;
    const char* report;
  } cases[] = {
      {parFilterT,
       "\nModel error - division by zero: (filter.k*u-filter.y) / (filter.T) = (2) / (0)\n"},
      {parLimitedFilterT,
       "\nModel error - division by zero: (limitedFilter.k*limiter1.y-limitedFilter.y) / "
       "(limitedFilter.T) = (0) / (0)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameter);
    SetUp();
    consistentLimits();
    u[inputU] = 3;
    p[c.parameter] = 0;
    EXPECT_EQ(initialise(), 1);
    EXPECT_EQ(recorder.texts(), (Texts{"The following error was detected at time: 0", c.report}));
    TearDown();
  }
}

TEST_F(Model, ZeroTimeConstantAfterInitialisationFailsTheDerivatives) {
  consistentLimits();
  ASSERT_EQ(initialise(), 0);
  ASSERT_EQ(evaluate(demandEvent, 0), 0);
  p[parFilterT] = 0;
  level = 0;
  EXPECT_EQ(evaluate(demandOutputs, 0.2), 0);  // the outputs need no division
  EXPECT_EQ(evaluate(demandDerivatives, 0.2), 1);
  EXPECT_EQ(recorder.texts().size(), 2u);
  p[parFilterT] = 2;
  level = 0;
  EXPECT_EQ(evaluate(demandDerivatives, 0.2), 0);
  EXPECT_DOUBLE_EQ(dx[stateFilterY], (u[inputU] - x[stateFilterY]) / 2);
}

TEST_F(Model, RampStartsAtItsTimeEvent) {
  consistentLimits();
  p[parTimeSourceStartTime] = 2;
  p[parTimeSourceOffset] = 0.25;
  ASSERT_EQ(initialise(), 0);
  EXPECT_EQ(solverReals[solverRealNextTimeEvent], 2);
  EXPECT_EQ(record->timeEventStates[0], 0);
  EXPECT_EQ(w[auxTimeSourceY], 0.25);

  // Before the event the ramp stays at its offset and the event stays registered.
  ASSERT_EQ(evaluate(demandEvent, 1.5), 0);
  EXPECT_EQ(solverReals[solverRealNextTimeEvent], 2);
  EXPECT_EQ(w[auxTimeSourceY], 0.25);

  // At the event, in an externally driven iteration, the ramp starts and asks for another pass.
  ASSERT_EQ(evaluate(demandEvent, 2, eventPhaseStartExternal), 0);
  EXPECT_EQ(record->timeEventStates[0], 1);
  EXPECT_EQ(getEventPhase(record.get()), eventPhaseContinueExternal);
  EXPECT_EQ(level, 0);
  ASSERT_EQ(evaluate(demandEvent, 2, eventPhaseContinueExternal), 0);
  EXPECT_EQ(getEventPhase(record.get()), eventPhaseConverge);
  EXPECT_EQ(solverReals[solverRealNextTimeEvent], 1e100);

  level = 0;
  ASSERT_EQ(evaluate(demandOutputs, 2.75), 0);
  EXPECT_DOUBLE_EQ(w[auxTimeSourceY], 0.25 + 2.75 - 2);
}

TEST_F(Model, OutputDemandAfterAConvergedEventComputesLevelOneOnly) {
  consistentLimits();
  ASSERT_EQ(initialise(), 0);
  ASSERT_EQ(evaluate(demandEvent, 0.5), 0);
  ASSERT_EQ(level, demandEvent);
  dx[0] = dx[1] = -77;
  w[auxLimiter1Y] = -77;
  u[inputU] = 0.4;
  level = 0;  // as after the host moved time
  ASSERT_EQ(evaluate(demandOutputs, 0.6), 0);
  EXPECT_EQ(level, demandOutputs);
  EXPECT_EQ(y[outputY], 0.4);
  EXPECT_EQ(w[auxLimiterY], 0.4);
  EXPECT_EQ(w[auxInputSwitchY], 1500);
  EXPECT_EQ(dx[0], -77);
  EXPECT_EQ(dx[1], -77);
  EXPECT_EQ(w[auxLimiter1Y], -77);
  // A level already reached is not computed again.
  u[inputU] = 0.6;
  ASSERT_EQ(evaluate(demandOutputs, 0.6), 0);
  EXPECT_EQ(y[outputY], 0.4);
}

TEST_F(Model, ThresholdChangesOnlyAtAnEvent) {
  consistentLimits();
  p[parOutputSelector] = 2;
  u[inputU] = 0.5;
  ASSERT_EQ(initialise(), 0);
  ASSERT_EQ(y[outputY], 1500);
  // The ramp has passed the threshold, but outside an event the switch keeps its position.
  level = 0;
  ASSERT_EQ(evaluate(demandOutputs, 1.5), 0);
  EXPECT_EQ(w[auxTimeSourceY], 1.5);
  EXPECT_EQ(w[auxGreaterThresholdY], 0);
  EXPECT_EQ(y[outputY], 1500);
  EXPECT_NEAR(q[8], 0.5, 1e-9);  // the crossing functions show the change coming
  ASSERT_EQ(evaluate(demandEvent, 1.5), 0);
  EXPECT_EQ(w[auxGreaterThresholdY], 1);
  EXPECT_EQ(y[outputY], 0.5);
}

TEST_F(Model, HomotopyPassEndsAfterTheInitialEquations) {
  consistentLimits();
  p[parLimiterUMax] = 2;
  u[inputU] = 5;
  ASSERT_EQ(initialise(), 0);
  ModelData* m = record.get();
  m->homotopyActive = 1;
  m->lambda = 0.3;
  m->initial = 1;
  m->parametersChanged = 0;
  demand = demandInitialize;
  level = 3;
  qiErr = 0;
  time = 0;
  GuardedCallResult result = GuardedCall(
      [&] {
        modelEquations(&demand, &level, &time, x, nullptr, u, p, nullptr, nullptr, dx, y, w, q,
                       solverReals, solverInts, nullptr, m, &qiErr, 0);
      },
      m);
  EXPECT_FALSE(result.jumped);
  EXPECT_EQ(qiErr, qiErrHomotopySolved);
  EXPECT_EQ(m->status, qiErrHomotopySolved);
  EXPECT_EQ(level, 0);
  EXPECT_EQ(m->homotopyActive, 1);
  // The limited value blends from u (simplified) to the limit (actual); the output section that
  // would compute it without homotopy did not run.
  EXPECT_DOUBLE_EQ(w[auxLimiterY], 5 * (1 - 0.3) + 2 * 0.3);
  EXPECT_EQ(m->homotopyUsed, 1);
}

}  // namespace
