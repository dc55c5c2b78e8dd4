// Model evaluation as a host sees it: initialisation with the model's own and with consistent
// parameters, the getters' view of the model's equations, failed evaluations (fmi2Discard where
// a retry is allowed, otherwise fmi2Error and a terminated instance) and terminate.
#include <string>
#include <vector>

#include "case_names.h"
#include "instance.h"
#include "unit_fixture.h"

namespace {

using Evaluation = UnitTest;

class BothKinds : public UnitTest, public ::testing::WithParamInterface<fmi2Type> {};

// The model's own limits contradict each other: the runtime reports the failed check, the FMI
// layer its failure with the explanation, and the instance is terminated without a terminal
// section.
TEST_P(BothKinds, DefaultParametersFailTheInitialisation) {
  fmi2Component c = instantiate(GetParam());
  ASSERT_NE(c, nullptr);
  host.clear();
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  EXPECT_EQ(textsAt(fmi2Error), limiterFailureTexts());
  std::vector<std::string> expected = {"fmi2EnterInitializationMode..."};
  if (GetParam() == fmi2CoSimulation) expected.push_back("fmi2SetTime to 0");
  for (const std::string& text : limiterFailureTexts()) expected.push_back(text);
  EXPECT_EQ(host.texts(), expected);
  for (const LogRecord& r : host.log) {
    EXPECT_EQ(r.instance, "inst");
    EXPECT_EQ(r.category, "");
  }
  EXPECT_EQ(probeMode(c), 7);
}

// Errors reach the host with logging off too.
TEST_P(BothKinds, FailureTextsArriveWithLoggingOff) {
  fmi2Component c = instantiate(GetParam(), "inst", fmi2False);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  EXPECT_EQ(host.texts(), limiterFailureTexts());
}

TEST_P(BothKinds, ConsistentParametersInitialiseAndTheGettersFollowTheEquations) {
  fmi2Component c = instantiate(GetParam());
  ASSERT_NE(c, nullptr);
  consistentLimits(c);
  ASSERT_EQ(set(c, model::outputSelector, 3.0), fmi2OK);
  ASSERT_EQ(set(c, model::filterK, 2.0), fmi2OK);
  ASSERT_EQ(set(c, model::filterT, 0.5), fmi2OK);
  ASSERT_EQ(set(c, model::filterYStart, 0.25), fmi2OK);
  ASSERT_EQ(set(c, model::limitedFilterK, 3.0), fmi2OK);
  ASSERT_EQ(set(c, model::limitedFilterT, 2.0), fmi2OK);
  ASSERT_EQ(set(c, model::limitedFilterYStart, 0.5), fmi2OK);
  ASSERT_EQ(set(c, model::timeSourceOffset, 0.75), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  std::vector<std::string> expected = {"fmi2EnterInitializationMode...", "fmi2EnterInitializationMode completed"};
  if (GetParam() == fmi2CoSimulation) expected.insert(expected.begin() + 1, "fmi2SetTime to 0");
  EXPECT_EQ(host.texts(), expected);
  host.clear();

  const fmi2ValueReference vr[] = {model::filterY,     model::limitedFilterY, model::y,
                                   model::derFilterY,  model::derLimitedFilterY, model::limiterY,
                                   model::limiter1Y,   model::timeSourceY,    model::greaterThresholdY,
                                   model::inputSwitchY};
  const double expectedValues[] = {0.25,                    // filter.yStart
                                   0.5,                     // limitedFilter.yStart
                                   0.25,                    // outputSelector 3: filter.y
                                   (2.0 * 0.5 - 0.25) / 0.5,  // (k u - x) / T
                                   (3.0 * 0.5 - 0.5) / 2.0,   // (k limiter1.y - x) / T
                                   0.5,                     // u within the limits
                                   0.5,
                                   0.75,                    // offset, ramp started at 0
                                   0.0,                     // 0.75 is below the threshold 1
                                   1500.0};                 // the switch's alternative
  constexpr size_t n = sizeof vr / sizeof vr[0];
  double values[n] = {};
  EXPECT_EQ(unit.fmi2GetReal(c, vr, n, values), fmi2OK);
  for (size_t i = 0; i < n; ++i) EXPECT_DOUBLE_EQ(values[i], expectedValues[i]) << "reference " << vr[i];
  ASSERT_EQ(host.log.size(), n);
  EXPECT_EQ(host.log[0].text, "fmiGetReal: #r33554432# = 0.25");

  host.clear();
  EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  const std::string exitName =
      GetParam() == fmi2CoSimulation ? "fmiExitInitializationMode" : "fmi2ExitInitializationMode";
  EXPECT_EQ(host.texts(), (std::vector<std::string>{exitName + "...", exitName + " completed"}));
  EXPECT_EQ(get(c, model::y), 0.25);
  EXPECT_EQ(probeMode(c), GetParam() == fmi2CoSimulation ? 6 : 3);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BothKinds, ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         quenzel_test::CaseNameFrom<kindName>{});

TEST_F(Evaluation, EnterInitialisationTwiceIsRefused) {
  fmi2Component c = startIn(fmi2ModelExchange, startInitialization);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Warning);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"fmi2EnterInitializationMode...",
                                                    "model cannot be initialized in current state(1)"}));
}

