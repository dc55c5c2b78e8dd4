// Creating and freeing instances, and recording the experiment, as a host sees it: results,
// messages and the host's memory.
#include <string>
#include <utility>
#include <vector>

#include "case_names.h"
#include "unit_fixture.h"

namespace {

using Instantiate = UnitTest;

struct KindCase {
  const char* name;
  fmi2Type type;
  bool stepFinished;
  std::vector<std::string> texts;
  std::vector<fmi2Status> statuses;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class InstantiateKinds : public UnitTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(InstantiateKinds, MakesAWorkingInstanceAndReportsIt) {
  const KindCase& c = GetParam();
  fmi2Component component = instantiate(c.type, "inst", fmi2True,
                                        c.stepFinished ? host.functionsWithStepFinished() : host.functions());
  ASSERT_NE(component, nullptr);
  EXPECT_EQ(host.texts(), c.texts);
  for (size_t i = 0; i < host.log.size() && i < c.statuses.size(); ++i) {
    EXPECT_EQ(host.log[i].status, c.statuses[i]) << host.log[i].text;
    EXPECT_EQ(host.log[i].instance, "inst");
    EXPECT_EQ(host.log[i].category, "");
  }
  consistentLimits(component);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(component), fmi2OK);
  EXPECT_EQ(host.stepFinishedCalls, 0);
  host.clear();
  release(component);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"fmiFreeModelInstance"});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, InstantiateKinds,
    ::testing::Values(KindCase{"ME", fmi2ModelExchange, false, {"fmi2Instantiate completed"}, {fmi2OK}},
                      KindCase{"CS", fmi2CoSimulation, false, {"fmi2Instantiate completed", "fmi2Instantiate"},
                               {fmi2OK, fmi2OK}},
                      KindCase{"CS with stepFinished",
                               fmi2CoSimulation,
                               true,
                               {"fmi2Instantiate completed",
                                "fmi2Instantiate: Callback function stepFinished != NULL but asynchronous fmiDoStep "
                                "is not supported",
                                "fmi2Instantiate"},
                               {fmi2OK, fmi2Warning, fmi2OK}},
                      // Model Exchange has no stepping to report on.
                      KindCase{"ME with stepFinished", fmi2ModelExchange, true, {"fmi2Instantiate completed"},
                               {fmi2OK}}),
    quenzel_test::CaseName{});

// A kind the unit does not know: null after the cause and "Instantiation failed", under the given
// name, and no memory taken; without a logger just null.
TEST_F(Instantiate, OtherKindsGiveNullWithTheCauseAndNoMemory) {
  for (int type : {2, -1, 99}) {
    SCOPED_TRACE(type);
    host.clear();
    EXPECT_EQ(instantiate(static_cast<fmi2Type>(type)), nullptr);
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].status, fmi2Error);
    EXPECT_EQ(host.log[0].text, "fmi2Instantiate: fmuType = " + std::to_string(type) +
                                    " is neither fmi2ModelExchange nor fmi2CoSimulation");
    EXPECT_EQ(host.log[1].status, fmi2Fatal);
    EXPECT_EQ(host.log[1].text, "Instantiation failed");
    for (const LogRecord& r : host.log) EXPECT_EQ(r.instance, "inst");
  }
  const fmi2CallbackFunctions* full = host.functions();
  const fmi2CallbackFunctions noLogger{nullptr, full->allocateMemory, full->freeMemory, nullptr, &host};
  host.clear();
  EXPECT_EQ(instantiate(static_cast<fmi2Type>(2), nullptr, fmi2True, &noLogger), nullptr);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(hostAllocator().calls, 0);
}

// A callbacks record without an allocation callback: null after the cause, naming the missing
// callback, and "Instantiation failed", under the given name, and nothing asked of the host's
// allocator. Without a logger (or without a record) just null.
struct MissingCallbackCase {
  const char* name;
  bool logger, allocate, free;
  const char* cause;  // the fmi2Error message; null when nothing can be logged
};

