// The error path: what a failed check sends, in which order and at which level; the quiet flag
// of the registered instance; the jump back to the arming frame; the status codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errorjump.h"
#include "errors.h"
#include "globalcontext.h"
#include "guarded_call.h"
#include "threadblock.h"
#include "workbuffers.h"

namespace {

ModelData record;
double solverReals[solverRealCount];
int solverInts[solverIntCount];

class ErrorPath : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    record = ModelData{};
    record.time = 1.5;
    for (int& i : solverInts) i = 0;
    SetContextRecords(solverReals, solverInts);
  }
  void TearDown() override { UnregisterContextRecords(solverReals, solverInts); }
};

// Pushes two nodes as wrappers of external functions do, then fails a check.
void failInsideTwoWrappers(void) {
  ThreadBlock* block = PeekThreadBlock();
  FunctionStackNode outer = {"Modelica.Utilities.outer", block->functionStack};
  block->functionStack = &outer;
  FunctionStackNode inner = {"inner", &outer};
  block->functionStack = &inner;
  AssertCondition(0, "x>0", "x must be positive");
}

bool reachedAfterCheck;

const std::vector<std::string> fullReport = {
    "x>0", "The following error was detected at time: 1.5", "x must be positive",
    "The stack of functions is:", "inner", "Modelica.Utilities.outer"};

}  // namespace

TEST_F(ErrorPath, FailedAssertionReportsInOrderAtErrorLevelAndJumpsBack) {
  struct Case {
    const char* name;
    bool registered;
    int logFlags;
    std::vector<std::string> expected;
  } cases[] = {
      {"no flags", true, 0, fullReport},
      {"event logging", true, logFlagEvents | logFlagInitialization, fullReport},
      {"quiet", true, logFlagQuiet, {"x>0"}},
      {"quiet with others", true, logFlagQuiet | logFlagEvents, {"x>0"}},
      {"nothing registered", false, logFlagQuiet, fullReport},
  };
  for (const Case& c : cases) {
    solverInts[solverIntLogFlags] = c.logFlags;
    SetContextRecords(c.registered ? solverReals : nullptr, c.registered ? solverInts : nullptr);
    record.status = 0;
    reachedAfterCheck = false;
    GuardedCallResult call = GuardedCall(
        [] {
          failInsideTwoWrappers();
          reachedAfterCheck = true;
        },
        &record);
    EXPECT_TRUE(call.jumped) << c.name;
    EXPECT_FALSE(reachedAfterCheck) << c.name;
    EXPECT_EQ(call.texts(), c.expected) << c.name;
    for (const RecordedMessage& m : call.messages) {
      EXPECT_EQ(m.level, 2) << c.name << ": " << m.text;
      EXPECT_EQ(m.flush, 1) << c.name << ": " << m.text;
    }
    EXPECT_EQ(record.status, 1) << c.name;
    EXPECT_EQ(PeekThreadBlock()->functionStack, nullptr) << c.name << ": the stack is empty afterwards";
  }
}

TEST_F(ErrorPath, QuietReportLeavesNoStackOfLeftFramesForTheNextReport) {
  solverInts[solverIntLogFlags] = logFlagQuiet;
  ASSERT_TRUE(GuardedCall(failInsideTwoWrappers, &record).jumped);
  solverInts[solverIntLogFlags] = 0;
  GuardedCallResult next = GuardedCall([] { RaiseError("second"); }, &record);
  EXPECT_EQ(next.texts(), (std::vector<std::string>{"The following error was detected at time: 1.5", "second"}));
}

TEST_F(ErrorPath, ReportUsesTheTimeOfTheRecordBeingEvaluated) {
  record.time = 0.1;
  GuardedCallResult call = GuardedCall([] { RaiseError("m"); }, &record);
  ASSERT_EQ(call.texts().size(), 2u);
  EXPECT_EQ(call.texts()[0], "The following error was detected at time: 0.1");
  modelDataTemplate.time = 12345.678;
  call = GuardedCall([] { RaiseError("m"); });
  EXPECT_EQ(call.texts()[0], "The following error was detected at time: 12345.678");
  modelDataTemplate.status = 0;
}

