// The GlobalContext's message sink: its callback and streams, the headed and counted forms and
// the padded texts of the linear solver's report.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "globalcontext.h"
#include "guarded_call.h"
#include "messagesink.h"

namespace {

std::vector<std::pair<int, std::string>> sinkTexts;
void recordSink(int type, const char* text) { sinkTexts.emplace_back(type, text); }

class MessageSink : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = globalContext;
    sinkTexts.clear();
    globalContext.messageCallback = recordSink;
    globalContext.messageSourceName = "Quenzel";
  }
  void TearDown() override { globalContext = saved_; }
  GlobalContext saved_;
};

using Typed = std::vector<std::pair<int, std::string>>;

std::string readBack(FILE* stream) {
  rewind(stream);
  std::string content;
  for (int c; (c = fgetc(stream)) != EOF;) content += static_cast<char>(c);
  return content;
}

}  // namespace

TEST_F(MessageSink, HeadedTextsCarryTheSourceNameAndATrailingNewline) {
  ContextMessageHeaded(0, "info");
  ContextMessageHeaded(1, "warn");
  ContextMessageHeaded(2, "fail");
  EXPECT_EQ(sinkTexts, (Typed{{0, "info"},
                              {1, "\n... Warning message from Quenzel\n"},
                              {1, "warn"},
                              {1, "\n"},
                              {2, "\n... Error message from Quenzel\n"},
                              {2, "fail"},
                              {2, "\n"}}));
}

TEST_F(MessageSink, CountedTextIsCutAt998CharactersAndEndsInANewline) {
  std::string text(1200, 'x');
  struct Case {
    int length;
    std::string expected;
  } cases[] = {{5, "xxxxx\n"}, {998, std::string(998, 'x') + "\n"}, {1200, std::string(998, 'x') + "\n"},
               {0, "\n"}, {-3, "\n"}};
  for (const Case& c : cases) {
    sinkTexts.clear();
    EXPECT_EQ(ContextInfoCounted(text.c_str(), c.length), 0);
    EXPECT_EQ(sinkTexts, (Typed{{0, c.expected}})) << c.length;
  }
  sinkTexts.clear();
  int type = 2;
  ContextMessageCounted(&type, "short text", 100);  // stops at the terminator
  EXPECT_EQ(sinkTexts[1], (std::pair<int, std::string>{2, "short text\n"}));
  sinkTexts.clear();
  EXPECT_EQ(ContextInfoCounted(nullptr, 10), 0);  // no text: the newline alone
  EXPECT_EQ(sinkTexts, (Typed{{0, "\n"}}));
}

TEST_F(MessageSink, PrintGoesToTheCallbackAsIs) {
  ContextPrint("as is");
  EXPECT_EQ(sinkTexts, (Typed{{0, "as is"}}));
}

TEST_F(MessageSink, PaddedTextsDropTrailingBlanksAndGoToTheHostForTypeZero) {
  const double x = 2.5;
  const int32_t i = -12;
  struct Case {
    const char* name;
    void (*send)(const double*, const int32_t*);
    std::vector<std::string> host;
    Typed sink;
  } cases[] = {
      {"plain", [](const double*, const int32_t*) { PaddedTextMessage(0, "ABC   ", 6); }, {"ABC"}, {}},
      {"blanks only", [](const double*, const int32_t*) { PaddedTextMessage(0, "      ", 6); }, {" "}, {}},
      {"length inside", [](const double*, const int32_t*) { PaddedTextMessage(0, "ABCDEF", 2); }, {"AB"}, {}},
      {"real", [](const double* x, const int32_t*) { PaddedTextMessageReal(0, "rcond  ", x, 7); }, {"rcond 2.5"}, {}},
      {"integer", [](const double*, const int32_t* i) { PaddedTextMessageInteger(0, "row ", i, 4); }, {"row -12"}, {}},
      {"log integer", [](const double*, const int32_t* i) { PaddedTextLogInteger("n  ", i, 3); }, {"n -12"}, {}},
      {"warning to the sink", [](const double*, const int32_t*) { PaddedTextMessage(1, "W  ", 3); }, {},
       {{1, "W"}, {1, "\n"}}},
      {"error real to the sink", [](const double* x, const int32_t*) { PaddedTextMessageReal(2, "E ", x, 2); }, {},
       {{2, "E 2.5"}, {2, "\n"}}},
      {"no text", [](const double*, const int32_t*) { PaddedTextMessage(0, nullptr, 5); }, {""}, {}},
      {"no text with a number", [](const double*, const int32_t* i) { PaddedTextMessageInteger(1, nullptr, i, 5); },
       {}, {{1, " -12"}, {1, "\n"}}},
  };
  for (const Case& c : cases) {
    sinkTexts.clear();
    RuntimeMessageRecorder recorder;
    c.send(&x, &i);
    EXPECT_EQ(recorder.texts(), c.host) << c.name;
    EXPECT_EQ(sinkTexts, c.sink) << c.name;
  }
}

TEST_F(MessageSink, PaddedTextsAreCutToTheirLimits) {
  const std::string blanks(300, 'b');
  const double x = 1.0;
  const int32_t i = 7;
  RuntimeMessageRecorder recorder;
  PaddedTextMessage(0, blanks.c_str(), 300);
  PaddedTextMessageReal(0, blanks.c_str(), &x, 300);
  PaddedTextMessageInteger(0, blanks.c_str(), &i, 300);
  EXPECT_EQ(recorder.texts(), (std::vector<std::string>{std::string(198, 'b'), std::string(178, 'b') + " 1",
                                                        std::string(183, 'b') + " 7"}));
}

TEST_F(MessageSink, StreamsWithLinePrefixesOrWithoutAnyOutlet) {
  globalContext.messageCallback = nullptr;
  // No outlet at all (as in the unit): nothing is written anywhere and nothing fails.
  globalContext.infoStream = nullptr;
  globalContext.warningStream = nullptr;
  RuntimeMessageRecorder recorder;
  ContextMessageHeaded(2, "dropped");
  ContextPrint("dropped");
  EXPECT_TRUE(recorder.messages.empty());

  FILE* info = tmpfile();
  FILE* warnings = tmpfile();
  ASSERT_NE(info, nullptr);
  ASSERT_NE(warnings, nullptr);
  globalContext.infoStream = info;
  globalContext.warningStream = warnings;
  globalContext.linePrefix = 1;
  ContextMessageSink(0, "first\nsecond\n");
  ContextMessageSink(2, "broken\nline");
  EXPECT_EQ(readBack(info), "Quenzel | first\nQuenzel | second\n");
  EXPECT_EQ(readBack(warnings), "Quenzel | broken\nQuenzel | line");
  fclose(info);
  fclose(warnings);

  // Without prefixes a text also goes to the console stream of its type.
  info = tmpfile();
  globalContext.infoStream = info;
  globalContext.linePrefix = 0;
  testing::internal::CaptureStdout();
  ContextMessageSink(0, "twice");
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "twice");
  EXPECT_EQ(readBack(info), "twice");
  fclose(info);
}