void PrintTo(const MissingCallbackCase& c, std::ostream* os) { *os << c.name; }

class InstantiateWithout : public UnitTest, public ::testing::WithParamInterface<MissingCallbackCase> {};

TEST_P(InstantiateWithout, GivesNullAfterNamingTheMissingCallback) {
  const MissingCallbackCase& c = GetParam();
  const fmi2CallbackFunctions* full = host.functions();
  const fmi2CallbackFunctions functions{c.logger ? full->logger : nullptr, c.allocate ? full->allocateMemory : nullptr,
                                        c.free ? full->freeMemory : nullptr, nullptr, &host};
  for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    SCOPED_TRACE(type);
    host.clear();
    EXPECT_EQ(instantiate(type, "inst", fmi2False, &functions), nullptr);
    if (!c.cause) {
      EXPECT_TRUE(host.log.empty());
    } else {
      ASSERT_EQ(host.log.size(), 2u);
      EXPECT_EQ(host.log[0].status, fmi2Error);
      EXPECT_EQ(host.log[0].text, c.cause);
      EXPECT_EQ(host.log[1].status, fmi2Fatal);
      EXPECT_EQ(host.log[1].text, "Instantiation failed");
      for (const LogRecord& r : host.log) EXPECT_EQ(r.instance, "inst");
    }
  }
  EXPECT_EQ(hostAllocator().calls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Callbacks, InstantiateWithout,
    ::testing::Values(
        MissingCallbackCase{"AllocateMemory", true, false, true,
                            "fmi2Instantiate: Callback function allocateMemory == NULL"},
        MissingCallbackCase{"FreeMemory", true, true, false, "fmi2Instantiate: Callback function freeMemory == NULL"},
        MissingCallbackCase{"Both", true, false, false,
                            "fmi2Instantiate: Callback functions allocateMemory and freeMemory == NULL"},
        MissingCallbackCase{"FreeMemoryAndTheLogger", false, true, false, nullptr},
        MissingCallbackCase{"AllocateMemoryAndTheLogger", false, false, true, nullptr}),
    quenzel_test::CaseName{});

// Without a callbacks record there is nothing to log through: null.
TEST_F(Instantiate, WithoutCallbacksGivesNull) {
  EXPECT_EQ(unit.fmi2Instantiate("inst", fmi2ModelExchange, model::guid, "", nullptr, fmi2False, fmi2True), nullptr);
  EXPECT_EQ(unit.fmi2Instantiate("inst", fmi2CoSimulation, model::guid, "", nullptr, fmi2False, fmi2True), nullptr);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(hostAllocator().calls, 0);
}

// Without a logger the unit drops its messages but works as usual, a failing evaluation included.
TEST_F(Instantiate, WithoutALoggerMessagesAreDropped) {
  const fmi2CallbackFunctions* full = host.functions();
  const fmi2CallbackFunctions noLogger{nullptr, full->allocateMemory, full->freeMemory, nullptr, &host};
  fmi2Component c = instantiate(fmi2ModelExchange, "inst", fmi2True, &noLogger);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  EXPECT_EQ(unit.fmi2SetReal(c, nullptr, 1, nullptr), fmi2Warning);
  release(c);  // while the callbacks record lives
  EXPECT_TRUE(host.log.empty());
}

struct GuidCase {
  const char* what;
  const char* guid;
  std::string shown;
};

void PrintTo(const GuidCase& c, std::ostream* os) { *os << c.what; }

class WrongGuid : public UnitTest, public ::testing::WithParamInterface<GuidCase> {};

