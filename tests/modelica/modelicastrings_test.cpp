// The string scanners, the string hash and the environment functions.
#include <climits>
#include <cstdlib>
#include <string>

#include "failed_check.h"
#include "guarded_call.h"
#include "modelicainternal.h"
#include "modelicastrings.h"
#include "workbuffers.h"

#include <gtest/gtest.h>

namespace {

struct Scan {
  std::string text;
  int next;
};

// Runs a scanner inside an evaluation (it may take strings from the area) and copies its result.
template <typename F>
Scan Scanned(F scan) {
  static Scan out;
  static F* f;
  f = &scan;
  out = {"<not run>", -99};
  ExpectNoFailure(GuardedCall([] {
    MarkReset();
    ModelicaScanStringResult r = (*f)();
    out = {r.string, r.nextIndex};
  }));
  return out;
}

}  // namespace

TEST(ModelicaStrings, SkipWhiteSpaceStopsAtTheFirstOtherCharacter) {
  EXPECT_EQ(ModelicaStrings_skipWhiteSpace(" \t\n x", 1), 5);
  EXPECT_EQ(ModelicaStrings_skipWhiteSpace("   ", 1), 4);
  EXPECT_EQ(ModelicaStrings_skipWhiteSpace("ab", 2), 2);
  EXPECT_EQ(ModelicaStrings_skipWhiteSpace("ab", 9), 9);  // beyond the terminator: untouched
}

TEST(ModelicaStrings, ScanInteger) {
  struct Case {
    const char* s;
    int start, isUnsigned, next, value;
  } cases[] = {
      {"  -12abc", 1, 0, 6, -12},
      {"  -12abc", 1, 1, 1, 0},
      {"  12abc", 1, 1, 5, 12},
      {"12", 1, 2, 1, 0},
      {"12", 1, -1, 1, 0},
      {"12.5", 1, 0, 1, 0},
      {"12e3", 1, 0, 1, 0},
      {"x 7", 2, 0, 4, 7},
      {"+", 1, 0, 1, 0},
      {"", 1, 0, 1, 0},
      {"2147483647", 1, 0, 11, INT_MAX},
      {"-2147483648", 1, 0, 12, INT_MIN},
      {"2147483648", 1, 0, 1, 0},
      {"-2147483649", 1, 0, 1, 0},
      {"99999999999999999999", 1, 0, 1, 0},
      {"5", 0, 0, 0, 0},
      {"5", 3, 0, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.s) + " from " + std::to_string(c.start));
    ModelicaScanIntegerResult r = ModelicaWrap_scanInteger(c.s, c.start, c.isUnsigned);
    EXPECT_EQ(r.nextIndex, c.next);
    EXPECT_EQ(r.value, c.value);
  }
  const std::string tooLong(100, '1');
  EXPECT_EQ(ModelicaWrap_scanInteger(tooLong.c_str(), 1, 0).nextIndex, 1);
}

TEST(ModelicaStrings, ScanReal) {
  struct Case {
    const char* s;
    int isUnsigned, next;
    double value;
  } cases[] = {
      {"-1.5e-3x", 0, 8, -0.0015}, {"1e+", 0, 1, 0.0},   {"1e", 0, 1, 0.0},      {"1.", 0, 3, 1.0},
      {".5", 0, 3, 0.5},           {"1.e3", 0, 5, 1000.0}, {".", 0, 1, 0.0},     {"-", 0, 1, 0.0},
      {"-2", 1, 1, 0.0},           {"-2", 2, 3, -2.0},           {" 2.5E+2;", 0, 8, 250.0}, {"abc", 0, 1, 0.0}, {"7", 0, 2, 7.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s);
    ModelicaScanRealResult r = ModelicaWrap_scanReal(c.s, 1, c.isUnsigned);
    EXPECT_EQ(r.nextIndex, c.next);
    EXPECT_DOUBLE_EQ(r.value, c.value);
  }
  const std::string tooLong = "1." + std::string(98, '0');
  EXPECT_EQ(ModelicaWrap_scanReal(tooLong.c_str(), 1, 0).nextIndex, 1);
}