TEST_F(ErrorPath, WarningLevelReportsAndReturns) {
  double returned = -1.0;
  GuardedCallResult call = GuardedCall(
      [&] {
        ThreadBlock* block = PeekThreadBlock();
        FunctionStackNode node = {"wrapper", nullptr};
        block->functionStack = &node;
        returned = ReportError("look here", 1);
        EXPECT_EQ(block->functionStack, nullptr);
      },
      &record);
  EXPECT_FALSE(call.jumped);
  EXPECT_EQ(returned, 0.0);
  EXPECT_EQ(call.texts(), (std::vector<std::string>{"The following was detected at time: 1.5", "look here",
                                                    "The stack of functions is:", "wrapper"}));
  for (int level : call.levels()) EXPECT_EQ(level, 1);
  EXPECT_EQ(record.status, 0);
}

TEST_F(ErrorPath, AssertConditionLevelWarnsOncePerFlagOrFails) {
  struct Case {
    const char* name;
    int condition;
    int level;
    bool withFlag;
    int flagBefore;
    bool jumped;
    std::vector<std::string> expected;
    int flagAfter;
  } cases[] = {
      {"holds", 1, 2, true, 0, false, {}, 0},
      {"warning, first time", 0, 1, true, 0, false,
       {"c", "The following was detected at time: 1.5", "m"}, 1},
      {"warning, already given", 0, 1, true, 1, false, {}, 1},
      {"warning without a flag", 0, 1, false, 0, false,
       {"c", "The following was detected at time: 1.5", "m"}, 0},
      {"error level", 0, 2, true, 0, true, {"c", "The following error was detected at time: 1.5", "m"}, 0},
      {"any other level fails", 0, 0, true, 0, true,
       {"c", "The following error was detected at time: 1.5", "m"}, 0},
  };
  for (const Case& c : cases) {
    static Case current;
    static int32_t flag;
    current = c;
    flag = c.flagBefore;
    GuardedCallResult call = GuardedCall(
        [] { AssertConditionLevel(current.condition, "c", "m", current.level, current.withFlag ? &flag : nullptr); },
        &record);
    EXPECT_EQ(call.jumped, c.jumped) << c.name;
    EXPECT_EQ(call.texts(), c.expected) << c.name;
    for (int level : call.levels()) EXPECT_EQ(level, c.jumped ? 2 : 1) << c.name;
    EXPECT_EQ(flag, c.flagAfter) << c.name;
  }
}

TEST_F(ErrorPath, DivisionByZeroReportsBothSidesAndFails) {
  struct Case {
    std::string numerator, denominator;
    double n, d;
    std::string message;
  } cases[] = {
      {"a+b", "c", 3.0, 0.0, "\nModel error - division by zero: (a+b) / (c) = (3) / (0)\n"},
      {std::string(500, 'n'), std::string(450, 'd'), -1.25, -0.0,
       "\nModel error - division by zero: (" + std::string(400, 'n') + ") / (" + std::string(400, 'd') +
           ") = (-1.25) / (-0)\n"},
  };
  for (const Case& c : cases) {
    static const Case* current;
    current = &c;
    GuardedCallResult call = GuardedCall(
        [] { DivisionByZero(current->numerator.c_str(), current->n, current->denominator.c_str(), current->d); },
        &record);
    ASSERT_TRUE(call.jumped);
    ASSERT_EQ(call.texts().size(), 2u);
    EXPECT_EQ(call.texts()[1], c.message);
    EXPECT_EQ(record.status, 1);
  }
}

TEST_F(ErrorPath, TerminateModelSendsItsTextsOncePerEvaluation) {
  GuardedCallResult call = GuardedCall(
      [] {
        TerminateModel("end reached");
        TerminateModel("end reached again");
        EXPECT_EQ(*GetStatusPointer(), -999);
      },
      &record);
  EXPECT_FALSE(call.jumped);
  EXPECT_EQ(call.texts(), (std::vector<std::string>{"Simulation successfully terminated", "end reached"}));
  for (const RecordedMessage& m : call.messages) EXPECT_EQ(m.level, 0);
  EXPECT_EQ(record.status, -999);

  record.status = 0;
  GuardedCall([] { SetStatusStopped(); }, &record);
  EXPECT_EQ(record.status, -998);
}

