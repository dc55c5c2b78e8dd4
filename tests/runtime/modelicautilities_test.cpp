// The ModelicaUtilities functions as external C code calls them: the texts and levels that reach
// the host, the error path, and strings from the thread's string area.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "failed_check.h"
#include "guarded_call.h"
#include "modelicautilities.h"
#include "tempstrings.h"
#include "workbuffers.h"

namespace {

void VMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatMessage(format, args);
  va_end(args);
}

void VWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatWarning(format, args);
  va_end(args);
}

[[noreturn]] void VError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ModelicaVFormatError(format, args);
}

}  // namespace

TEST(ModelicaUtilities, MessagesAndWarningsArePendingInformationText) {
  struct Case {
    const char* name;
    void (*call)(void);
    const char* text;
  } cases[] = {
      {"message", [] { ModelicaMessage("plain %d"); }, "plain %d"},
      {"format message", [] { ModelicaFormatMessage("x = %d", 3); }, "x = 3"},
      {"v message", [] { VMessage("%s and %.1f", "a", 2.25); }, "a and 2.2"},
      {"warning", [] { ModelicaWarning("odd %s"); }, "Warning: odd %s\n"},
      {"format warning", [] { ModelicaFormatWarning("x = %d", 3); }, "Warning: x = 3\n"},
      {"v warning", [] { VWarning("%s!", "careful"); }, "Warning: careful!\n"},
      {"null message", [] { ModelicaMessage(nullptr); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuardedCallResult result = GuardedCall(c.call);
    ExpectNoFailure(result);
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0].text, c.text);
    EXPECT_EQ(result.messages[0].flush, 0);
    EXPECT_EQ(result.messages[0].level, 0);
  }
}

TEST(ModelicaUtilities, FormattedTextsAreCutTo3999Characters) {
  static const std::string longText(5000, 'q');
  GuardedCallResult result = GuardedCall([] {
    ModelicaFormatMessage("%s", longText.c_str());
    ModelicaFormatWarning("%s", longText.c_str());
  });
  ASSERT_EQ(result.messages.size(), 2u);
  EXPECT_EQ(result.messages[0].text, longText.substr(0, 3999));
  // The warning is formatted twice: its prefix and newline go into a second 3,999-character cut.
  EXPECT_EQ(result.messages[1].text, "Warning: " + longText.substr(0, 3999 - 9));
}

TEST(ModelicaUtilities, ErrorsReportAfterTheHeaderAndEndTheEvaluation) {
  struct Case {
    const char* name;
    void (*call)(void);
    const char* text;
  } cases[] = {
      {"error", [] { ModelicaError("broken %d"); }, "broken %d"},
      {"format error", [] { ModelicaFormatError("line %i of \"%s\"", 7, "f.txt"); }, "line 7 of \"f.txt\""},
      {"v error", [] { VError("%s-%d", "v", 1); }, "v-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    static bool after;
    after = false;
    GuardedCallResult result = GuardedCall([&] {
      c.call();
      after = true;
    });
    EXPECT_TRUE(result.jumped);
    EXPECT_FALSE(after);
    ASSERT_GE(result.messages.size(), 2u);
    EXPECT_EQ(result.messages[0].text.rfind("The following error was detected at time:", 0), 0u);
    EXPECT_EQ(result.messages[1].text, c.text);
    for (int level : result.levels()) EXPECT_EQ(level, 2);
  }
  modelDataTemplate.status = 0;
}

TEST(ModelicaUtilities, AllocatedStringsComeFromTheAreaEmptyAndTerminated) {
  long used0 = -1, used9998 = -1, usedAfterRefusal = -1;
  char *empty = nullptr, *refused = reinterpret_cast<char*>(1);
  GuardedCallResult result = GuardedCall([&] {
    MarkReset();
    char* base = StringMarkGet();
    empty = ModelicaAllocateString(0);
    used0 = StringMarkGet() - base;
    MarkReset();
    char* full = ModelicaAllocateStringWithErrorReturn(9998);
    used9998 = full ? StringMarkGet() - base : -1;
    MarkReset();
    refused = ModelicaAllocateStringWithErrorReturn(9999);
    usedAfterRefusal = StringMarkGet() - base;
    MarkReset();
  });
  ExpectNoFailure(result);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
  EXPECT_EQ(used0, 1);
  EXPECT_EQ(used9998, 9999);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(usedAfterRefusal, 0);
  modelDataTemplate.status = 0;
}

TEST(ModelicaUtilities, AllocateStringWithoutRoomFailsTheCheck) {
  struct Case {
    size_t length;
  } cases[] = {{9999}, {static_cast<size_t>(-1)}, {static_cast<size_t>(1) << 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    static size_t length;
    length = c.length;
    GuardedCallResult result = GuardedCall([] {
      MarkReset();
      ModelicaAllocateString(length);
    });
    ExpectFailedCheck(result, "stringmark+len+1<Endsimplestring", "Room to allocate string");
    GuardedCall([] { EXPECT_EQ(ModelicaAllocateStringWithErrorReturn(length), nullptr); });
  }
  modelDataTemplate.status = 0;
}
