// Relations with hysteresis: the Boolean, its state bits, the offsets, the crossing-function pair,
// the event requests and the messages of both relation forms.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "case_names.h"
#include "globalcontext.h"
#include "guarded_call.h"
#include "modeldata.h"
#include "relations.h"

namespace {

const char relationText[] = "u > limiter.uMax";
const char expressionText[] = "(u) - (limiter.uMax)";
constexpr double eps = 1e-10;  // the model's relationEpsilon
constexpr double cap = 1e-4;
constexpr int armed = relationStateArmed;
constexpr int pending = relationStatePending;

// Records what reaches the host, and registers solver blocks without LogFlags so that no test
// here writes the event log of the test process.
class RelationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousReals = GetSolverReals();
    previousInts = GetSolverInts();
    SetContextRecords(solverReals, solverInts);
  }
  void TearDown() override { SetContextRecords(previousReals, previousInts); }
  void ExpectMessages(const char* const* expected) {
    std::vector<std::string> want;
    for (int i = 0; i < 3 && expected[i]; ++i) want.push_back(expected[i]);
    EXPECT_EQ(recorder.texts(), want);
    for (const RecordedMessage& m : recorder.messages) {
      EXPECT_EQ(m.level, 0) << m.text;  // information
      EXPECT_EQ(m.flush, 1) << m.text;
    }
  }

  RuntimeMessageRecorder recorder;
  double solverReals[solverRealCount] = {};
  int solverInts[solverIntCount] = {};
  double* previousReals = nullptr;
  int* previousInts = nullptr;
};

// ---- EventRelationBand -------------------------------------------------------------------

struct BandCase {
  const char* name;
  // The relation's entries and the call's arguments.
  int state = 0;
  double offset = 0.0;
  double signedEps = 0.0;
  int evaluated = 0;
  double value = 0.0;
  int initial = 0;
  int allSections = 0;
  int bandArming = 0;
  int mayEnlarge = 0;
  int direction = relationGreater;
  int negate = 0;
  int logFlags = 0;
  // What the call leaves.
  int result = 0;
  int stateAfter = 0;
  double offsetAfter = 0.0;
  double signedEpsAfter = 0.0;
  int eventRequest = 0;
  double crossing = relationBand;
  const char* messages[3] = {};
};

