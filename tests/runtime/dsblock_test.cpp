// The evaluation driver against a scripted model: passes, counting, the iteration limit, the
// event phases, homotopy, the inline crossing pre-pass and the error jump.
#include "dsblock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "delays.h"
#include "errors.h"
#include "fake_model.h"
#include "guarded_call.h"
#include "tempstrings.h"
#include "threadblock.h"
#include "workbuffers.h"

namespace {

using Texts = std::vector<std::string>;

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    // The thread's temporaries are process-wide: a test before may have left the string area
    // full, and the tests make strings and buffers of their own outside any evaluation.
    MarkReset();
    memset(m.get(), 0, sizeof(ModelData));
    m->lambda = 1.0;
    m->lambdaStep = 0.1;
    m->scaleLastTime = 1e30;
    // As an earlier initialisation leaves them.
    m->iterationLimit = 25;
    m->relationEpsilon = 1e-10;
    m->solverReals = solverReals;
    m->solverInts = solverInts;
    FakeModelReset();
    current = this;
  }

  // One call; the phase is set first, as the FMI layer does through setEventPhase.
  int call(int demandCode, double t = 0, int phase = eventPhaseConverge) {
    m->eventPhase = phase;
    demand = demandCode;
    time = t;
    qiErr = 0;
    dsblock_(&demand, &level, &time, states, nullptr, inputs, parameters, nullptr, nullptr,
             derivatives, outputs, auxiliaries, crossings, solverReals, solverInts, nullptr,
             m.get(), &qiErr, 0);
    return qiErr;
  }

  // Installs a script with nrel relations; an initialisation makes the driver read them.
  void script(FakeScript s, int nrel = 1) {
    primeDimensions(nrel);
    FakeModelReset(s, nrel);
    fakeModel.messageCount = [] { return static_cast<int>(current->recorder.messages.size()); };
  }

  // The driver keeps the model's dimensions process-wide and reads them again only at an
  // initialisation: one on a record of its own makes them the script's, whatever ran before.
  static void primeDimensions(int nrel) {
    FakeModelReset(nullptr, nrel);
    std::unique_ptr<ModelData> scratch{new ModelData};
    memset(scratch.get(), 0, sizeof(ModelData));
    double reals[solverRealCount] = {0, 1, 1e100, 0};
    int ints[solverIntCount] = {};
    scratch->solverReals = reals;
    scratch->solverInts = ints;
    double values[2 * modelRelations + 1] = {};
    int demand = demandInitialize, level = 0, qiErr = 0;
    double t = 0;
    RuntimeMessageRecorder quiet;
    dsblock_(&demand, &level, &t, values, nullptr, values, values, nullptr, nullptr, values, values, values, values,
             reals, ints, nullptr, scratch.get(), &qiErr, 0);
  }

  const std::vector<FakePassRecord>& passes() const { return fakeModel.passes; }
  std::vector<int> counters() const {
    std::vector<int> c;
    for (const FakePassRecord& r : passes()) c.push_back(r.iterationCounter);
    return c;
  }
  Texts texts() const { return recorder.texts(); }

  static Driver* current;
  RuntimeMessageRecorder recorder;
  std::unique_ptr<ModelData> m{new ModelData};
  double states[2] = {};
  double inputs[1] = {};
  double parameters[1] = {};
  double derivatives[2] = {};
  double outputs[1] = {};
  double auxiliaries[1] = {};
  double crossings[2 * modelRelations + 1] = {};
  double solverReals[solverRealCount] = {0, 1, 1e100, 0};
  int solverInts[solverIntCount] = {};
  int demand = 0;
  int level = 0;
  int qiErr = 0;
  double time = 0;
};

Driver* Driver::current = nullptr;

void alwaysEvent(FakePass& pass) { pass.m->eventNeeded = 1; }

std::vector<int> range(int from, int to) {
  std::vector<int> r;
  for (int i = from; i <= to; ++i) r.push_back(i);
  return r;
}

// ---- Initialisation --------------------------------------------------------------------------

