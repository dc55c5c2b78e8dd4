// Messages to the host: composition with the pending text, the logging filter, the limits and
// the escaping of '%' for a logger that formats the text as printf does.
#include <clocale>
#include <string>
#include <vector>

#include "case_names.h"
#include "instance_fixture.h"

namespace {

using Messages = InstanceTest;

TEST_F(Messages, LoggerReceivesTheFormattedTextWithTheGivenNameAndCategory) {
  fmiPrintMessage(instance, "caller", fmi2Warning, "", "%s: x = %d", "fmi2SetTime", 3);
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].status, fmi2Warning);
  EXPECT_EQ(host.log[0].instance, "caller");
  EXPECT_EQ(host.log[0].category, "");
  EXPECT_EQ(host.log[0].text, "fmi2SetTime: x = 3");
}

struct GateCase {
  const char* name;
  fmi2Boolean loggingOn;
  fmi2Status status;
  bool delivered;
};

void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class LoggingGate : public InstanceTest, public ::testing::WithParamInterface<GateCase> {};

// Only fmi2OK depends on the switch; the pending text follows the message it would prefix.
TEST_P(LoggingGate, OkMessagesPassOnlyWhileLoggingIsOn) {
  const GateCase& c = GetParam();
  const fmi2String categories[] = {"logAll"};
  ASSERT_EQ(fmiSetDebugLogging(instance, c.loggingOn, 1, categories), fmi2OK);
  fmiAppendMessage(instance, "inst", c.status, "", "pending ");
  fmiPrintMessage(instance, "inst", c.status, "", "message");
  std::vector<std::string> expected;
  if (c.delivered) expected.push_back("pending message");
  EXPECT_EQ(host.texts(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, LoggingGate,
    ::testing::Values(GateCase{"OkWhileOff", fmi2False, fmi2OK, false},
                      GateCase{"WarningWhileOff", fmi2False, fmi2Warning, true},
                      GateCase{"DiscardWhileOff", fmi2False, fmi2Discard, true},
                      GateCase{"ErrorWhileOff", fmi2False, fmi2Error, true},
                      GateCase{"FatalWhileOff", fmi2False, fmi2Fatal, true},
                      GateCase{"OkWhileOn", fmi2True, fmi2OK, true}),
    quenzel_test::CaseName{});

TEST_F(Messages, FilteredMessageLeavesThePendingTextForTheNextOne) {
  instance->loggingOn = 0;
  fmiAppendMessage(instance, "inst", fmi2Warning, "", "kept ");
  fmiPrintMessage(instance, "inst", fmi2OK, "", "dropped");
  fmiPrintMessage(instance, "inst", fmi2Error, "", "failure");
  fmiPrintMessage(instance, "inst", fmi2Error, "", "again");
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"kept failure", "again"}));
}

struct PendingCase {
  const char* what;
  int first;   // characters of the first addition
  int second;  // characters of the second addition; -1 none
  bool kept;
};

void PrintTo(const PendingCase& c, std::ostream* os) { *os << c.what; }

class PendingText : public InstanceTest, public ::testing::WithParamInterface<PendingCase> {};

TEST_P(PendingText, AnAdditionThatDoesNotFitDiscardsEverythingPending) {
  const PendingCase& c = GetParam();
  std::string first(c.first, 'a');
  fmiAppendMessage(instance, "inst", fmi2OK, "", "%s", first.c_str());
  std::string second;
  if (c.second >= 0) {
    second.assign(c.second, 'b');
    fmiAppendMessage(instance, "inst", fmi2OK, "", "%s", second.c_str());
  }
  fmiPrintMessage(instance, "inst", fmi2Warning, "", "|end");
  fmiPrintMessage(instance, "inst", fmi2Warning, "", "|next");
  std::string prefix = c.kept ? first + second : "";
  EXPECT_EQ(host.texts(), (std::vector<std::string>{prefix + "|end", "|next"}));
}

INSTANTIATE_TEST_SUITE_P(Limits, PendingText,
                         ::testing::Values(PendingCase{"JustBelowTheLimit", 254, -1, true},
                                           PendingCase{"AtTheLimit", 255, -1, false},
                                           PendingCase{"TwoAdditionsFillingIt", 200, 54, true},
                                           PendingCase{"SecondAdditionOneTooLong", 200, 55, false},
                                           PendingCase{"SecondAdditionFarTooLong", 200, 60, false},
                                           PendingCase{"OneMoreAfterAFullText", 254, 1, false},
                                           PendingCase{"EmptyAddition", 100, 0, false}),
                         quenzel_test::CaseNameFrom<&PendingCase::what>{});

struct CapCase {
  const char* what;
  int pending;
  int formatted;
};

void PrintTo(const CapCase& c, std::ostream* os) { *os << c.what; }