const BandCase bandCases[] = {
    // Band arming in a crossing-function pass.
    {.name = "InsideBandStaysUnarmed", .state = 1, .value = 0.05, .bandArming = 1,
     .result = 1, .stateAfter = 1},
    {.name = "InsideBandWithOtherBooleanTurnsPendingAndFollowsValue", .state = 0, .value = 0.05,
     .bandArming = 1, .result = 1, .stateAfter = pending | 1},
    {.name = "LeavingBandArmsWithOffsetOnPositiveSide", .state = 1, .value = 0.2, .bandArming = 1,
     .result = 1, .stateAfter = armed | 1, .offsetAfter = -eps, .signedEpsAfter = -eps,
     .crossing = eps + 0.2},
    {.name = "LeavingBandBelowArmsWithPositiveOffset", .state = 0, .value = -0.2,
     .bandArming = 1, .result = 0, .stateAfter = armed, .offsetAfter = eps,
     .signedEpsAfter = eps, .crossing = eps + 0.2},
    {.name = "LeavingBandWithOtherBooleanOnlyTurnsPending", .state = 0, .value = 0.2,
     .bandArming = 1, .result = 1, .stateAfter = pending | 1},
    {.name = "PendingBlocksArming", .state = pending, .value = -0.2, .bandArming = 1,
     .result = 0, .stateAfter = pending},
    {.name = "LessDirectionArmsAndFallsToZeroAsValueRises", .state = 1, .value = -0.2,
     .bandArming = 1, .direction = relationLess, .result = 1, .stateAfter = armed | 1,
     .offsetAfter = eps, .signedEpsAfter = eps, .crossing = eps + 0.2},
    {.name = "NegatedArmsAndFallsToZeroAsValueRises", .state = 1, .value = -0.2,
     .bandArming = 1, .negate = 1, .result = 1, .stateAfter = armed | 1, .offsetAfter = eps,
     .signedEpsAfter = eps, .crossing = eps + 0.2},
    // An armed relation keeps its Boolean outside all-sections passes.
    {.name = "ArmedCrossingZeroOutsideAllSectionsKeepsBoolean", .state = armed, .offset = eps,
     .signedEps = eps, .value = 0.05, .bandArming = 1, .result = 0, .stateAfter = armed,
     .offsetAfter = eps, .signedEpsAfter = eps, .crossing = eps - 0.05},
    {.name = "AllSectionsPassAcceptsChangeWithRequestAndMessage", .state = armed, .offset = eps,
     .signedEps = eps, .evaluated = 1, .value = 0.05, .allSections = 1,
     .logFlags = logFlagEvents, .result = 1, .stateAfter = armed | 1, .offsetAfter = -eps,
     .signedEpsAfter = -eps, .eventRequest = 1, .crossing = eps + 0.05,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 0.05 )"}},
    {.name = "FirstEvaluationChangeDisarmsInsideBand", .state = armed, .offset = eps,
     .signedEps = eps, .value = 0.05, .allSections = 1, .result = 1, .stateAfter = 1,
     .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps, .eventRequest = 1},
    {.name = "OffsetGivesHysteresisInAllSectionsPass", .state = armed | 1, .offset = -eps,
     .evaluated = 1, .value = -0.5 * eps, .allSections = 1, .result = 1,
     .stateAfter = armed | 1, .offsetAfter = -eps, .signedEpsAfter = -eps,
     .crossing = 0.5 * eps},
    // Unarmed relations in all-sections passes.
    {.name = "UnarmedDecidesWithoutOffset", .state = 1, .offset = -eps, .evaluated = 1,
     .value = -0.5 * eps, .allSections = 1, .result = 0, .stateAfter = 0, .offsetAfter = -eps,
     .signedEpsAfter = eps},
    {.name = "InsideBandChangesWithoutRequest", .state = 0, .value = 0.05, .allSections = 1,
     .logFlags = logFlagEvents, .result = 1, .stateAfter = 1, .offsetAfter = -eps * 1e-6,
     .signedEpsAfter = -eps},
    {.name = "OutsideBandChangeRequestsEventAndArms", .state = 0, .value = 0.5,
     .allSections = 1, .result = 1, .stateAfter = armed | 1, .offsetAfter = -eps * 1e-6,
     .signedEpsAfter = -eps, .eventRequest = 1, .crossing = eps * 1e-6 + 0.5},
    {.name = "FirstEvaluationInsideBandDisarmsAndDropsPending", .state = pending | armed | 1,
     .offset = -eps, .value = 0.05, .allSections = 1, .result = 1, .stateAfter = 1,
     .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps},
    {.name = "NearThresholdOffsetIsSignedEps", .state = 0, .value = -0.5 * eps,
     .allSections = 1, .result = 0, .stateAfter = 0, .offsetAfter = eps,
     .signedEpsAfter = eps},
    {.name = "BetweenEpsAndCapOffsetStays", .state = 1, .offset = -3e-10, .value = 5e-5,
     .allSections = 1, .result = 1, .stateAfter = 1, .offsetAfter = -3e-10,
     .signedEpsAfter = -eps},
    {.name = "ZeroValueGreaterLiesOnNegativeSide", .state = 0, .value = 0.0, .allSections = 1,
     .result = 0, .stateAfter = 0, .offsetAfter = eps, .signedEpsAfter = eps},
    {.name = "ZeroValueLessLiesOnPositiveSide", .state = 0, .value = 0.0, .allSections = 1,
     .direction = relationLess, .result = 0, .stateAfter = 0, .offsetAfter = -eps,
     .signedEpsAfter = -eps},
    // Initialisation: every call goes through the change steps, without event requests.
    {.name = "InitialisationChangesSilentlyWithoutLogFlags", .state = 0, .value = 0.5,
     .initial = 1, .allSections = 1, .result = 1, .stateAfter = armed | 1,
     .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps, .crossing = eps * 1e-6 + 0.5},
    {.name = "InitialisationWithEventFlagOnlyStaysSilent", .state = 0, .value = 0.5,
     .initial = 1, .allSections = 1, .logFlags = logFlagEvents, .result = 1,
     .stateAfter = armed | 1, .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps,
     .crossing = eps * 1e-6 + 0.5},
    {.name = "InitialisationReportsChangeWithInitialisationFlag", .state = 0, .value = 0.5,
     .initial = 1, .allSections = 1, .logFlags = logFlagEvents | logFlagInitialization,
     .result = 1, .stateAfter = armed | 1, .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps,
     .crossing = eps * 1e-6 + 0.5,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 0.5 )"}},
    {.name = "InitialisationUnchangedBooleanMovesOffsetButIsNotReported", .state = 1,
     .evaluated = 1, .value = 0.05, .initial = 1, .allSections = 1,
     .logFlags = logFlagEvents | logFlagInitialization, .result = 1, .stateAfter = 1,
     .offsetAfter = -eps, .signedEpsAfter = -eps},
    // The epsilon grows while the event iteration does not settle.
    {.name = "EpsilonGrowsTenfoldWithWarning", .state = armed, .offset = eps, .evaluated = 1,
     .value = 5e-5, .allSections = 1, .mayEnlarge = 1, .logFlags = logFlagEvents, .result = 1,
     .stateAfter = armed | 1, .offsetAfter = -10 * eps, .signedEpsAfter = -eps,
     .eventRequest = 1, .crossing = 10 * eps + 5e-5,
     .messages = {"Warning: Event epsilon of u > limiter.uMax increased to 1e-09.\n",
                  "Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 5e-05 )"}},
    {.name = "EpsilonGrowthStopsAtCap", .state = armed, .offset = 2e-5, .evaluated = 1,
     .value = 5e-5, .allSections = 1, .mayEnlarge = 1, .logFlags = logFlagEvents, .result = 1,
     .stateAfter = armed | 1, .offsetAfter = -cap, .signedEpsAfter = -eps, .eventRequest = 1,
     .crossing = cap + 5e-5,
     .messages = {"Warning: Event epsilon of u > limiter.uMax increased to 0.0001.\n",
                  "Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 5e-05 )"}},
    {.name = "EpsilonGrowsOnlyAfterFivePasses", .state = armed, .offset = eps, .evaluated = 1,
     .value = 5e-5, .allSections = 1, .logFlags = logFlagEvents, .result = 1,
     .stateAfter = armed | 1, .offsetAfter = -eps, .signedEpsAfter = -eps, .eventRequest = 1,
     .crossing = eps + 5e-5,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 5e-05 )"}},
    {.name = "EpsilonGrowthWithoutEventFlagIsSilent", .state = armed, .offset = eps,
     .evaluated = 1, .value = 5e-5, .allSections = 1, .mayEnlarge = 1, .result = 1,
     .stateAfter = armed | 1, .offsetAfter = -10 * eps, .signedEpsAfter = -eps,
     .eventRequest = 1, .crossing = 10 * eps + 5e-5},
    {.name = "EpsilonFromZeroOffsetIsNotAnIncrease", .state = armed, .offset = 0.0,
     .evaluated = 1, .value = 5e-5, .allSections = 1, .mayEnlarge = 1,
     .logFlags = logFlagEvents, .result = 1, .stateAfter = armed | 1, .offsetAfter = -eps,
     .signedEpsAfter = -eps, .eventRequest = 1, .crossing = eps + 5e-5,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 5e-05 )"}},
};