TEST_F(Driver, InitialisationRunsAFirstPassThenIteratesWithTheCounterRestarted) {
  script(nullptr, 1);
  solverInts[solverIntLogFlags] = logFlagEvents | logFlagQuiet;
  solverInts[solverIntChangeCounter] = 7;
  ASSERT_EQ(call(demandInitialize, 0.25), 0);

  ASSERT_EQ(passes().size(), 2u);
  EXPECT_EQ(passes()[0].initial, 1);
  EXPECT_EQ(passes()[0].allSections, 1);
  EXPECT_EQ(passes()[0].parametersChanged, 1);  // a fresh initialisation counts as a change
  EXPECT_EQ(passes()[0].logFlags, 0);           // cleared at every initialisation
  EXPECT_EQ(passes()[1].initial, 0);
  EXPECT_EQ(passes()[1].allSections, 1);
  EXPECT_EQ(counters(), (std::vector<int>{1, 1}));
  EXPECT_EQ(level, demandInitialize);
  EXPECT_EQ(m->eventPhase, eventPhaseConverge);
  EXPECT_EQ(m->initial, 1);  // initial() reads 1 again after a converged initialisation
  EXPECT_EQ(m->initialisationCall, 0);
  EXPECT_EQ(m->initialisationCount, 1);
  EXPECT_EQ(m->startTime, 0.25);
  EXPECT_EQ(m->iterationLimit, 25);
  EXPECT_EQ(m->relationEpsilon, 1e-10);
  EXPECT_EQ(solverInts[solverIntChangeCounter], 8);
  EXPECT_EQ(m->lastParameterChange, 8);
  EXPECT_EQ(m->previousCrossings[0], 1.0);
  EXPECT_EQ(crossings[1], 1.0);
  EXPECT_EQ(fakeModel.getDriverDimensionsCalls, 1);
}

TEST_F(Driver, InitialisationWithoutRelationsNeedsOnePass) {
  script(nullptr, 0);
  ASSERT_EQ(call(demandInitialize), 0);
  EXPECT_EQ(passes().size(), 1u);
}

TEST_F(Driver, ExtraIterationRunsTheInitialSectionsOnceMore) {
  script([](FakePass& p) {
    if (p.number == 1) p.m->extraIteration = 1;
  });
  ASSERT_EQ(call(demandInitialize), 0);
  ASSERT_EQ(passes().size(), 3u);
  EXPECT_EQ(passes()[1].extraIteration, 2);
  EXPECT_EQ(passes()[1].initial, 1);
  EXPECT_EQ(passes()[2].extraIteration, 0);
  EXPECT_EQ(passes()[2].initial, 0);
  EXPECT_EQ(counters(), (std::vector<int>{1, 2, 1}));
}

// ---- The iteration limit ---------------------------------------------------------------------

