// The event log file: header, record forms, the LogFlags gate, opening once per process, the
// failed open and the flush after every record. The log is process state that opens once, so
// each scenario runs in a child process of its own, in a temporary working directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "case_names.h"
#include "eventlog.h"
#include "globalcontext.h"
#include "modeldata.h"
#include "relations.h"

namespace {

const std::string header =
    "Event iteration details;;;;Time;Type(s) logged in dslog\n"
    "Iteration;Event type;Expression;Result\n\n";

double childReals[solverRealCount];
int childInts[solverIntCount];

// Registers solver blocks with the given LogFlags, as an instantiation does.
void RegisterLogFlags(int flags) {
  childInts[solverIntLogFlags] = flags;
  SetContextRecords(childReals, childInts);
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quenzel-eventlog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    for (const char* name : {"eventlog.txt", "sink.txt"}) {
      const std::string path = dir + "/" + name;
      if (unlink(path.c_str()) != 0) rmdir(path.c_str());
    }
    rmdir(dir.c_str());
  }

  // Runs body in a child process working in dir, under a comma-decimal locale. The child ends
  // through _exit: stdio buffers are not flushed, so only what the log flushed itself reaches
  // the file. Returns the child's wait status.
  template <typename Body>
  int RunInChild(Body body) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0 || !setlocale(LC_ALL, "de_DE.UTF-8")) _exit(90);
      body();
      _exit(0);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
  }
  void ExpectChildSucceeded(int status) {
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 90) << "child set-up failed (is de_DE.UTF-8 installed?)";
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }

  bool Exists(const char* name) {
    struct stat info;
    return stat((dir + "/" + name).c_str(), &info) == 0;
  }
  std::string Read(const char* name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  void Write(const char* name, const std::string& content) {
    std::ofstream(dir + "/" + name, std::ios::binary) << content;
  }

  std::string dir;
};

// ---- Record forms ------------------------------------------------------------------------

struct RecordCall {
  int code;
  double time;
  int type;
  const char* text;
  int kind;
  double value;
};

const std::string longText(600, 'a');

struct RecordCase {
  const char* name;
  RecordCall calls[3];
  int count;
  std::string body;  // the file after the header
};