TEST_P(WrongGuid, IsRefusedWithTheExactTextsAndLeavesNothingAllocated) {
  for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    host.clear();
    EXPECT_EQ(unit.fmi2Instantiate("inst", type, GetParam().guid, "", host.functions(), fmi2False, fmi2True), nullptr);
    ASSERT_EQ(host.log.size(), 2u) << kindName(type);
    EXPECT_EQ(host.log[0].text, "Invalid GUID: " + GetParam().shown + ", expected " + model::guid);
    EXPECT_EQ(host.log[0].status, fmi2Error);
    EXPECT_EQ(host.log[0].instance, "inst");
    EXPECT_EQ(host.log[1].text, "Instantiation failed");
    EXPECT_EQ(host.log[1].status, fmi2Fatal);
    EXPECT_EQ(host.log[1].instance, "inst");
    EXPECT_EQ(hostAllocator().liveBlocks, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Guids, WrongGuid,
    ::testing::Values(GuidCase{"LastCharacterDiffers", "{ec302a77-e3a5-4a9c-b251-44e9b2ecede7}",
                               "{ec302a77-e3a5-4a9c-b251-44e9b2ecede7}"},
                      GuidCase{"PrefixOfTheGuid", "{ec302a77-e3a5-4a9c", "{ec302a77-e3a5-4a9c"},
                      GuidCase{"GuidAndMore", "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}x",
                               "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}x"},
                      GuidCase{"Empty", "", ""}, GuidCase{"Null", nullptr, "<NULL>"},
                      // A formatting host must show the text as it is, not read arguments for it.
                      GuidCase{"PercentSigns", "%s%d%n", "%s%d%n"}),
    quenzel_test::CaseNameFrom<&GuidCase::what>{});

TEST_F(Instantiate, AFailureWithoutANameIsReportedUnderTheEmptyName) {
  EXPECT_EQ(unit.fmi2Instantiate(nullptr, fmi2ModelExchange, "bad", "", host.functions(), fmi2False, fmi2True),
            nullptr);
  ASSERT_EQ(host.log.size(), 2u);
  EXPECT_EQ(host.log[0].instance, "<NULL>");
  EXPECT_EQ(host.log[1].instance, "");
}

TEST_F(Instantiate, NamesAreCopiedNullAsNullTextAndCutAt1024Characters) {
  std::string longName(2000, 'n');
  ASSERT_NE(instantiate(fmi2ModelExchange, nullptr), nullptr);
  ASSERT_NE(instantiate(fmi2CoSimulation, longName.c_str()), nullptr);
  longName.assign(2000, 'x');  // the unit keeps a copy, not the host's text
  ASSERT_EQ(host.log.size(), 3u);
  EXPECT_EQ(host.log[0].instance, "<NULL>");
  EXPECT_EQ(host.log[1].instance, std::string(1024, 'n'));
  EXPECT_EQ(host.log[2].instance, std::string(1024, 'n'));
}

// Every allocation instantiation makes can fail: each failure gives null after the block that
// could not be had and "Instantiation failed" (the instance record's too, which has no record to
// report through), and nothing left with the host.
class FailingAllocation : public UnitTest, public ::testing::WithParamInterface<fmi2Type> {};

TEST_P(FailingAllocation, EveryFailureGivesNullAndReleasesEverything) {
  fmi2Type type = GetParam();
  fmi2Component c = instantiate(type);
  ASSERT_NE(c, nullptr);
  long needed = hostAllocator().calls;
  release(c);
  ASSERT_GT(needed, 10);
  for (long n = 1; n <= needed; ++n) {
    SCOPED_TRACE("failing allocation " + std::to_string(n) + " of " + std::to_string(needed));
    resetHostAllocator();
    hostAllocator().failAt = n;
    host.clear();
    EXPECT_EQ(unit.fmi2Instantiate("inst", type, model::guid, "", host.functions(), fmi2False, fmi2True), nullptr);
    EXPECT_EQ(hostAllocator().liveBlocks, 0);
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].status, fmi2Error);
    EXPECT_EQ(host.log[0].text.rfind("fmi2Instantiate: memory allocation failed for ", 0), 0u) << host.log[0].text;
    if (n == 1) {
      EXPECT_EQ(host.log[0].text.rfind("fmi2Instantiate: memory allocation failed for the instance record", 0), 0u);
    }
    EXPECT_EQ(host.log[1].text, "Instantiation failed");
    EXPECT_EQ(host.log[1].status, fmi2Fatal);
    for (const LogRecord& r : host.log) EXPECT_EQ(r.instance, "inst");
  }
  // The allocation after the last one is not part of instantiation.
  resetHostAllocator();
  hostAllocator().failAt = needed + 1;
  EXPECT_NE(instantiate(type), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailingAllocation, ::testing::Values(fmi2ModelExchange, fmi2CoSimulation),
                         quenzel_test::CaseNameFrom<kindName>{});