TEST_F(Driver, TheTwentySixthCountedPassIsTheLastAndAfterItTheCallFails) {
  struct Case {
    int demand;
    double time;
    size_t passes;
    std::vector<int> counters;
    const char* failure;
  } cases[] = {
      {demandEvent, 1.5, 26, range(1, 26),
       "ERROR: Finding consistent restart conditions failed at time:  1.5"},
      // The first pass of an initialisation is not counted.
      {demandInitialize, 0, 27,
       [] {
         std::vector<int> c = range(1, 26);
         c.insert(c.begin(), 1);
         return c;
       }(),
       "ERROR: Finding consistent restart conditions failed at time:  0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.demand);
    script(alwaysEvent);
    recorder.messages.clear();
    EXPECT_EQ(call(c.demand, c.time), 1);
    ASSERT_EQ(passes().size(), c.passes);
    EXPECT_EQ(counters(), c.counters);
    // The final-iteration texts come before the last pass, which runs with events logged.
    const FakePassRecord& last = passes().back();
    const FakePassRecord& beforeLast = passes()[c.passes - 2];
    EXPECT_EQ(beforeLast.logFlags, 0);
    EXPECT_EQ(beforeLast.messagesBefore, 0);
    EXPECT_EQ(last.logFlags, logFlagEvents);
    EXPECT_EQ(last.messagesBefore, 2);
    EXPECT_EQ(texts(), (Texts{"", "On the final iteration for restart conditions we get:", "",
                              c.failure, ""}));
    EXPECT_EQ(m->status, 1);
    EXPECT_EQ(level, 0);
    EXPECT_EQ(solverInts[solverIntLogFlags], logFlagEvents);
    solverInts[solverIntLogFlags] = 0;
  }
}

TEST_F(Driver, ConvergingOnTheTwentySixthPassStillFails) {
  static int lastEventPass;
  struct Case {
    int lastEventPass;
    size_t passes;
    int qiErr;
  } cases[] = {{24, 25, 0}, {25, 26, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastEventPass);
    lastEventPass = c.lastEventPass;
    script([](FakePass& p) { p.m->eventNeeded = p.number <= lastEventPass; });
    EXPECT_EQ(call(demandEvent), c.qiErr);
    EXPECT_EQ(passes().size(), c.passes);
    solverInts[solverIntLogFlags] = 0;
  }
}

TEST_F(Driver, LoggedIterationsReportEachRestartAndTheEventTime) {
  script([](FakePass& p) { p.m->eventNeeded = p.number <= 2; });
  solverInts[solverIntLogFlags] = logFlagEvents;
  ASSERT_EQ(call(demandEvent, 2), 0);
  EXPECT_EQ(passes().size(), 3u);
  EXPECT_EQ(texts(), (Texts{"Iterating to find consistent restart conditions.",
                            "Iterating to find consistent restart conditions.",
                            "      during event at Time :  2"}));
  EXPECT_EQ(level, demandEvent);
  EXPECT_EQ(m->eventInCall, 1);
}

TEST_F(Driver, QuietFlagKeepsTheFinalIterationSilentButNotTheFailure) {
  script(alwaysEvent);
  solverInts[solverIntLogFlags] = logFlagQuiet;
  EXPECT_EQ(call(demandEvent, 3), 1);
  EXPECT_EQ(passes().back().logFlags, logFlagQuiet);
  EXPECT_EQ(texts(),
            (Texts{"", "ERROR: Finding consistent restart conditions failed at time:  3", ""}));
}

TEST_F(Driver, RelationFlagsAreClearedBeforeEveryEleventhCountedPass) {
  script([](FakePass& p) {
    p.m->eventNeeded = p.number < 23;
    p.m->relationEvaluated[1] = 1;
  });
  ASSERT_EQ(call(demandEvent), 0);
  std::vector<int> cleared;
  for (const FakePassRecord& r : passes())
    if (!r.relationEvaluated1) cleared.push_back(r.iterationCounter);
  EXPECT_EQ(cleared, (std::vector<int>{1, 11, 22}));
}

// ---- Event phases ----------------------------------------------------------------------------

TEST_F(Driver, ExternallyDrivenIterationRunsOnePassPerCall) {
  script([](FakePass& p) { p.m->eventNeeded = p.number <= 2; });
  struct Step {
    int phase;
    int phaseAfter;
    int levelAfter;
    int counter;
  } steps[] = {
      {eventPhaseStartExternal, eventPhaseContinueExternal, 0, 1},
      {eventPhaseContinueExternal, eventPhaseContinueExternal, 0, 2},
      {eventPhaseContinueExternal, eventPhaseConverge, demandEvent, 3},
  };
  size_t expectedPasses = 0;
  for (const Step& s : steps) {
    level = 4;
    ASSERT_EQ(call(demandEvent, 0, s.phase), 0);
    ASSERT_EQ(passes().size(), ++expectedPasses);
    EXPECT_EQ(passes().back().iterationCounter, s.counter);
    EXPECT_EQ(m->eventPhase, s.phaseAfter);
    EXPECT_EQ(level, s.levelAfter);
  }
}

TEST_F(Driver, PhaseFourContinuesTheCountToConvergence) {
  script([](FakePass& p) { p.m->eventNeeded = p.number <= 2; });
  ASSERT_EQ(call(demandEvent, 0, eventPhaseStartExternal), 0);
  ASSERT_EQ(m->eventPhase, eventPhaseContinueExternal);
  ASSERT_EQ(call(demandEvent, 0, eventPhaseContinueConverge), 0);
  EXPECT_EQ(counters(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(passes()[2].eventPhase, eventPhaseConverge);
  EXPECT_EQ(m->eventPhase, eventPhaseConverge);
  EXPECT_EQ(level, demandEvent);
}

TEST_F(Driver, PlainPassSkipsAllPreparation) {
  script(nullptr);
  m->iterationCounter = 4;
  m->eventNeeded = 1;
  m->keepParameterChange = 1;
  m->relationEvaluated[1] = 1;
  solverReals[solverRealNextTimeEvent] = 7;
  ASSERT_EQ(call(demandEvent, 0, eventPhasePlainPass), 0);
  ASSERT_EQ(passes().size(), 1u);
  const FakePassRecord& r = passes()[0];
  EXPECT_EQ(r.iterationCounter, 4);
  EXPECT_EQ(r.eventNeeded, 1);
  EXPECT_EQ(r.keepParameterChange, 1);
  EXPECT_EQ(r.relationEvaluated1, 1);
  EXPECT_EQ(r.nextTimeEvent, 7);
  EXPECT_EQ(fakeModel.resetModelFlagsCalls, 0);
  // The event pending from before the call leaves the iteration to the caller.
  EXPECT_EQ(m->eventPhase, eventPhaseContinueExternal);
  EXPECT_EQ(level, 0);

  m->eventNeeded = 0;
  ASSERT_EQ(call(demandOutputs, 0, eventPhasePlainPass), 0);
  EXPECT_EQ(m->eventPhase, eventPhaseConverge);
  EXPECT_EQ(level, demandOutputs);
}

TEST_F(Driver, PhaseMinusOneBecomesZeroAfterThePass) {
  script([](FakePass& p) { p.m->eventNeeded = p.number == 1; });
  ASSERT_EQ(call(demandEvent, 0, eventPhaseSkipLevels), 0);
  ASSERT_EQ(passes().size(), 2u);
  EXPECT_EQ(passes()[0].eventPhase, eventPhaseSkipLevels);
  EXPECT_EQ(passes()[1].eventPhase, eventPhaseConverge);
  EXPECT_EQ(m->eventPhase, eventPhaseConverge);
}

TEST_F(Driver, IterateAgainRunsAnotherCountedPassAtOnce) {
  script([](FakePass& p) { p.m->iterateAgain = p.number == 1; });
  ASSERT_EQ(call(demandEvent, 0, eventPhaseStartExternal), 0);
  EXPECT_EQ(counters(), (std::vector<int>{1, 2}));
  EXPECT_EQ(passes()[1].iterateAgain, 0);
  EXPECT_EQ(m->eventPhase, eventPhaseConverge);
}

// ---- What a call evaluates -------------------------------------------------------------------

TEST_F(Driver, ParameterChangeMakesAnAllSectionsCallFromLevelZero) {
  static int keep;
  script([](FakePass& p) {
    if (p.number == 1) {
      p.m->eventNeeded = 1;
      p.m->keepParameterChange = keep;
    }
    *p.levelReached = 1;
  });
  for (int k : {0, 1}) {
    SCOPED_TRACE(k);
    keep = k;
    ASSERT_EQ(call(demandOutputs), 0);  // adopts the change counter
    fakeModel.passes.clear();
    level = 1;
    solverInts[solverIntChangeCounter] += 1;
    solverReals[solverRealNextTimeEvent] = 5;
    ASSERT_EQ(call(demandOutputs), 0);
    ASSERT_EQ(passes().size(), 2u);
    EXPECT_EQ(passes()[0].levelReached, 0);
    EXPECT_EQ(passes()[0].allSections, 1);
    EXPECT_EQ(passes()[0].parametersChanged, 1);
    EXPECT_EQ(passes()[0].nextTimeEvent, 1e100);
    EXPECT_EQ(passes()[1].parametersChanged, k);
    EXPECT_EQ(level, demandOutputs);
    fakeModel.passes.clear();
  }
}

TEST_F(Driver, AllSectionsCallsResetTheNextTimeEventOthersDoNot) {
  struct Case {
    int demand;
    int allSections;
  } cases[] = {{demandOutputs, 0}, {demandCrossings, 0}, {demandEvent, 1}, {demandTerminal, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.demand);
    script(nullptr);
    solverReals[solverRealNextTimeEvent] = 3;
    ASSERT_EQ(call(c.demand), 0);
    ASSERT_EQ(passes().size(), 1u);
    EXPECT_EQ(passes()[0].allSections, c.allSections);
    EXPECT_EQ(passes()[0].nextTimeEvent, c.allSections ? 1e100 : 3);
    EXPECT_EQ(fakeModel.resetModelFlagsCalls, c.allSections);
    EXPECT_EQ(solverInts[solverIntAllSections], c.allSections);
    EXPECT_EQ(level, c.demand);
  }
}

TEST_F(Driver, StepEventIsClearedOnlyByAllSectionsCallsWithoutInlineIntegration) {
  struct Case {
    int demand;
    int inlineIntegration;
    int stepEventAfter;
  } cases[] = {
      {demandOutputs, 0, 1},
      {demandCrossings, 0, 1},
      {demandEvent, 0, 0},
      {demandTerminal, 0, 0},
      {demandEvent, 1, 1},  // the integrator's step event stays for the inline stepping
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.demand * 10 + c.inlineIntegration);
    script(nullptr);
    m->inlineIntegration = c.inlineIntegration;
    solverInts[solverIntStepEvent] = 1;
    ASSERT_EQ(call(c.demand), 0);
    EXPECT_EQ(solverInts[solverIntStepEvent], c.stepEventAfter);
  }
}

TEST_F(Driver, EventInCallTellsWhetherTheCallRanAllSectionsOrFoundAnEvent) {
  struct Case {
    int demand;
    int eventInFirstPass;
    int eventInCall;
  } cases[] = {
      {demandOutputs, 0, 0},
      {demandOutputs, 1, 1},
      {demandEvent, 0, 1},
  };
  static int eventInFirstPass;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.demand * 10 + c.eventInFirstPass);
    eventInFirstPass = c.eventInFirstPass;
    script([](FakePass& p) { p.m->eventNeeded = p.number == 1 && eventInFirstPass; });
    m->eventInCall = 1;  // from an earlier call
    ASSERT_EQ(call(c.demand), 0);
    EXPECT_EQ(m->eventInCall, c.eventInCall);
  }
}

