// Time-event requests and periodic samples: how requests merge into the next time event, when a
// sample fires, what it registers, and the messages and failures.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "globalcontext.h"
#include "guarded_call.h"
#include "timeevents.h"

namespace {

ModelData record;
double solverReals[solverRealCount];
int solverInts[solverIntCount];

class TimeEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    record = ModelData{};
    record.solverReals = solverReals;
    record.solverInts = solverInts;
    record.iterationCounter = 1;
    for (double& r : solverReals) r = 0;
    for (int& i : solverInts) i = 0;
    solverReals[solverRealNextTimeEvent] = 1e100;  // as after the reset of an all-sections call
    SetContextRecords(solverReals, solverInts);
  }
  void TearDown() override { UnregisterContextRecords(solverReals, solverInts); }
  double& next() { return solverReals[solverRealNextTimeEvent]; }
};

// ---- RegisterTimeEvent --------------------------------------------------------------------

TEST_F(TimeEvents, RequestsMergeIntoTheEarliestWithinTheTolerance) {
  struct Request {
    double t;
    double nextAfter;
  };
  struct Case {
    const char* name;
    double timeScale;
    double nextBefore;
    std::vector<Request> requests;
  } cases[] = {
      {"earlier requests win; one within tol of the earliest moves it to the later time; a later "
       "one is ignored",
       0.0, 1e100, {{5.0, 5.0}, {3.0, 3.0}, {3.0 + 1e-15, 3.0 + 1e-15}, {4.0, 3.0 + 1e-15}}},
      {"a known event within tol above an earlier request stays",
       0.0, 1e100, {{3.0 + 1e-15, 3.0 + 1e-15}, {3.0, 3.0 + 1e-15}}},
      {"after the known next event even without a request in this pass",
       0.0, 2.0, {{2.5, 2.0}}},
      {"beyond tol without time scale: the earlier stays",
       0.0, 1e100, {{3.0, 3.0}, {3.0 + 1e-12, 3.0}}},
      {"the time scale widens tol", 1000.0, 1e100, {{3.0, 3.0}, {3.0 + 1e-12, 3.0 + 1e-12}}},
      {"a value from 1e30 up is no request yet", 0.0, 1e30, {{1e29, 1e29}}},
  };
  for (const Case& c : cases) {
    SetUp();
    solverReals[solverRealTimeScale] = c.timeScale;
    next() = c.nextBefore;
    for (const Request& r : c.requests) {
      RegisterTimeEvent(r.t, &record);
      EXPECT_EQ(next(), r.nextAfter) << c.name << ", request " << r.t;
    }
  }
}

TEST_F(TimeEvents, TheRecordsOwnBlockIsLoweredNotTheRegisteredOne) {
  double own[solverRealCount] = {0, 1, 1e100, 0};
  record.solverReals = own;
  RegisterTimeEvent(2.0, &record);
  EXPECT_EQ(own[solverRealNextTimeEvent], 2.0);
  EXPECT_EQ(next(), 1e100);
}

TEST_F(TimeEvents, DefaultFormWorksOnTheTemplateThroughTheRegisteredBlock) {
  modelDataTemplate.solverReals = nullptr;
  RegisterTimeEventDefault(7.0);
  EXPECT_EQ(next(), 7.0);
  EXPECT_EQ(modelDataTemplate.earliestTimeEvent, 7.0);
  // With no block anywhere the request has nowhere to go and is dropped.
  UnregisterContextRecords(solverReals, solverInts);
  RegisterTimeEventDefault(1.0);
  EXPECT_EQ(next(), 7.0);
  modelDataTemplate.earliestTimeEvent = 0;
}

// ---- Samples ------------------------------------------------------------------------------