void PrintTo(const BandCase& c, std::ostream* os) { *os << c.name; }

class RelationBandCase : public RelationTest, public ::testing::WithParamInterface<BandCase> {};

TEST_P(RelationBandCase, LeavesBooleanStateOffsetAndCrossingPair) {
  const BandCase& c = GetParam();
  int state = c.state;
  double offset = c.offset;
  double signedEps = c.signedEps;
  int evaluated = c.evaluated;
  int eventRequest = 0;
  double crossingPair[2] = {-7.0, -7.0};

  int result = EventRelationBand(relationText, expressionText, &state, &offset, &signedEps, eps,
                                 c.value, crossingPair, c.initial, c.allSections, c.bandArming,
                                 c.logFlags, &eventRequest, c.direction, c.negate, &evaluated,
                                 cap, c.mayEnlarge);

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(state, c.stateAfter);
  EXPECT_DOUBLE_EQ(offset, c.offsetAfter);
  EXPECT_DOUBLE_EQ(signedEps, c.signedEpsAfter);
  EXPECT_EQ(eventRequest, c.eventRequest);
  EXPECT_EQ(evaluated, 1);
  EXPECT_DOUBLE_EQ(crossingPair[0], c.crossing);
  EXPECT_EQ(crossingPair[1], crossingPair[0]);
  ExpectMessages(c.messages);
}