TEST_F(Driver, ContinuedIterationsKeepTheRelationsEvaluatedFlags) {
  script(nullptr, 1);
  ASSERT_EQ(call(demandInitialize), 0);  // the driver learns the model's relations
  struct Case {
    int demand;
    int phase;
    int cleared;
  } cases[] = {
      {demandEvent, eventPhaseConverge, 1},
      {demandEvent, eventPhaseStartExternal, 1},
      {demandEvent, eventPhaseContinueExternal, 0},
      {demandEvent, eventPhaseContinueConverge, 0},
      {demandCrossings, eventPhaseContinueExternal, 1},  // crossing functions always start afresh
      {demandOutputs, eventPhaseConverge, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.demand * 10 + c.phase);
    script(nullptr, 1);
    m->iterationCounter = 0;
    m->relationEvaluated[1] = 1;
    ASSERT_EQ(call(c.demand, 0, c.phase), 0);
    ASSERT_EQ(passes().size(), 1u);
    EXPECT_EQ(passes()[0].relationEvaluated1, !c.cleared);
  }
}

TEST_F(Driver, ConvergedCallHandsTheStepToTheCrossingScaling) {
  struct Case {
    int method;
    double fraction;
    double derivative;
  } cases[] = {
      {0, 0.75, 2},    // no scaling: the step fraction stays as it was
      {1, 0.25, 0.5},  // the step ends at the time event a quarter step ahead
      {2, 0.25, 2},    // the fraction is set, the derivatives are left alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    // The model requests a time event a quarter step after t = 1.
    script([](FakePass& p) {
      if (p.m->time == 1) p.solverReals[solverRealNextTimeEvent] = 1.25;
    });
    solverInts[solverIntMethod] = c.method;
    ASSERT_EQ(call(demandInitialize, 0), 0);  // the scaling starts over; the fixed step is 1
    solverReals[solverRealStepFraction] = 0.75;
    derivatives[0] = 2;
    ASSERT_EQ(call(demandEvent, 1), 0);
    EXPECT_EQ(solverReals[solverRealStepFraction], c.fraction);
    EXPECT_EQ(derivatives[0], c.derivative);
  }
  solverInts[solverIntMethod] = 0;
}