// A misplaced fmi2EnterInitializationMode is refused before it changes anything: a model's
// request to terminate stays on record, so stepping stays refused and the host is still told.
// (The model never asks to terminate by itself; the instance's flag stands in for its request.)
TEST_F(Evaluation, ARefusedInitialisationKeepsTheModelsRequestToTerminate) {
  struct Case {
    fmi2Type type;
    StartMode start;
    int mode;
  } cases[] = {
      {fmi2ModelExchange, startInitialization, 1}, {fmi2ModelExchange, startRunning, 3},
      {fmi2CoSimulation, startInitialization, 1},  {fmi2CoSimulation, startRunning, 6},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(kindName(k.type)) + " in mode " + std::to_string(k.mode));
    fmi2Component c = startIn(k.type, k.start);
    ASSERT_NE(c, nullptr);
    static_cast<ModelInstance*>(c)->terminatedByModel = 1;
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Warning);
    EXPECT_EQ(host.texts(), (std::vector<std::string>{
                                "fmi2EnterInitializationMode...",
                                "model cannot be initialized in current state(" + std::to_string(k.mode) + ")"}));
    host.clear();
    if (k.type == fmi2CoSimulation) {
      fmi2Boolean terminated = fmi2False;
      EXPECT_EQ(unit.fmi2GetBooleanStatus(c, fmi2Terminated, &terminated), fmi2OK);
      EXPECT_EQ(terminated, fmi2True);
      if (k.start == startRunning) {
        EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2Warning);
        EXPECT_EQ(host.texts(), (std::vector<std::string>{"fmi2DoStep: model is terminated"}));
      }
    } else {
      fmi2Boolean enterEventMode = fmi2True, terminate = fmi2False;
      EXPECT_EQ(unit.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate), fmi2OK);
      EXPECT_EQ(terminate, fmi2True);
    }
  }
}

// ---- Failed evaluations --------------------------------------------------------------------

const std::string divisionReport =
    "\nModel error - division by zero: (filter.k*u-filter.y) / (filter.T) = (-0.5) / (0)\n";

struct DiscardCase {
  const char* name;
  fmi2Type type;
  StartMode start;
  int mode;  // the InstanceMode the instance stays in
};

void PrintTo(const DiscardCase& c, std::ostream* os) { *os << c.name; }

// Where the Real getter runs into the division by zero: initialisation mode, Co-Simulation
// stepping mode, and Model Exchange event mode after the initialisation (each evaluation there
// is an event pass).
class DiscardRule : public UnitTest, public ::testing::WithParamInterface<DiscardCase> {};