INSTANTIATE_TEST_SUITE_P(Cases, RelationBandCase, ::testing::ValuesIn(bandCases),
                         quenzel_test::CaseName{});

// The event request is only ever raised, never cleared: the caller collects the requests of
// all relations of a pass in one flag.
TEST_F(RelationTest, BandKeepsAnEarlierEventRequest) {
  int state = 1, evaluated = 0, eventRequest = 1;
  double offset = 0.0, signedEps = 0.0, crossingPair[2];
  EventRelationBand(relationText, expressionText, &state, &offset, &signedEps, eps, 0.5,
                    crossingPair, 0, 1, 0, 0, &eventRequest, relationGreater, 0, &evaluated, cap,
                    0);
  EXPECT_EQ(eventRequest, 1);
}

// An armed relation crosses, the crossing pass keeps the Boolean while the pair changes sign,
// and the following all-sections pass of the call (relation evaluated) accepts the change.
TEST_F(RelationTest, BandChangeIsAcceptedOnlyInTheAllSectionsPassAfterTheCrossing) {
  int state = 0, evaluated = 0, eventRequest = 0;
  double offset = 0.0, signedEps = 0.0, crossingPair[2];
  auto call = [&](double value, int allSections, int bandArming) {
    return EventRelationBand(relationText, expressionText, &state, &offset, &signedEps, eps,
                             value, crossingPair, 0, allSections, bandArming, logFlagEvents,
                             &eventRequest, relationGreater, 0, &evaluated, cap, 0);
  };

  EXPECT_EQ(call(-0.5, 0, 1), 0);  // arms
  EXPECT_EQ(state, armed);
  EXPECT_GT(crossingPair[0], 0.0);
  evaluated = 0;                   // a new call
  EXPECT_EQ(call(0.02, 0, 1), 0);  // crossed, but not in an all-sections pass
  EXPECT_LT(crossingPair[0], 0.0);
  EXPECT_EQ(eventRequest, 0);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(call(0.02, 1, 0), 1);
  EXPECT_EQ(eventRequest, 1);
  EXPECT_EQ(state, armed | 1);
  EXPECT_DOUBLE_EQ(offset, -eps);
  EXPECT_DOUBLE_EQ(crossingPair[0], eps + 0.02);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text,
            "Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 0.02 )");
}

// ---- EventRelation -----------------------------------------------------------------------