TEST_F(Driver, ConvergedInitialisationResetsTheDelayCounters) {
  struct Case {
    int demand;
    FakeScript model;
    int qiErr;
    int counterAfter;
  } cases[] = {
      {demandInitialize, nullptr, 0, 0},
      {demandEvent, nullptr, 0, 5},
      {demandInitialize, alwaysEvent, 1, 5},  // an initialisation that fails
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.demand);
    script(c.model);
    delayTables.resetCounter1 = delayTables.resetCounter2 = 5;
    EXPECT_EQ(call(c.demand), c.qiErr);
    EXPECT_EQ(delayTables.resetCounter1, c.counterAfter);
    EXPECT_EQ(delayTables.resetCounter2, c.counterAfter);
  }
  delayTables.resetCounter1 = delayTables.resetCounter2 = 0;
}

TEST_F(Driver, ConvergedAllSectionsCallDisarmsTheRelationsItDidNotEvaluate) {
  script(nullptr, 3);
  ASSERT_EQ(call(demandInitialize), 0);
  script(
      [](FakePass& p) {
        p.m->relationEvaluated[1] = 1;
        p.crossings[0] = p.crossings[1] = 0.7;
      },
      3);
  m->relationState[1] = 0x7;  // evaluated: the pending change is dropped
  m->relationState[2] = 0x3;  // armed, not evaluated
  m->relationState[3] = 0x5;  // unarmed, not evaluated, crossing function at zero
  crossings[2] = crossings[3] = 0.4;
  crossings[4] = crossings[5] = 0;
  ASSERT_EQ(call(demandEvent), 0);
  EXPECT_EQ(m->relationState[1], 0x3);
  EXPECT_EQ(m->relationState[2], 0x1);
  EXPECT_EQ(m->relationState[3], 0x1);
  const double expected[] = {0.7, 0.7, 0.1, 0.1, 0.1, 0.1};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(crossings[k], expected[k]) << k;
}

TEST_F(Driver, InlineEventCallFirstChecksTheCrossingFunctions) {
  struct Case {
    const char* name;
    int stepEvent;
    double crossingAfterCheck;
    std::vector<int> demands;
    int levelAfter;
  } cases[] = {
      {"no sign change", 0, 0.5, {demandCrossings}, demandCrossings},
      {"sign change", 0, -0.5, {demandCrossings, demandEvent}, demandEvent},
      {"step event", 1, 0.5, {demandEvent}, demandEvent},
  };
  static double crossingAfterCheck;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script([](FakePass& p) {
      if (*p.demand == demandCrossings) p.crossings[0] = crossingAfterCheck;
    });
    crossingAfterCheck = c.crossingAfterCheck;
    m->inlineIntegration = 1;
    m->previousCrossings[0] = crossings[0] = 1.0;
    solverInts[solverIntStepEvent] = c.stepEvent;
    solverReals[solverRealNextTimeEvent] = 10;
    ASSERT_EQ(call(demandEvent, 1), 0);
    std::vector<int> demands;
    for (const FakePassRecord& r : passes()) demands.push_back(r.demand);
    EXPECT_EQ(demands, c.demands);
    EXPECT_EQ(passes()[0].allSections, c.demands[0] == demandEvent);
    EXPECT_EQ(passes()[0].nextTimeEvent, c.demands[0] == demandEvent ? 1e100 : 10);
    if (c.demands.size() == 2) {
      EXPECT_EQ(passes()[0].iterationCounter, 2);
      EXPECT_EQ(passes()[1].iterationCounter, 1);
      EXPECT_EQ(passes()[1].allSections, 1);
      EXPECT_EQ(passes()[1].nextTimeEvent, 1e100);
    }
    EXPECT_EQ(level, c.levelAfter);
    EXPECT_EQ(demand, c.levelAfter);
  }
}