TEST_P(DiscardRule, RealReadIsDiscardedAndTheInstanceStaysUsable) {
  fmi2Component c = startIn(GetParam().type, GetParam().start);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  host.clear();
  fmi2Status status = fmi2OK;
  double value = get(c, model::derFilterY, &status);
  EXPECT_EQ(status, fmi2Discard);
  EXPECT_TRUE(std::isnan(value)) << "nothing is delivered";
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"The following error was detected at time: 0", divisionReport,
                                                    "fmiGetReal: dsblock_ failed, QiErr = 1"}));
  EXPECT_EQ(host.log[0].status, fmi2Error);
  EXPECT_EQ(host.log[1].status, fmi2Error);
  EXPECT_EQ(host.log[2].status, fmi2Discard);

  // Asked again without a change, the model is evaluated again and fails again: what the
  // failed pass left behind is not delivered as a result.
  host.clear();
  EXPECT_TRUE(std::isnan(get(c, model::derFilterY, &status)));
  EXPECT_EQ(status, fmi2Discard);
  EXPECT_EQ(textsAt(fmi2Discard), std::vector<std::string>{"fmiGetReal: dsblock_ failed, QiErr = 1"});

  ASSERT_EQ(set(c, model::filterT, 1.0), fmi2OK);
  EXPECT_EQ(get(c, model::derFilterY, &status), -0.5);
  EXPECT_EQ(status, fmi2OK);
  EXPECT_EQ(probeMode(c), GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Modes, DiscardRule,
                         ::testing::Values(DiscardCase{"ME Initialisation", fmi2ModelExchange, startInitialization, 1},
                                           DiscardCase{"CS Initialisation", fmi2CoSimulation, startInitialization, 1},
                                           DiscardCase{"ME EventMode", fmi2ModelExchange, startRunning, 3},
                                           DiscardCase{"CS Stepping", fmi2CoSimulation, startRunning, 6}),
                         quenzel_test::CaseName{});

enum FailingCall { failGetInteger, failGetBoolean, failGetString, failExitInit };

struct ErrorCase {
  std::string name;
  fmi2Type type;
  StartMode start;
  FailingCall call;
  std::string failure;  // the FMI layer's own text at fmi2Error, empty for none
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ErrorExit : public UnitTest, public ::testing::WithParamInterface<ErrorCase> {};

// Every other evaluating call reports the failure as fmi2Error and terminates the instance
// through the terminate of its kind (whose terminal section is skipped after the failure).
TEST_P(ErrorExit, OtherFailuresTerminateTheInstance) {
  const ErrorCase& c = GetParam();
  fmi2Component comp = startIn(c.type, c.start);
  ASSERT_NE(comp, nullptr);
  ASSERT_EQ(set(comp, model::filterT, 0.0), fmi2OK);
  host.clear();
  const fmi2ValueReference vr = model::derFilterY;
  int integer = -3;
  fmi2String text = nullptr;
  fmi2Status status = fmi2OK;
  switch (c.call) {
    case failGetInteger:
      status = unit.fmi2GetInteger(comp, &vr, 1, &integer);
      break;
    case failGetBoolean:
      status = unit.fmi2GetBoolean(comp, &vr, 1, &integer);
      break;
    case failGetString:
      status = unit.fmi2GetString(comp, nullptr, 0, &text);
      break;
    case failExitInit:
      status = unit.fmi2ExitInitializationMode(comp);
      break;
  }
  EXPECT_EQ(status, fmi2Error);
  EXPECT_EQ(integer, -3);
  std::vector<std::string> errors = {"The following error was detected at time: 0", divisionReport};
  if (!c.failure.empty()) errors.push_back(c.failure);
  EXPECT_EQ(textsAt(fmi2Error), errors);
  EXPECT_TRUE(textsAt(fmi2Discard).empty());
  // The terminate of the instance's kind ran, without its terminal section.
  if (c.type == fmi2CoSimulation) {
    EXPECT_TRUE(host.contains("fmi2Terminate..."));
    EXPECT_TRUE(host.contains("fmi2Terminate completed"));
  } else {
    EXPECT_EQ(host.log.back().text, "fmi2Terminate");
  }
  EXPECT_FALSE(host.contains("terminal section"));
  EXPECT_EQ(probeMode(comp), 7);
}

std::vector<ErrorCase> errorCases() {
  std::vector<ErrorCase> cases;
  for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    const std::string kind = kindName(type);
    cases.push_back({kind + " GetInteger", type, startRunning, failGetInteger,
                     "fmiGetInteger: dsblock_ failed, QiErr = 1"});
    cases.push_back({kind + " GetBoolean", type, startRunning, failGetBoolean,
                     "fmiGetBoolean: dsblock_ failed, QiErr = 1"});
    // In initialisation mode a changed value makes fmi2GetString evaluate, whatever it reads.
    cases.push_back({kind + " GetString", type, startInitialization, failGetString,
                     "fmi2GetString: dsblock_ failed, QiErr = 1"});
    cases.push_back({kind + " ExitInitialisation", type, startInitialization, failExitInit, ""});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Calls, ErrorExit, ::testing::ValuesIn(errorCases()), quenzel_test::CaseName{});

TEST_F(Evaluation, AFailedExitFromInitialisationCannotBeRepeated) {
  fmi2Component c = startIn(fmi2ModelExchange, startInitialization);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2Error);
  host.clear();
  EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2Warning);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"fmi2ExitInitializationMode...",
                                                    "fmi2ExitInitializationMode: may only called in initialization mode"}));
}

