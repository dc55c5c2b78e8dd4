// The generated sample clock.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "model.h"

namespace {

class ModelSample : public ::testing::Test {
 protected:
  void SetUp() override {
    copyModelData(record.get());
    record->solverReals = solverReals;
    record->iterationCounter = 1;
  }
  std::unique_ptr<ModelData> record{new ModelData};
  double solverReals[solverRealCount] = {0, 1, 1e100, 0};
};

TEST_F(ModelSample, AdvancesItsStartingCounterAndFiresOnTheFirstPassOnly) {
  struct Step {
    double t;
    int iterationCounter;
    int fired;
    double counter;
    double nextTimeEvent;
  } steps[] = {
      {2.5, 1, 0, 4, 3},          // counter recomputed: the next tick (4) lies at 3
      {3.0, 2, 0, 5, 4},          // tick 4 passed, but not on the first pass of an iteration
      {4.0 - 1e-15, 1, 1, 6, 5},  // within the tolerance tick 5 at 4 counts as passed
      {4.5, 1, 0, 6, 5},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.t);
    record->iterationCounter = s.iterationCounter;
    solverReals[solverRealNextTimeEvent] = 1e100;
    EXPECT_EQ(modelSample(record.get(), s.t, 0, 1, 0, 0, 1), s.fired);
    EXPECT_EQ(record->sampleCounters[0], s.counter);
    EXPECT_EQ(record->sampleCounters[1], s.counter);
    EXPECT_EQ(record->sampleActive[1], 1);
    EXPECT_EQ(solverReals[solverRealNextTimeEvent], s.nextTimeEvent);
  }
}

TEST_F(ModelSample, ModeRecomputesAndEvaluateZeroOnlyInitialises) {
  for (int mode : {1, 2}) {  // no mode 2 of its own: any nonzero mode recounts
    SCOPED_TRACE(mode);
    record->sampleCounters[0] = 9;
    EXPECT_EQ(modelSample(record.get(), 2.5, 0, 1, 0, mode, 0), 0);
    EXPECT_EQ(record->sampleCounters[0], 4);  // the computed counter replaces the larger one
    EXPECT_EQ(record->sampleActive[1], 0);
    EXPECT_EQ(solverReals[solverRealNextTimeEvent], 1e100);
  }
}

TEST_F(ModelSample, RegisteredSampleIsNotRecountedEvenFromAZeroCounter) {
  // The clock counts on from its starting counter while the sample is registered, where Sample
  // would recount a zero counter: from 0 every tick up to t = 2.5 (at -1, 0, 1 and 2) is passed.
  record->sampleActive[0] = 1;
  record->sampleCounters[0] = 0;
  EXPECT_EQ(modelSample(record.get(), 2.5, 0, 1, 0, 0, 1), 1);
  EXPECT_EQ(record->sampleCounters[0], 4);
  EXPECT_EQ(record->sampleCounters[1], 4);
  EXPECT_EQ(solverReals[solverRealNextTimeEvent], 3);
}

TEST_F(ModelSample, ClockWithoutAPositiveIntervalNeverTicks) {
  for (double interval : {0.0, -1.0, std::nan("")}) {
    record->sampleCounters[0] = 1;
    record->sampleActive[0] = 1;
    EXPECT_EQ(modelSample(record.get(), 5, 0, interval, 0, 0, 1), 0);
    EXPECT_EQ(record->sampleCounters[0], 1);
    EXPECT_EQ(solverReals[solverRealNextTimeEvent], 1e100);
  }
  EXPECT_EQ(modelSample(record.get(), 5, 0, 1, 1, 0, 1), 0);  // no sample behind index 1
}

}  // namespace