// ---- Errors ----------------------------------------------------------------------------------

TEST_F(Driver, RuntimeErrorInAPassEndsTheCallAtOnce) {
  script([](FakePass& p) {
    *p.levelReached = 1;
    if (p.number == 1) RaiseError("boom");
  });
  ThreadBlock* block = GetThreadBlock();
  ASSERT_NE(block, nullptr);
  ModelData* before = block->currentModelData;
  level = 3;
  EXPECT_EQ(call(demandInitialize, 0.5), 1);
  EXPECT_EQ(passes().size(), 1u);
  EXPECT_EQ(level, 1);  // as far as the interrupted pass had set it
  EXPECT_EQ(m->initialisationCall, 1);
  EXPECT_EQ(m->status, 1);
  EXPECT_EQ(texts(), (Texts{"The following error was detected at time: 0.5", "boom"}));
  // The thread no longer refers to the record, and its jump is disarmed.
  EXPECT_EQ(block->currentModelData, before);
  EXPECT_EQ(block->errorJumpArmed, 0);
  // The next call evaluates normally.
  EXPECT_EQ(call(demandOutputs, 0.5), 0);
  EXPECT_EQ(level, demandOutputs);
}

TEST_F(Driver, RuntimeErrorReleasesTheTemporariesOfTheCall) {
  script([](FakePass& p) {
    StringConcat("left ", "behind");
    AllocateReals(10);
    if (p.number == 1) RaiseError("boom");
  });
  StringConcat("made ", "before");  // belongs to the caller and stays
  char* stringMark = StringMarkGet();
  BufferMark mark;
  MarkGet(&mark);
  EXPECT_EQ(call(demandOutputs), 1);
  EXPECT_EQ(StringMarkGet(), stringMark);
  BufferMark after;
  MarkGet(&after);
  EXPECT_EQ(after.place.Realbuffer, mark.place.Realbuffer);
  MarkReset();
}

TEST_F(Driver, ModelStatusBecomesTheErrorCode) {
  struct Case {
    int status;
    int event;  // the pass also asks for another pass
    int qiErr;
    int levelAfter;
    int phaseAfter;
  } cases[] = {
      {qiErrTerminate, 0, qiErrTerminate, demandEvent, eventPhaseConverge},
      {2, 0, 2, demandEvent, eventPhaseConverge},
      {qiErrStopped, 0, qiErrStopped, demandEvent, eventPhaseConverge},
      // A pending pass is not run: the call ends as the pass left it.
      {qiErrTerminate, 1, qiErrTerminate, demandDerivatives, eventPhaseStartExternal},
      {2, 1, 2, demandDerivatives, eventPhaseStartExternal},
  };
  static const Case* current;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status * 10 + c.event);
    current = &c;
    script([](FakePass& p) {
      p.m->status = current->status;
      p.m->eventNeeded = current->event;
      *p.levelReached = demandDerivatives;
    });
    EXPECT_EQ(call(demandEvent, 0, eventPhaseStartExternal), c.qiErr);
    EXPECT_EQ(passes().size(), 1u);
    EXPECT_EQ(level, c.levelAfter);
    EXPECT_EQ(m->eventPhase, c.phaseAfter);
  }
}

TEST_F(Driver, CountersFromARestoredRecordDoNotOverflow) {
  script(alwaysEvent);
  m->iterationCounter = INT_MAX;
  m->initialisationCount = INT_MAX;
  solverInts[solverIntChangeCounter] = INT_MAX;
  EXPECT_EQ(call(demandEvent, 0, eventPhaseContinueConverge), 1);
  EXPECT_EQ(passes().size(), 1u);
  EXPECT_EQ(m->iterationCounter, INT_MAX);
  EXPECT_EQ(call(demandInitialize, 0, eventPhaseConverge), 1);
  EXPECT_EQ(m->initialisationCount, INT_MAX);
}

TEST_F(Driver, ThreadWithoutABlockFailsInAnOrderlyWay) {
  int result = -1;
  std::thread worker([&] {
    SetThreadMemoryAllocator([](size_t, size_t) -> void* { return nullptr; });
    result = call(demandOutputs);
    SetThreadMemoryAllocator(nullptr);
  });
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(passes().empty());
}