TEST_F(ErrorPath, ResetFunctionStackEmptiesTheStackAndReleasesTemporaries) {
  double* first = nullptr;
  double* afterReset = nullptr;
  GuardedCallResult call = GuardedCall(
      [&] {
        MarkReset();
        ThreadBlock* block = PeekThreadBlock();
        FunctionStackNode node = {"wrapper", nullptr};
        block->functionStack = &node;
        block->functionStackTag = 3;
        first = AllocateReals(4);
        ResetFunctionStack();
        EXPECT_EQ(block->functionStack, nullptr);
        EXPECT_EQ(block->functionStackTag, 0);
        afterReset = AllocateReals(1);
      },
      &record);
  EXPECT_FALSE(call.jumped);
  EXPECT_EQ(afterReset, first);
}

TEST_F(ErrorPath, NestedEvaluationCatchesItsOwnErrorAndGivesTheJumpBack) {
  static bool innerJumped;
  static bool outerContinued;
  innerJumped = outerContinued = false;
  GuardedCallResult outer = GuardedCall(
      [] {
        ThreadBlock* block = PeekThreadBlock();
        FunctionStackNode node = {"outer wrapper", nullptr};
        block->functionStack = &node;
        innerJumped = GuardedCall([] { RaiseError("inner"); }, &record).jumped;
        // The outer evaluation's node survives the inner jump.
        EXPECT_EQ(block->functionStack, &node);
        EXPECT_TRUE(ErrorJumpIsArmed());
        outerContinued = true;
        RaiseError("outer");
      },
      &record);
  EXPECT_TRUE(innerJumped);
  EXPECT_TRUE(outerContinued);
  EXPECT_TRUE(outer.jumped);
  EXPECT_EQ(outer.texts().back(), "outer wrapper");
  EXPECT_FALSE(ErrorJumpIsArmed()) << "no evaluation in progress after both";
}

TEST_F(ErrorPath, RegistrationOfAFreedInstanceIsClearedAndNoneMeansNoFlags) {
  double otherReals[solverRealCount] = {};
  int otherInts[solverIntCount] = {};
  otherInts[solverIntLogFlags] = logFlagQuiet;
  SetContextRecords(otherReals, otherInts);  // a newer instance
  EXPECT_EQ(GetLogFlags(), logFlagQuiet);
  UnregisterContextRecords(solverReals, solverInts);  // the older one is freed
  EXPECT_EQ(GetSolverReals(), otherReals);
  EXPECT_EQ(GetSolverInts(), otherInts);
  UnregisterContextRecords(otherReals, otherInts);  // the newest one is freed
  EXPECT_EQ(GetSolverReals(), nullptr);
  EXPECT_EQ(GetSolverInts(), nullptr);
  EXPECT_EQ(GetLogFlags(), 0);

  record.solverReals = solverReals;
  EXPECT_EQ(GetModelSolverReals(&record), solverReals);
  SetContextRecords(otherReals, otherInts);
  EXPECT_EQ(GetModelSolverReals(nullptr), otherReals);
  record.solverReals = nullptr;
  EXPECT_EQ(GetModelSolverReals(&record), otherReals);
  UnregisterContextRecords(otherReals, otherInts);
}

TEST(ErrorPathDeathTest, RaiseWithNoEvaluationInProgressNeverJumps) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        EnsureRuntimeAttached();
        RaiseError("nowhere to go");
      },
      "no evaluation in progress");
  // An overflow outside an evaluation must not hand out storage beyond the buffer either.
  EXPECT_DEATH(
      {
        EnsureRuntimeAttached();
        AllocateReals(500000);
      },
      "no evaluation in progress");
  // After an evaluation has ended, its jump is no longer a target.
  EXPECT_DEATH(
      {
        EnsureRuntimeAttached();
        GuardedCall([] {});
        AssertCondition(0, "late", "too late");
      },
      "no evaluation in progress");
}