TEST(ModelicaStrings, ScanStringAndIdentifier) {
  struct Case {
    const char* s;
    bool identifier;
    const char* text;
    int next;
  } cases[] = {
      {" \"a\\\"b\" rest", false, "a\\\"b", 8},
      {"\"\"", false, "", 1},
      {"\"open", false, "", 1},
      {"plain", false, "", 1},
      {"  x_1+y", true, "x_1", 6},
      {"_x", true, "", 1},
      {"1x", true, "", 1},
      {"abc", true, "abc", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s);
    static const char* s;
    s = c.s;
    Scan got = c.identifier ? Scanned([] { return ModelicaWrap_scanIdentifier(s, 1); })
                            : Scanned([] { return ModelicaWrap_scanString(s, 1); });
    EXPECT_EQ(got.text, c.text);
    EXPECT_EQ(got.next, c.next);
  }
}

TEST(ModelicaStrings, HashStringIsJenkinsLookup2) {
  EXPECT_EQ(ModelicaStrings_hashString("abc"), -1106035018);
  EXPECT_EQ(ModelicaStrings_hashString(""), 249677994);
  // Longer than one 12-byte block, so the block loop and the tail both take part.
  EXPECT_NE(ModelicaStrings_hashString("abcdefghijklmnopq"), ModelicaStrings_hashString("abcdefghijklmnopr"));
}

TEST(ModelicaInternalEnvironment, GetenvGivesContentAndExistence) {
  setenv("QUENZEL_TEST_ENV", "C:\\dir\\file", 1);
  unsetenv("QUENZEL_TEST_UNSET");
  struct Case {
    const char* name;
    int convert;
    const char* content;
    int exist;
  } cases[] = {{"QUENZEL_TEST_ENV", 0, "C:\\dir\\file", 1},
               {"QUENZEL_TEST_ENV", 1, "C:/dir/file", 1},
               {"QUENZEL_TEST_UNSET", 1, "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    static const Case* current;
    static std::string content;
    static int exist;
    current = &c;
    ExpectNoFailure(GuardedCall([] {
      MarkReset();
      ModelicaGetenvResult r = ModelicaWrap_getenv(current->name, current->convert);
      content = r.content;
      exist = r.exist;
    }));
    EXPECT_EQ(content, c.content);
    EXPECT_EQ(exist, c.exist);
  }
  unsetenv("QUENZEL_TEST_ENV");
}

TEST(ModelicaInternalEnvironment, AValueLongerThanTheAreaFailsUnderTheFunctionName) {
  setenv("QUENZEL_TEST_LONG", std::string(12000, 'v').c_str(), 1);
  GuardedCallResult call = GuardedCall([] {
    MarkReset();
    ModelicaWrap_getenv("QUENZEL_TEST_LONG", 0);
  });
  unsetenv("QUENZEL_TEST_LONG");
  ASSERT_TRUE(call.jumped);
  std::vector<std::string> texts = call.texts();
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[1],
            "Not enough memory to allocate string for copying environment variable "
            "\"QUENZEL_TEST_LONG\".\n");
  EXPECT_EQ(texts.back(), "ModelicaInternal_getenv");
  modelDataTemplate.status = 0;
}

TEST(ModelicaInternalServices, TimeAndProcessId) {
  int ms, sec, min, hour, mday, mon, year;
  ModelicaInternal_getTime(&ms, &sec, &min, &hour, &mday, &mon, &year);
  EXPECT_GE(ms, 0);
  EXPECT_LE(ms, 999);
  EXPECT_LE(sec, 60);
  EXPECT_GE(mon, 1);
  EXPECT_LE(mon, 12);
  EXPECT_GE(year, 2024);
  EXPECT_GT(ModelicaInternal_getpid(), 0);
}