const RecordCase recordCases[] = {
    {"ExpressionTrue", {{-1, 0, 4, "u > limiter.uMax", 1, 0}}, 1, "0;4;u > limiter.uMax;true\n"},
    {"ExpressionFalse", {{-1, 0, 4, "u > limiter.uMax", 0, 0}}, 1, "0;4;u > limiter.uMax;false\n"},
    {"ExpressionOtherKindIsBoolean", {{-1, 0, 4, "x", 7, 0}, {-1, 0, 4, "y", -1, 0}}, 2,
     "0;4;x;true\n0;4;y;true\n"},
    {"ExpressionValueWithSixteenDigits", {{-1, 0, 4, "x", 2, 1.0 / 3}, {-1, 0, 4, "y", 2, 2.5}},
     2, "0;4;x;0.3333333333333333\n0;4;y;2.5\n"},
    {"ExpressionSigns", {{-1, 0, 4, "x", 3, 0}, {-1, 0, 4, "y", 4, 0}, {-1, 0, 4, "z", 5, 0}}, 3,
     "0;4;x; == 0\n0;4;y; > 0\n0;4;z; < 0\n"},
    {"ExpressionWithoutLineBreaks", {{-1, 0, 4, "u >\nlimiter.uMax\n", 1, 0}}, 1,
     "0;4;u >limiter.uMax;true\n"},
    {"ExpressionWithoutTextWritesNothing", {{-1, 0, 4, nullptr, 1, 0}}, 1, ""},
    {"IterationNumberComesFirstAndStays", {{7, 0, 0, nullptr, 0, 0}, {-1, 0, 4, "x", 1, 0},
     {-1, 0, 2, nullptr, 0, 0}}, 3, "7;4;x;true\n7;2;U time event;\n"},
    {"TimeEvent", {{-1, 0, 1, "ignored", 0, 0}}, 1, "0;1;Time event;\n"},
    {"NamedTimeEvent", {{-1, 0, 1, "t\n> 2", 1, 0}}, 1, "0;1;t> 2;\n"},
    {"NamedTimeEventCappedAt400", {{-1, 0, 1, longText.c_str(), 1, 0}}, 1,
     "0;1;" + std::string(400, 'a') + ";\n"},
    {"NamedTimeEventWithoutTextWritesNothing", {{-1, 0, 1, nullptr, 1, 0}}, 1, ""},
    {"UTimeEvent", {{-1, 0, 2, nullptr, 0, 0}}, 1, "0;2;U time event;\n"},
    {"StateSelect", {{3, 0, 0, nullptr, 0, 0}, {-1, 0, 8, "x\ny", 0, 0}}, 2,
     ";8;State select;xy\n"},
    {"StateSelectWithoutTextWritesNothing", {{-1, 0, 8, nullptr, 0, 0}}, 1, ""},
    {"OtherTypeWritesNothing", {{-1, 0, 16, "x", 1, 0}}, 1, ""},
    {"EndOfEventResetsIteration", {{5, 0, 0, nullptr, 0, 0}, {-2, 1.5, 3, nullptr, 0, 0},
     {-1, 0, 4, "x", 1, 0}}, 3, ";;;;1.5;3\n\n0;4;x;true\n"},
    {"InitializationResetsIteration", {{5, 0, 0, nullptr, 0, 0}, {-3, 1.0 / 3, 0, nullptr, 1, 0},
     {-1, 0, 4, "x", 1, 0}}, 3, ";;;;0.3333333333333333;Initialization\n\n0;4;x;true\n"},
    {"InitializationOff", {{-3, 0.25, 0, nullptr, 0, 0}}, 1, ";;;;0.25;Initialization (off)\n\n"},
    {"TerminationResetsIteration", {{5, 0, 0, nullptr, 0, 0}, {-4, 2, 0, nullptr, 0, 0},
     {-1, 0, 4, "x", 0, 0}}, 3, ";;;;2;Termination\n\n0;4;x;false\n"},
    {"CodeZeroOpensButWritesNothing", {{0, 1, 4, "x", 1, 0}}, 1, ""},
    {"CodeBelowMinusFourOpensButWritesNothing", {{-5, 1, 4, "x", 1, 0}}, 1, ""},
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class EventLogRecordCase : public EventLogTest,
                           public ::testing::WithParamInterface<RecordCase> {};

TEST_P(EventLogRecordCase, WritesHeaderAndRecordsInTheCLocale) {
  const RecordCase& c = GetParam();
  ExpectChildSucceeded(RunInChild([&] {
    RegisterLogFlags(logFlagEvents);
    for (int i = 0; i < c.count; ++i) {
      const RecordCall& r = c.calls[i];
      EventLogRecord(r.code, r.time, r.type, r.text, r.kind, r.value);
    }
  }));
  ASSERT_TRUE(Exists("eventlog.txt"));
  EXPECT_EQ(Read("eventlog.txt"), header + c.body);
}

INSTANTIATE_TEST_SUITE_P(Records, EventLogRecordCase, ::testing::ValuesIn(recordCases),
                         quenzel_test::CaseName{});

// ---- When the file is written --------------------------------------------------------------

TEST_F(EventLogTest, NoFileWithoutTheEventFlag) {
  struct Case {
    const char* name;
    int flags;
    bool registered;
  } cases[] = {{"nothing registered", 0, false},
               {"no flags", 0, true},
               {"initialisation flag only", logFlagInitialization, true},
               {"quiet only", logFlagQuiet, true},
               {"initialisation and quiet", logFlagInitialization | logFlagQuiet, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectChildSucceeded(RunInChild([&] {
      if (c.registered)
        RegisterLogFlags(c.flags);
      else
        SetContextRecords(nullptr, nullptr);
      for (int code : {-4, -3, -2, -1, 0, 3})
        for (int type : {1, 2, 4, 8}) EventLogRecord(code, 1.0, type, "x", 1, 0.0);
    }));
    EXPECT_FALSE(Exists("eventlog.txt"));
  }
}

// Opening itself only needs one of the two event flags; the records still need 0x2.
TEST_F(EventLogTest, OpenWithInitialisationFlagWritesTheHeaderOnly) {
  ExpectChildSucceeded(RunInChild([] {
    RegisterLogFlags(logFlagInitialization);
    EventLogOpen();
    EventLogRecord(-1, 0.0, 4, "x", 1, 0.0);
  }));
  EXPECT_EQ(Read("eventlog.txt"), header);
}

TEST_F(EventLogTest, FirstRecordReplacesAnOlderFile) {
  Write("eventlog.txt", "an older log\nwith two lines\n" + std::string(5000, 'x'));
  ExpectChildSucceeded(RunInChild([] {
    RegisterLogFlags(logFlagEvents);
    EventLogRecord(-1, 0.0, 4, "u > limiter.uMax", 1, 0.0);
  }));
  EXPECT_EQ(Read("eventlog.txt"), header + "0;4;u > limiter.uMax;true\n");
}

// The log is opened once per process and never closed: a file removed while the process runs
// is not created again.
TEST_F(EventLogTest, OpensOncePerProcess) {
  const std::string path = dir + "/eventlog.txt";
  ExpectChildSucceeded(RunInChild([&] {
    RegisterLogFlags(logFlagEvents);
    EventLogRecord(-1, 0.0, 4, "first", 1, 0.0);
    unlink(path.c_str());
    EventLogRecord(-1, 0.0, 4, "second", 1, 0.0);
    EventLogOpen();
  }));
  EXPECT_FALSE(Exists("eventlog.txt"));
}

// The flag decides per record: records given while 0x2 was off are missing from the file.
TEST_F(EventLogTest, FollowsTheNewestRegisteredFlags) {
  ExpectChildSucceeded(RunInChild([] {
    RegisterLogFlags(logFlagEvents);
    EventLogRecord(-1, 0.0, 4, "one", 1, 0.0);
    static int otherInts[solverIntCount];
    static double otherReals[solverRealCount];
    SetContextRecords(otherReals, otherInts);
    EventLogRecord(-1, 0.0, 4, "two", 1, 0.0);
    RegisterLogFlags(logFlagEvents);
    EventLogRecord(-1, 0.0, 4, "three", 0, 0.0);
  }));
  EXPECT_EQ(Read("eventlog.txt"), header + "0;4;one;true\n0;4;three;false\n");
}

// A record is on disk as soon as it is written, even when the process is killed right after.
TEST_F(EventLogTest, RecordsSurviveAKilledProcess) {
  const int status = RunInChild([] {
    RegisterLogFlags(logFlagEvents);
    EventLogRecord(-3, 0.0, 0, nullptr, 1, 0.0);
    EventLogRecord(-1, 0.0, 4, "u > limiter.uMax", 1, 0.0);
    kill(getpid(), SIGKILL);
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(Read("eventlog.txt"),
            header + ";;;;0;Initialization\n\n0;4;u > limiter.uMax;true\n");
}

// ---- A failed open ---------------------------------------------------------------------------

// Appends each sink text with its type to sink.txt in the working directory.
void RecordSinkText(int type, const char* text) {
  FILE* sink = fopen("sink.txt", "a");
  if (!sink) return;
  fprintf(sink, "%d:%s", type, text);
  fclose(sink);
}

TEST_F(EventLogTest, FailedOpenIsReportedOnceAndRecordsAreDropped) {
  ASSERT_EQ(mkdir((dir + "/eventlog.txt").c_str(), 0700), 0);
  const std::string path = dir + "/eventlog.txt";
  ExpectChildSucceeded(RunInChild([&] {
    setlocale(LC_ALL, "C");  // the system's error text in English
    globalContext.messageCallback = RecordSinkText;
    RegisterLogFlags(logFlagEvents);
    EventLogRecord(-1, 0.0, 4, "x", 1, 0.0);
    rmdir(path.c_str());  // opening would now succeed, but is not tried again
    EventLogRecord(-1, 0.0, 4, "y", 1, 0.0);
    EventLogOpen();
  }));
  EXPECT_FALSE(Exists("eventlog.txt"));
  EXPECT_EQ(Read("sink.txt"), "0:Could not write to file \"eventlog.txt\": Is a directory.\n");
}

// ---- Relations write their changes ---------------------------------------------------------

TEST_F(EventLogTest, RelationChangesWriteExpressionRecords) {
  ExpectChildSucceeded(RunInChild([] {
    RegisterLogFlags(logFlagEvents);
    int state = 0, evaluated = 0, eventRequest = 0;
    double offset = 0.0, signedEps = 0.0, crossingPair[2];
    EventRelationBand("u > limiter.uMax", "(u) - (limiter.uMax)", &state, &offset, &signedEps,
                      1e-10, 0.5, crossingPair, 0, 1, 0, logFlagEvents, &eventRequest,
                      relationGreater, 0, &evaluated, 1e-4, 0);
    int plainState = 1, eventNeeded = 0;
    EventRelation("time >=\ngreaterThreshold.threshold", "(time) - (threshold)", &plainState,
                  &offset, &signedEps, 1e-10, -1.0, 0, logFlagEvents, &eventNeeded, nullptr,
                  relationGreater, 0, 0, 1e-4, 0);
    // Without 0x2 in the relation's own flags there is no report and no record.
    EventRelation("quiet", "(q)", &plainState, &offset, &signedEps, 1e-10, 1.0, 0, 0,
                  &eventNeeded, nullptr, relationGreater, 0, 0, 1e-4, 0);
  }));
  EXPECT_EQ(Read("eventlog.txt"), header + "0;4;u > limiter.uMax;true\n"
                                           "0;4;time >=greaterThreshold.threshold;false\n");
}

// ---- RemoveNewlines -------------------------------------------------------------------------

TEST(RemoveNewlines, DropsEveryLineBreakOnly) {
  struct Case {
    const char* source;
    const char* expected;
  } cases[] = {{"", ""},       {"plain", "plain"}, {"a\nb\n", "ab"},
               {"\n\n\n", ""}, {"\r\n", "\r"},     {"\na b\t;\n", "a b\t;"}};
  for (const Case& c : cases) {
    char destination[32];
    memset(destination, '#', sizeof destination);
    RemoveNewlines(destination, c.source);
    EXPECT_STREQ(destination, c.expected) << c.source;
  }
}

}  // namespace