struct PlainCase {
  const char* name;
  int state = 0;
  double offset = 0.0;
  int evaluated = 0;
  double value = 0.0;
  int initial = 0;
  int mayEnlarge = 0;
  int direction = relationGreater;
  int negate = 0;
  int logFlags = 0;
  int stateAfter = 0;
  double offsetAfter = 0.0;
  double signedEpsAfter = 0.0;
  int eventNeeded = 0;
  const char* messages[3] = {};
};

const PlainCase plainCases[] = {
    {.name = "UnchangedFarFromThresholdGetsTinyOffset", .state = 1, .value = 0.5,
     .stateAfter = 1, .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps},
    {.name = "UnchangedNearThresholdGetsSignedEps", .state = 0, .value = -0.5 * eps,
     .stateAfter = 0, .offsetAfter = eps, .signedEpsAfter = eps},
    {.name = "UnchangedBetweenEpsAndCapKeepsOffset", .state = 1, .offset = -3e-10,
     .value = 5e-5, .stateAfter = 1, .offsetAfter = -3e-10, .signedEpsAfter = -eps},
    {.name = "UnchangedEvaluatedKeepsOffset", .state = 1, .offset = -eps, .evaluated = 1,
     .value = 0.5, .stateAfter = 1, .offsetAfter = -eps, .signedEpsAfter = -eps},
    {.name = "EvaluatedOffsetGivesHysteresis", .state = 1, .offset = -eps, .evaluated = 1,
     .value = -0.5 * eps, .stateAfter = 1, .offsetAfter = -eps, .signedEpsAfter = -eps},
    {.name = "ChangeRequestsEventAndReports", .state = 0, .value = 0.5,
     .logFlags = logFlagEvents, .stateAfter = 1, .offsetAfter = -eps * 1e-6,
     .signedEpsAfter = -eps, .eventNeeded = 1,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 0.5 )"}},
    {.name = "EvaluatedChangeThroughOffset", .state = 1, .offset = -eps, .evaluated = 1,
     .value = -2 * eps, .logFlags = logFlagEvents, .stateAfter = 0, .offsetAfter = eps,
     .signedEpsAfter = eps, .eventNeeded = 1,
     .messages = {"Expression u > limiter.uMax became false ( (u) - (limiter.uMax) = -2e-10 )"}},
    {.name = "EpsilonGrowsTenfoldWithWarning", .state = 1, .offset = -eps, .evaluated = 1,
     .value = -2 * eps, .mayEnlarge = 1, .logFlags = logFlagEvents, .stateAfter = 0,
     .offsetAfter = 10 * eps, .signedEpsAfter = eps, .eventNeeded = 1,
     .messages = {"Warning: Event epsilon of u > limiter.uMax increased to 1e-09.\n",
                  "Expression u > limiter.uMax became false ( (u) - (limiter.uMax) = -2e-10 )"}},
    {.name = "LessDirection", .state = 0, .value = -0.5, .direction = relationLess,
     .stateAfter = 1, .offsetAfter = eps * 1e-6, .signedEpsAfter = eps, .eventNeeded = 1},
    {.name = "Negated", .state = 1, .value = 0.5, .negate = 1, .stateAfter = 0,
     .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps, .eventNeeded = 1},
    {.name = "InitialisationUnchangedGoesThroughChangeAndReportsFirstEvaluation", .state = 1,
     .value = 0.5, .initial = 1, .logFlags = logFlagEvents | logFlagInitialization,
     .stateAfter = 1, .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 0.5 )"}},
    {.name = "InitialisationEvaluatedUnchangedIsNotReported", .state = 1, .offset = -eps,
     .evaluated = 1, .value = 0.5, .initial = 1,
     .logFlags = logFlagEvents | logFlagInitialization, .stateAfter = 1, .offsetAfter = -eps,
     .signedEpsAfter = -eps},
    {.name = "InitialisationEvaluatedChangeIsReported", .state = 0, .offset = eps,
     .evaluated = 1, .value = 0.5, .initial = 1,
     .logFlags = logFlagEvents | logFlagInitialization, .stateAfter = 1, .offsetAfter = -eps,
     .signedEpsAfter = -eps,
     .messages = {"Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 0.5 )"}},
    {.name = "InitialisationWithEventFlagOnlyIsSilentAndRequestsNothing", .state = 0,
     .value = 0.5, .initial = 1, .logFlags = logFlagEvents, .stateAfter = 1,
     .offsetAfter = -eps * 1e-6, .signedEpsAfter = -eps},
};