class MessageCap : public InstanceTest, public ::testing::WithParamInterface<CapCase> {};

TEST_P(MessageCap, TheLoggerGetsAtMost4094CharactersPendingTextIncluded) {
  const CapCase& c = GetParam();
  std::string pending(c.pending, 'p');
  if (c.pending) fmiAppendMessage(instance, "inst", fmi2OK, "", "%s", pending.c_str());
  std::string formatted(c.formatted, 'x');
  fmiPrintMessage(instance, "inst", fmi2OK, "", "%s", formatted.c_str());
  ASSERT_EQ(host.log.size(), 1u);
  size_t room = 4094 - pending.size();
  std::string expected = pending + formatted.substr(0, room);
  EXPECT_EQ(host.log[0].text, expected);
}

INSTANTIATE_TEST_SUITE_P(Cuts, MessageCap,
                         ::testing::Values(CapCase{"LongMessage", 0, 10000}, CapCase{"ExactFit", 0, 4094},
                                           CapCase{"OneBelow", 0, 4093},
                                           CapCase{"LongMessageAfterPending", 100, 10000},
                                           CapCase{"FullPendingAndLongMessage", 254, 5000}),
                         quenzel_test::CaseNameFrom<&CapCase::what>{});

// The test host formats the text it receives with vsnprintf: every '%' must arrive escaped, or
// the host would read arguments that were never passed.
struct PercentCase {
  const char* what;
  std::string pending;
  std::string message;
  std::string shown;
};

void PrintTo(const PercentCase& c, std::ostream* os) { *os << c.what; }

class PercentEscape : public InstanceTest, public ::testing::WithParamInterface<PercentCase> {};

TEST_P(PercentEscape, AFormattingHostShowsExactlyTheComposedText) {
  const PercentCase& c = GetParam();
  if (!c.pending.empty()) fmiAppendMessage(instance, "inst", fmi2OK, "", "%s", c.pending.c_str());
  fmiPrintMessage(instance, "inst", fmi2Warning, "", "%s", c.message.c_str());
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].text, c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PercentEscape,
    ::testing::Values(PercentCase{"Conversions", "", "100% sure %s %d %n %", "100% sure %s %d %n %"},
                      PercentCase{"InThePendingText", "GUID %s%s ", "value 5%", "GUID %s%s value 5%"},
                      PercentCase{"LastCharacterBeforeTheCut", "", std::string(4093, 'a') + "%%%",
                                  std::string(4093, 'a') + "%"},
                      PercentCase{"OnlyPercents", "", std::string(5000, '%'), std::string(4094, '%')}),
    quenzel_test::CaseNameFrom<&PercentCase::what>{});

// The layer's messages follow the process's locale, unlike the runtime's "C"-locale texts. The
// test command generates de_DE.UTF-8, so a missing locale is a failure, not a reason to skip.
class GermanLocale {
 public:
  GermanLocale() {
    const char* previous = setlocale(LC_ALL, nullptr);
    if (previous) previous_ = previous;
    active_ = setlocale(LC_ALL, "de_DE.UTF-8") || setlocale(LC_ALL, "de_DE.utf8");
  }
  ~GermanLocale() { setlocale(LC_ALL, previous_.c_str()); }
  GermanLocale(const GermanLocale&) = delete;
  GermanLocale& operator=(const GermanLocale&) = delete;
  bool active() const { return active_; }

 private:
  std::string previous_ = "C";
  bool active_ = false;
};

TEST_F(Messages, NumbersFollowTheProcessLocale) {
  {
    GermanLocale german;
    ASSERT_TRUE(german.active()) << "locale de_DE.UTF-8 is missing (tools/install-deps.sh generates it)";
    fmiPrintMessage(instance, "inst", fmi2OK, "", "fmi2SetTime to %g", 1.5);
    fmiAppendMessage(instance, "inst", fmi2OK, "", "%g; ", 0.25);
    fmiPrintMessage(instance, "inst", fmi2Warning, "", "%s = %g", "u", -2.5e-7);
  }
  fmiPrintMessage(instance, "inst", fmi2OK, "", "fmi2SetTime to %g", 1.5);
  EXPECT_EQ(host.texts(),
            (std::vector<std::string>{"fmi2SetTime to 1,5", "0,25; u = -2,5e-07", "fmi2SetTime to 1.5"}));
}

TEST_F(Messages, RecordWithoutLoggerDropsMessagesQuietly) {
  fmi2CallbackFunctions noLogger{nullptr, nullptr, nullptr, nullptr, nullptr};
  instance->functions = &noLogger;
  fmiAppendMessage(instance, "inst", fmi2OK, "", "pending");
  fmiPrintMessage(instance, "inst", fmi2Error, "", "lost");
  EXPECT_EQ(instance->pendingEnd, instance->pendingText);
}

}  // namespace
