// Runtime texts on their way to the host: through the runtime's bridge to the logger of the
// instance being evaluated, with '#' doubled.
#include <string>
#include <vector>

#include "bridge.h"
#include "case_names.h"
#include "instance_fixture.h"
#include "modelicautilities.h"

namespace {

class RuntimeBridge : public InstanceTest {
 protected:
  void SetUp() override {
    fmiInstallRuntimeBridge();
    currentInstance = instance;
  }
};

struct LevelCase {
  const char* name;
  int level;
  fmi2Status status;
};

void PrintTo(const LevelCase& c, std::ostream* os) { *os << c.name; }

class RuntimeLevels : public RuntimeBridge, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(RuntimeLevels, LevelSelectsTheStatus) {
  RuntimeBridgeMessage("text", 1, GetParam().level);
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].status, GetParam().status);
  EXPECT_EQ(host.log[0].instance, "inst");
  EXPECT_EQ(host.log[0].category, "");
  EXPECT_EQ(host.log[0].text, "text");
}

INSTANTIATE_TEST_SUITE_P(Levels, RuntimeLevels,
                         ::testing::Values(LevelCase{"Level0", 0, fmi2OK}, LevelCase{"Level1", 1, fmi2Warning},
                                           LevelCase{"Level2", 2, fmi2Error}, LevelCase{"Negative", -1, fmi2Error},
                                           LevelCase{"Level99", 99, fmi2Error}),
                         quenzel_test::CaseName{});

struct HashCase {
  const char* what;
  std::string text;
  std::string shown;
};

void PrintTo(const HashCase& c, std::ostream* os) { *os << c.what; }

class RuntimeHashes : public RuntimeBridge, public ::testing::WithParamInterface<HashCase> {};

TEST_P(RuntimeHashes, EveryHashIsDoubled) {
  RuntimeBridgeMessage(GetParam().text.c_str(), 1, 1);
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].text, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RuntimeHashes,
    ::testing::Values(HashCase{"One", "a#b", "a##b"}, HashCase{"Reference", "#r3# = 1", "##r3## = 1"},
                      HashCase{"None", "no hash", "no hash"}, HashCase{"WithPercent", "50%#", "50%##"},
                      // Doubled to 6,000 characters, cut to 4,095, then to the 4,094 of a message.
                      HashCase{"LongText", std::string(3000, '#'), std::string(4094, '#')},
                      HashCase{"LongTextWithoutHash", std::string(5000, 'r'), std::string(4094, 'r')}),
    quenzel_test::CaseNameFrom<&HashCase::what>{});

TEST_F(RuntimeBridge, AppendedTextPrefixesTheNextMessageOnce) {
  RuntimeBridgeMessage("info #1\n", 0, 0);
  EXPECT_TRUE(host.log.empty());
  RuntimeBridgeMessage("warning", 1, 1);
  fmiPrintMessage(instance, instance->instanceName, fmi2OK, "", "next");
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"info ##1\nwarning", "next"}));
  EXPECT_EQ(host.log[0].status, fmi2Warning);
}

// External C code's messages and warnings are information text of the instance being evaluated:
// they reach its logger in front of its next message, in their order, with the warning's prefix.
TEST_F(RuntimeBridge, ModelicaUtilitiesTextsPrefixTheNextMessage) {
  ModelicaFormatMessage("x = %d\n", 3);
  ModelicaFormatWarning("odd #%d", 2);
  ModelicaMessage("plain %d\n");
  EXPECT_TRUE(host.log.empty());
  RuntimeBridgeMessage("warning", 1, 1);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"x = 3\nWarning: odd ##2\nplain %d\nwarning"}));
  EXPECT_EQ(host.log[0].status, fmi2Warning);
}

TEST_F(RuntimeBridge, AppendedInformationIsNotKeptWhileLoggingIsOff) {
  instance->loggingOn = 0;
  RuntimeBridgeMessage("info", 0, 0);
  RuntimeBridgeMessage("warning", 1, 1);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"warning"}));
}

TEST_F(RuntimeBridge, OutsideAnEvaluationTextsAreDropped) {
  currentInstance = nullptr;
  RuntimeBridgeMessage("lost print", 1, 2);
  RuntimeBridgeMessage("lost append", 0, 0);
  EXPECT_TRUE(host.log.empty());
  currentInstance = instance;
  RuntimeBridgeMessage("warning", 1, 1);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"warning"}));
}

TEST_F(RuntimeBridge, TheSingleInstanceTakesPrecedenceOverTheCurrentOne) {
  HandBuiltInstance other;
  currentInstance = &other.record;
  singleInstance = instance;
  RuntimeBridgeMessage("to the single instance", 1, 1);
  EXPECT_TRUE(other.host.log.empty());
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"to the single instance"}));

  currentInstance = nullptr;
  RuntimeBridgeMessage("still", 1, 1);
  EXPECT_EQ(host.log.size(), 2u);
}

}  // namespace