// ---- Terminate -------------------------------------------------------------------------------

struct TerminateCase {
  const char* name;
  fmi2Type type;
  std::vector<std::string> first;
  std::vector<std::string> second;
};

void PrintTo(const TerminateCase& c, std::ostream* os) { *os << c.name; }

class Terminate : public UnitTest, public ::testing::WithParamInterface<TerminateCase> {};

// The texts without the Co-Simulation integrator's statistics report, which the integrator's
// tests check.
std::vector<std::string> withoutStatistics(std::vector<std::string> texts) {
  std::erase_if(texts, [](const std::string& text) {
    return text.rfind("Sundials CVode Statistics", 0) == 0 || text.rfind("Rejected count", 0) == 0;
  });
  return texts;
}

TEST_P(Terminate, RunsTheTerminalSectionOnceAndThenRefuses) {
  fmi2Component c = startIn(GetParam().type, startRunning);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(unit.fmi2Terminate(c), fmi2OK);
  EXPECT_EQ(withoutStatistics(host.texts()), GetParam().first);
  host.clear();
  EXPECT_EQ(unit.fmi2Terminate(c), fmi2Warning);
  EXPECT_EQ(host.texts(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Terminate,
    ::testing::Values(TerminateCase{"ME",
                                    fmi2ModelExchange,
                                    {"fmi2Terminate"},
                                    {"fmi2Terminate: already terminated, ignoring call"}},
                      TerminateCase{"CS",
                                    fmi2CoSimulation,
                                    {"fmi2Terminate...", "fmi2Terminate completed"},
                                    {"fmi2Terminate...", "fmi2Terminate: already terminated, ignoring call"}}),
    quenzel_test::CaseName{});

// The terminal section is a pass over all sections: with filter.T 0 it fails, the terminate
// reports it and still ends in modeTerminated.
TEST_P(BothKinds, AFailingTerminalSectionIsReportedAndStillTerminates) {
  fmi2Component c = startIn(GetParam(), startRunning);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2Terminate(c), fmi2Error);
  EXPECT_EQ(textsAt(fmi2Error),
            (std::vector<std::string>{"The following error was detected at time: 0", divisionReport,
                                      "fmi2Terminate: calling terminal section of dsblock_ failed, QiErr = 1"}));
  EXPECT_EQ(probeMode(c), 7);
}

// After a failed model call the terminal section is skipped.
TEST_P(BothKinds, TerminateAfterADiscardSkipsTheTerminalSection) {
  fmi2Component c = startIn(GetParam(), startRunning);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  fmi2Status status = fmi2OK;
  get(c, model::derFilterY, &status);
  ASSERT_EQ(status, fmi2Discard);
  host.clear();
  EXPECT_EQ(unit.fmi2Terminate(c), fmi2OK);
  EXPECT_TRUE(textsAt(fmi2Error).empty());
  EXPECT_EQ(probeMode(c), 7);
}

}  // namespace