void PrintTo(const PlainCase& c, std::ostream* os) { *os << c.name; }

class RelationPlainCase : public RelationTest, public ::testing::WithParamInterface<PlainCase> {};

TEST_P(RelationPlainCase, LeavesBooleanOffsetAndEventFlags) {
  const PlainCase& c = GetParam();
  for (int withChangeFlag = 0; withChangeFlag <= 1; ++withChangeFlag) {
    SCOPED_TRACE(withChangeFlag ? "with change flag" : "change flag null");
    recorder.messages.clear();
    int state = c.state;
    double offset = c.offset;
    double signedEps = 0.0;
    int eventNeeded = 0;
    int changeFlag = 0;
    EventRelation(relationText, expressionText, &state, &offset, &signedEps, eps, c.value,
                  c.initial, c.logFlags, &eventNeeded, withChangeFlag ? &changeFlag : nullptr,
                  c.direction, c.negate, c.evaluated, cap, c.mayEnlarge);
    EXPECT_EQ(state, c.stateAfter);
    EXPECT_DOUBLE_EQ(offset, c.offsetAfter);
    EXPECT_DOUBLE_EQ(signedEps, c.signedEpsAfter);
    EXPECT_EQ(eventNeeded, c.eventNeeded);
    EXPECT_EQ(changeFlag, withChangeFlag ? c.eventNeeded : 0);
    ExpectMessages(c.messages);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RelationPlainCase, ::testing::ValuesIn(plainCases),
                         quenzel_test::CaseName{});

// ---- Formatting ----------------------------------------------------------------------------

// The messages write numbers with a decimal point whatever locale the host has set.
TEST_F(RelationTest, MessagesUseTheCLocale) {
  const std::string previous = setlocale(LC_ALL, nullptr);
  ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the comma-decimal locale is missing";
  int state = armed, evaluated = 1, eventRequest = 0;
  double offset = 2.5e-6, signedEps = 0.0, crossingPair[2];
  EventRelationBand(relationText, expressionText, &state, &offset, &signedEps, eps, 7.5e-5,
                    crossingPair, 0, 1, 0, logFlagEvents, &eventRequest, relationGreater, 0,
                    &evaluated, cap, 1);
  setlocale(LC_ALL, previous.c_str());
  ASSERT_EQ(recorder.messages.size(), 2u);
  EXPECT_EQ(recorder.messages[0].text, "Warning: Event epsilon of u > limiter.uMax increased to 2.5e-05.\n");
  EXPECT_EQ(recorder.messages[1].text,
            "Expression u > limiter.uMax became true ( (u) - (limiter.uMax) = 7.5e-05 )");
}

// Inserted texts are capped at 400 characters each, so the message never outgrows its buffer.
TEST_F(RelationTest, MessageCapsTextsAt400Characters) {
  const std::string longText(1000, 'r');
  const std::string longExpression(1000, 'e');
  int state = 0;
  double offset = 0.0, signedEps = 0.0;
  int eventNeeded = 0;
  EventRelation(longText.c_str(), longExpression.c_str(), &state, &offset, &signedEps, eps, -1e300,
                0, logFlagEvents, &eventNeeded, nullptr, relationLess, 0, 0, cap, 0);
  ASSERT_EQ(recorder.messages.size(), 1u);
  EXPECT_EQ(recorder.messages[0].text, "Expression " + std::string(400, 'r') + " became true ( " +
                                  std::string(400, 'e') + " = -1e+300 )");
}

}  // namespace