// The host sees the blocks in a fixed order and size: the record, the model's data block, the
// name, the solver blocks, one array per category with its spare element (2 states, 15
// parameters, 1 input, 1 output, 11 auxiliaries, 10 event indicators, no strings, no extra
// values, no Booleans to re-apply), then the serialiser's record of the data block.
TEST_P(FailingAllocation, AllocatesItsBlocksInOrderAndSize) {
  ASSERT_NE(instantiate(GetParam(), "inst"), nullptr);
  const std::vector<std::pair<size_t, size_t>> expected{
      {1, 881920}, {5, 1}, {1, 32}, {1, 44},                          // data block, "inst", solver blocks
      {3, 8},      {3, 8}, {16, 8}, {2, 8}, {2, 8}, {12, 8}, {11, 8},  // states ... event indicators
      {3, 8},      {1, 8}, {3, 8},  {1, 8}, {1, 8}, {1, 4},            // nominals ... Booleans to re-apply
      {1, 16}};                                                       // the data block's blob record
  using Requests = std::vector<std::pair<size_t, size_t>>;
  const Requests& requests = hostAllocator().requests;
  ASSERT_EQ(requests.size(), expected.size() + 1);
  EXPECT_EQ(requests[0].first, 1u);  // the record itself
  EXPECT_GT(requests[0].second, 0u);
  EXPECT_EQ(Requests(requests.begin() + 1, requests.end()), expected);
}

TEST_F(Instantiate, FreeingNullDoesNothing) {
  unit.fmi2FreeInstance(nullptr);
  EXPECT_TRUE(host.log.empty());
}

// Freeing does not terminate: no terminal section runs and the terminate says nothing.
TEST_F(Instantiate, FreeingARunningInstanceReleasesItWithoutTerminating) {
  for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    fmi2Component c = startIn(type, startRunning);
    ASSERT_NE(c, nullptr);
    release(c);
    EXPECT_EQ(host.texts(), std::vector<std::string>{"fmiFreeModelInstance"}) << kindName(type);
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << kindName(type);
    host.clear();
  }
}

// Two instances with loggers of their own: "first" (Model Exchange) through the fixture's
// callbacks, "second" (Co-Simulation) through its own.
class TwoInstances : public UnitTest {
 protected:
  void SetUp() override {
    UnitTest::SetUp();
    first = instantiate(fmi2ModelExchange, "first");
    second = instantiate(fmi2CoSimulation, "second", fmi2True, secondHost.functions());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    host.clear();
    secondHost.clear();
  }
  void TearDown() override {
    if (second) release(second);  // while its callbacks record lives
    UnitTest::TearDown();
  }

  HostCallbacks secondHost;
  fmi2Component first = nullptr;
  fmi2Component second = nullptr;
};

// The newest instance's solver blocks are the runtime's; once they are released the runtime
// must not read them when another instance's evaluation fails.
TEST_F(TwoInstances, FreeTheSecondThenFailTheFirst) {
  release(second);
  second = nullptr;
  secondHost.clear();
  EXPECT_EQ(unit.fmi2EnterInitializationMode(first), fmi2Error);
  EXPECT_EQ(textsAt(fmi2Error), limiterFailureTexts());
  for (const LogRecord& r : host.log) EXPECT_EQ(r.instance, "first") << r.text;
  EXPECT_TRUE(secondHost.log.empty());
}