TEST_F(Driver, DefaultEntryEvaluatesTheTemplate) {
  std::unique_ptr<ModelData> saved(new ModelData(modelDataTemplate));
  static ModelData* seen;
  script([](FakePass& p) { seen = p.m; });
  seen = nullptr;
  int code = demandInitialize;
  double t = 4;
  int err = 0;
  dsblock_default(&code, &level, &t, states, nullptr, inputs, parameters, nullptr, nullptr,
                  derivatives, outputs, auxiliaries, crossings, solverReals, solverInts, nullptr,
                  &err);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(seen, &modelDataTemplate);
  EXPECT_EQ(modelDataTemplate.startTime, 4);
  EXPECT_EQ(modelDataTemplate.initialisationCount, saved->initialisationCount + 1);
  modelDataTemplate = *saved;
}

// ---- Homotopy --------------------------------------------------------------------------------

// Fails the first initialisation pass in a model that uses homotopy; solves every homotopy pass
// below lambda 1 unless `fails` says otherwise.
bool (*homotopyFails)(double lambda);

void homotopyModel(FakePass& p) {
  ModelData* m = p.m;
  Homotopy(1.0, 0.0, m);
  if (p.number == 1) {
    m->status = 1;
  } else if (m->homotopyActive) {
    if (homotopyFails && homotopyFails(m->lambda)) {
      m->status = 1;
    } else if (m->lambda < 1) {
      m->status = qiErrHomotopySolved;
    } else {
      m->homotopyActive = 0;
    }
  }
}

std::vector<double> lambdasOfHomotopyPasses(const std::vector<FakePassRecord>& passes) {
  std::vector<double> lambdas;
  for (const FakePassRecord& r : passes)
    if (r.homotopyActive) lambdas.push_back(r.lambda);
  return lambdas;
}