TEST(SampleCounter, IsTheIndexOfTheFirstTickAtOrAfterT) {
  struct Case {
    double t, start, interval, expected;
  } cases[] = {{2.5, 0, 1, 4}, {2.0, 0, 1, 3}, {0.0, 0, 1, 1}, {0.6, 0.1, 0.25, 3}, {-1, 0, 1, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(SampleCounter(c.t, c.start, c.interval), c.expected) << c.t;
}

TEST_F(TimeEvents, SampleFiresOnATickPassedWithinToleranceInTheFirstPassOnly) {
  struct Case {
    const char* name;
    double t;
    int iteration;
    int fires;
    double working;  // the working counter afterwards
    double next;     // the time event registered
  } cases[] = {
      {"tick 3 at 2.0 lies within tolerance above t", 2.0 - 1e-15, 1, 1, 4, 3.0},
      {"exactly on the tick", 2.0, 1, 1, 4, 3.0},
      {"a later pass of the iteration", 2.0, 2, 0, 4, 3.0},
      {"several ticks behind", 4.5, 1, 1, 6, 5.0},
      {"outside the tolerance", 2.0 - 1e-12, 1, 0, 3, 2.0},
  };
  for (const Case& c : cases) {
    SetUp();
    record.sampleCounters[0] = 3;
    record.iterationCounter = c.iteration;
    EXPECT_EQ(Sample(&record, c.t, 0.0, 1.0, 0, 0, 1), c.fires) << c.name;
    EXPECT_EQ(record.sampleCounters[0], 3) << c.name;  // the starting counter stays
    EXPECT_EQ(record.sampleCounters[1], c.working) << c.name;
    EXPECT_EQ(record.sampleActive[1], 1) << c.name;
    EXPECT_EQ(next(), c.next) << c.name;
  }
}

TEST_F(TimeEvents, SampleInitialisesItsCounterAndRaisesTheTimeScale) {
  struct Case {
    const char* name;
    double counterBefore;
    int mode;
    int evaluate;
    double t;
    double start;
    int fires;
    double counterAfter;
    double timeScale;
    double next;
  } cases[] = {
      // t = 2.5 with start -5: tick 9 at 3.0 is the next one.
      {"first evaluation", 0, 0, 1, 2.5, -5.0, 0, 9, 5.0, 3.0},
      {"a set counter is kept in mode 0", 4, 0, 1, 2.5, -5.0, 1, 4, 0.0, 3.0},
      {"mode 1 recomputes even a larger counter", 12, 1, 1, 2.5, -5.0, 0, 9, 5.0, 3.0},
      {"mode 1 without evaluation only initialises", 0, 1, 0, 2.5, -5.0, 0, 9, 5.0, 1e100},
      {"mode 2 does nothing", 0, 2, 1, 2.5, -5.0, 0, 0, 0.0, 1e100},
      {"a tick right at t fires at once", 0, 0, 1, 2.5, 0.5, 1, 3, 0.5, 3.5},
  };
  for (const Case& c : cases) {
    SetUp();
    record.sampleCounters[0] = c.counterBefore;
    EXPECT_EQ(Sample(&record, c.t, c.start, 1.0, 0, c.mode, c.evaluate), c.fires) << c.name;
    EXPECT_EQ(record.sampleCounters[0], c.counterAfter) << c.name;
    EXPECT_EQ(solverReals[solverRealTimeScale], c.timeScale) << c.name;
    EXPECT_EQ(next(), c.next) << c.name;
  }
  SetUp();
  solverReals[solverRealTimeScale] = 8.0;
  Sample(&record, 2.5, -5.0, 1.0, 0, 0, 1);
  EXPECT_EQ(solverReals[solverRealTimeScale], 8.0);
}

TEST_F(TimeEvents, SampleWorksWithoutRegisteredBlocks) {
  UnregisterContextRecords(solverReals, solverInts);
  EXPECT_EQ(Sample(&record, 2.0, 0.0, 1.0, 0, 0, 1), 1);
  EXPECT_EQ(next(), 3.0);  // registered through the record's own block
}

TEST_F(TimeEvents, SampleFinerThanItsCounterCanCountStillReturns) {
  // 1e17 ticks lie behind t: beyond 2^53 the counter cannot advance by one any more, so the tick
  // at t cannot be counted (this call would otherwise never return).
  EXPECT_EQ(Sample(&record, 1.0, 0.0, 1e-17, 0, 0, 1), 0);
  EXPECT_EQ(record.sampleCounters[1], record.sampleCounters[0]);
  EXPECT_EQ(SampleFactorShift(&record, 1.0, 0.0, 1e-17, 0, 1, 0, 0, 1), 0);
}

TEST_F(TimeEvents, FactorOneWithoutShiftIsThePlainSample) {
  static ModelData plain, subSampled;
  double plainReals[solverRealCount], subReals[solverRealCount];
  const double times[] = {0.0, 0.5, 1.0 - 1e-15, 1.0, 2.5, 7.0};
  for (int iteration = 1; iteration <= 2; ++iteration) {
    plain = ModelData{};
    subSampled = ModelData{};
    plain.solverReals = plainReals;
    subSampled.solverReals = subReals;
    plain.iterationCounter = subSampled.iterationCounter = iteration;
    for (double t : times) {
      plainReals[solverRealNextTimeEvent] = subReals[solverRealNextTimeEvent] = 1e100;
      plainReals[solverRealTimeScale] = subReals[solverRealTimeScale] = 0;
      const int a = Sample(&plain, t, 0.0, 1.0, 0, 0, 1);
      const int b = SampleFactorShift(&subSampled, t, 0.0, 1.0, 0, 1, 0, 0, 1);
      EXPECT_EQ(a, b) << t;
      EXPECT_EQ(plain.sampleCounters[1], subSampled.sampleCounters[1]) << t;
      EXPECT_EQ(plainReals[solverRealNextTimeEvent], subReals[solverRealNextTimeEvent]) << t;
    }
  }
}

TEST_F(TimeEvents, FactorShiftFiresOnEveryFactorthTick) {
  // Ticks every 1.0 from 0; factor 3. The offset factor - 1 - shift picks the ticks that fire.
  struct Case {
    int shift;
    double t;
    int fires;
    double next;
  } cases[] = {
      {0, 0.0, 0, 2.0}, {0, 1.0, 0, 2.0}, {0, 2.0, 1, 5.0}, {0, 3.0, 0, 5.0}, {0, 5.0, 1, 8.0},
      {2, 0.0, 1, 3.0}, {2, 1.0, 0, 3.0}, {2, 3.0, 1, 6.0},
  };
  int shift = -1;
  for (const Case& c : cases) {
    if (c.shift != shift) {
      SetUp();  // a fresh clock, initialised by its first evaluation
      shift = c.shift;
    }
    next() = 1e100;
    EXPECT_EQ(SampleFactorShift(&record, c.t, 0.0, 1.0, c.shift, 3, 0, 0, 1), c.fires)
        << "shift " << c.shift << " t " << c.t;
    EXPECT_EQ(next(), c.next) << "shift " << c.shift << " t " << c.t;
  }
}

TEST_F(TimeEvents, NonPositiveIntervalOrFactorEndsTheEvaluation) {
  struct Case {
    const char* name;
    double interval;
    int factor;
  } cases[] = {{"zero interval", 0.0, 1},         {"negative interval", -1.0, 1},
               {"NaN interval", std::nan(""), 1}, {"zero factor", 1.0, 0},
               {"negative factor", 1.0, -2}};
  for (const Case& c : cases) {
    const std::vector<std::string> expected = {
        "The following error was detected at time: 0",
        "Sample did not have positive sample interval"};
    if (c.factor == 1) {
      GuardedCallResult plain =
          GuardedCall([&] { Sample(&record, 1.0, 0.0, c.interval, 0, 0, 1); }, &record);
      EXPECT_TRUE(plain.jumped) << c.name;
      EXPECT_EQ(plain.texts(), expected) << c.name;
    }
    GuardedCallResult sub = GuardedCall(
        [&] { SampleFactorShift(&record, 1.0, 0.0, c.interval, 0, c.factor, 0, 0, 1); }, &record);
    EXPECT_TRUE(sub.jumped) << c.name;
    EXPECT_EQ(sub.texts(), expected) << c.name;
    EXPECT_EQ(record.status, 1) << c.name;
  }
}

TEST_F(TimeEvents, FiredSampleIsLoggedWithEventLogging) {
  struct Case {
    const char* name;
    int logFlags;
    int mode;
    int iteration;
    bool logged;
  } cases[] = {
      {"event logging", logFlagEvents, 0, 1, true},
      {"no flags", 0, 0, 1, false},
      {"initialisation flag alone", logFlagInitialization, 0, 1, false},
      {"mode 1 needs the initialisation flag", logFlagEvents, 1, 1, false},
      {"mode 1 with both flags", logFlagEvents | logFlagInitialization, 1, 1, true},
      {"not fired: a later pass", logFlagEvents, 0, 2, false},
  };
  for (const Case& c : cases) {
    SetUp();
    solverInts[solverIntLogFlags] = c.logFlags;
    record.iterationCounter = c.iteration;
    record.time = 3.5;
    RuntimeMessageRecorder recorder;
    Sample(&record, 3.5, 0.5, 1.5, 0, c.mode, 1);  // tick 3, at 3.5, passed
    const std::vector<std::string> expected =
        c.logged ? std::vector<std::string>{"Sample event (sample(0.5,1.5)) at time: 3.5"}
                 : std::vector<std::string>{};
    EXPECT_EQ(recorder.texts(), expected) << c.name;
    if (c.logged) {
      EXPECT_EQ(recorder.levels(), std::vector<int>{0}) << c.name;
    }
  }
}

TEST_F(TimeEvents, SampleTextIsInTheCLocaleAndTheTimeInTheCurrentOne) {
  ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the comma locale must be installed";
  solverInts[solverIntLogFlags] = logFlagEvents;
  record.time = 3.5;
  RuntimeMessageRecorder recorder;
  Sample(&record, 3.5, 0.5, 1.5, 0, 0, 1);
  setlocale(LC_ALL, "C");
  EXPECT_EQ(recorder.texts(),
            std::vector<std::string>{"Sample event (sample(0.5,1.5)) at time: 3,5"});
}

TEST_F(TimeEvents, WidestSampleTextGoesOutWhole) {
  solverInts[solverIntLogFlags] = logFlagEvents;
  record.time = -1.7976931348623157e308;
  RuntimeMessageRecorder recorder;
  // Ticks at -DBL_MAX and 0: the one at t = 0 fires.
  Sample(&record, 0.0, -1.7976931348623157e308, 1.7976931348623157e308, 0, 0, 1);
  EXPECT_EQ(recorder.texts(),
            std::vector<std::string>{"Sample event (sample(-1.79769e+308,1.79769e+308)) at "
                                     "time: -1.797693134862316E+308"});
}

}  // namespace