// An instantiation that fails after handing its solver blocks to the runtime takes them back
// with the rest: the runtime must not read them when another instance's evaluation fails.
TEST_F(TwoInstances, AFailedInstantiationLeavesNoSolverBlocksWithTheRuntime) {
  hostAllocator().failAt = hostAllocator().calls + 6;  // the states, after the solver blocks
  EXPECT_EQ(unit.fmi2Instantiate("third", fmi2ModelExchange, model::guid, "", secondHost.functions(), fmi2False,
                                 fmi2True),
            nullptr);
  EXPECT_EQ(secondHost.texts(), (std::vector<std::string>{"fmi2Instantiate: memory allocation failed for the value arrays",
                                                          "Instantiation failed"}));
  secondHost.clear();
  EXPECT_EQ(unit.fmi2EnterInitializationMode(first), fmi2Error);
  EXPECT_EQ(textsAt(fmi2Error), limiterFailureTexts());
  EXPECT_TRUE(secondHost.log.empty());
}

TEST_F(TwoInstances, EachHearsOnlyItsOwnMessages) {
  consistentLimits(second);
  secondHost.clear();
  EXPECT_EQ(unit.fmi2EnterInitializationMode(first), fmi2Error);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(second), fmi2OK);
  EXPECT_EQ(textsAt(fmi2Error), limiterFailureTexts());
  EXPECT_EQ(secondHost.texts(), (std::vector<std::string>{"fmi2EnterInitializationMode...", "fmi2SetTime to 0",
                                                          "fmi2EnterInitializationMode completed"}));
  for (const LogRecord& r : secondHost.log) EXPECT_EQ(r.instance, "second") << r.text;
}

struct SetupCase {
  const char* name;
  fmi2Type type;
  std::vector<std::string> texts;
};

void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.name; }

class SetupExperiment : public UnitTest, public ::testing::WithParamInterface<SetupCase> {};

// Model Exchange has no tolerance control; in both kinds the call answers fmi2OK and the start
// time becomes the instance's time (the time stamp of the failed initialisation's report).
TEST_P(SetupExperiment, ToleranceRuleAndStartTime) {
  fmi2Component c = instantiate(GetParam().type);
  ASSERT_NE(c, nullptr);
  host.clear();
  EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2True, 1e-6, 2.5, fmi2True, 10.0), fmi2OK);
  EXPECT_EQ(host.texts(), GetParam().texts);
  EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  EXPECT_EQ(textsAt(fmi2Error), limiterFailureTexts("2.5"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SetupExperiment,
    ::testing::Values(SetupCase{"ME",
                                fmi2ModelExchange,
                                {"fmi2SetupExperiment: tolerance control not supported for fmuType fmi2ModelExchange, "
                                 "setting toleranceDefined to fmi2False",
                                 "fmi2SetupExperiment: startTime is set to 2.5"}},
                      SetupCase{"CS", fmi2CoSimulation, {"fmi2SetupExperiment: startTime is set to 2.5"}}),
    quenzel_test::CaseName{});

TEST_F(Instantiate, SetupExperimentIsAcceptedInEveryMode) {
  for (StartMode mode : {startInstantiated, startInitialization, startRunning, startTerminated}) {
    fmi2Component c = startIn(fmi2CoSimulation, mode);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 1.0, fmi2False, 0.0), fmi2OK) << mode;
    EXPECT_EQ(host.texts(), std::vector<std::string>{"fmi2SetupExperiment: startTime is set to 1"}) << mode;
    host.clear();
  }
  EXPECT_EQ(unit.fmi2SetupExperiment(nullptr, fmi2False, 0.0, 1.0, fmi2False, 0.0), fmi2Warning);
}

}  // namespace