TEST_F(Driver, HomotopyStepsFromSimplifiedToActualAndDoublesSmallSteps) {
  homotopyFails = nullptr;
  script(homotopyModel);
  // A step left small by an earlier homotopy of the instance doubles once lambda has moved six
  // steps past the last reduction.
  m->lambdaStep = 0.03;
  m->lambdaAtReduction = 0.5;
  ASSERT_EQ(call(demandInitialize), 0);

  std::vector<double> expected;
  for (int k = 0; k <= 23; ++k) expected.push_back(0.03 * k);
  for (double l : {0.75, 0.81, 0.87, 0.99, 1.0}) expected.push_back(l);
  std::vector<double> lambdas = lambdasOfHomotopyPasses(passes());
  ASSERT_EQ(lambdas.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(lambdas[i], expected[i], 1e-9) << i;
  EXPECT_EQ(lambdas.back(), 1.0);
  EXPECT_NEAR(m->lambdaStep, 0.12, 1e-12);

  // Every homotopy pass is preceded by the driver's call of the hook.
  EXPECT_EQ(fakeModel.initializationHooks.size(), expected.size());
  for (const auto& hook : fakeModel.initializationHooks) EXPECT_EQ(hook.first, 0);
  EXPECT_EQ(texts(), (Texts{"Trying to solve non-linear system using global homotopy-method."}));
  EXPECT_EQ(m->homotopyActive, 0);
  EXPECT_EQ(m->homotopyTriedAt, 1);
  // The homotopy passes are not counted; the iteration after them is.
  EXPECT_EQ(passes().back().initial, 0);
  EXPECT_EQ(passes().back().iterationCounter, 1);
}

TEST_F(Driver, HomotopyFailuresReportWhyTheyStopped) {
  const char* start = "Trying to solve non-linear system using global homotopy-method.";
  const char* reducing = "Error: reducing step size for homotopy.";
  struct Case {
    const char* name;
    bool (*fails)(double lambda);
    const char* lastText;
    int reductions;  // -1: any number
  } cases[] = {
      {"simplified", [](double) { return true; },
       "Error: could not solve simplified initialization for homotopy method.", 0},
      {"cannot start", [](double l) { return l > 0; },
       "Error: adaptive homotopy method could not start using actual - check that actual and "
       "simplified arguments are similar.",
       10},
      {"stuck", [](double l) { return l > 0.5; },
       "Error: adaptive homotopy method got stuck after starting. Can set scripting flag "
       "Advanced.DebugHomotopy=true; simulate again, and open continuation.csv to investigate",
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    recorder.messages.clear();
    homotopyFails = c.fails;
    script(homotopyModel);
    EXPECT_EQ(call(demandInitialize), 1);
    Texts t = texts();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t.front(), start);
    EXPECT_EQ(t.back(), c.lastText);
    int reductions = 0;
    for (const std::string& s : t) reductions += s == reducing;
    if (c.reductions >= 0) {
      EXPECT_EQ(reductions, c.reductions);
    }
    if (c.reductions != 0) {
      EXPECT_LE(m->lambdaStep, 1e-4);
    }
    EXPECT_EQ(m->homotopyActive, 1);  // a failed homotopy stays where it stopped
  }
  homotopyFails = nullptr;
}

// A record restored from elsewhere can carry a continuation no driver makes: a step that is not
// a positive number, or a lambda that is none. Stepping on from it would never reach lambda 1, so
// the continuation ends as a failed homotopy, whether the passes solve or fail.
TEST_F(Driver, AContinuationThatCannotStepEndsAsAFailedHomotopy) {
  struct Case {
    const char* name;
    double lambda;
    double lambdaStep;
    int active;  // homotopy already running, as a restored record may say
    bool (*fails)(double lambda);
  } cases[] = {
      {"zero step, passes solve", 1.0, 0.0, 0, nullptr},
      {"negative step, passes solve", 1.0, -0.1, 0, nullptr},
      {"NaN step, passes solve", 1.0, NAN, 0, nullptr},
      {"infinite step, passes solve", 1.0, INFINITY, 0, nullptr},
      {"NaN step, passes fail", 1.0, NAN, 0, [](double l) { return l > 0; }},
      {"infinite step, passes fail", 1.0, INFINITY, 0, [](double l) { return l > 0; }},
      {"NaN lambda while running, passes fail", NAN, 0.1, 1, [](double) { return true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    recorder.messages.clear();
    homotopyFails = c.fails;
    script(homotopyModel);
    m->lambda = c.lambda;
    m->lambdaStep = c.lambdaStep;
    m->homotopyActive = c.active;
    EXPECT_EQ(call(demandInitialize), 1);
    EXPECT_LT(passes().size(), 10u);
    EXPECT_EQ(m->homotopyActive, 1);
  }
  homotopyFails = nullptr;
}

TEST_F(Driver, HomotopyCodesOutsideTheirStepsArePassedOn) {
  struct Case {
    const char* name;
    FakeScript model;
    int qiErr;
    int homotopyActive;
    Texts texts;
  } cases[] = {
      // Asked for again at lambda 0 (where homotopy already stands): left in QiErr.
      {"requested at lambda 0",
       [](FakePass& p) {
         Homotopy(1.0, 0.0, p.m);
         p.m->status = p.number == 1 ? 1 : qiErrHomotopyRequested;
       },
       qiErrHomotopyRequested, 1,
       {"Trying to solve non-linear system using global homotopy-method."}},
      // A solved homotopy step without homotopy in progress.
      {"solved without homotopy",
       [](FakePass& p) {
         if (p.number == 1) p.m->status = qiErrHomotopySolved;
       },
       qiErrHomotopySolved, 0, {}},
      // A model that silences its reports before failing starts homotopy without the message.
      {"quiet",
       [](FakePass& p) {
         Homotopy(1.0, 0.0, p.m);
         if (p.number == 1) {
           p.solverInts[solverIntLogFlags] = logFlagQuiet;
           p.m->status = 1;
         } else if (p.m->homotopyActive) {
           if (p.m->lambda < 1)
             p.m->status = qiErrHomotopySolved;
           else
             p.m->homotopyActive = 0;
         }
       },
       0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    recorder.messages.clear();
    script(c.model);
    EXPECT_EQ(call(demandInitialize), c.qiErr);
    EXPECT_EQ(m->homotopyActive, c.homotopyActive);
    EXPECT_EQ(texts(), c.texts);
  }
}

TEST_F(Driver, HomotopyStartsOnlyAtTheStartTime) {
  struct Case {
    double time;
    int qiErr;
    int homotopyTried;
  } cases[] = {{0, 0, 1}, {1, 2, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    SetUp();
    homotopyFails = nullptr;
    script(nullptr);
    ASSERT_EQ(call(demandInitialize, 0), 0);
    // A later call that fails in its first pass, in a model that uses homotopy.
    script([](FakePass& p) {
      Homotopy(1.0, 0.0, p.m);
      if (p.number == 1) {
        p.m->status = 2;
      } else if (p.m->homotopyActive) {
        if (p.m->lambda < 1)
          p.m->status = qiErrHomotopySolved;
        else
          p.m->homotopyActive = 0;
      }
    });
    EXPECT_EQ(call(demandEvent, c.time), c.qiErr);
    EXPECT_EQ(m->homotopyTriedAt == m->initialisationCount, c.homotopyTried == 1);
  }
}

TEST_F(Driver, HomotopyStartsOnlyForAModelThatUsesItAndOncePerInitialisation) {
  script([](FakePass& p) {
    if (p.number == 1) p.m->status = 3;
  });
  EXPECT_EQ(call(demandInitialize), 3);
  EXPECT_TRUE(texts().empty());

  homotopyFails = nullptr;
  script(homotopyModel);
  m->homotopyTriedAt = m->initialisationCount + 1;  // this initialisation has tried it already
  EXPECT_EQ(call(demandInitialize), 1);
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(m->homotopyActive, 0);
}

}  // namespace
