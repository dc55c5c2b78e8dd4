// The thread's string area, its marks, the permanent copies and the String() conversions.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "failed_check.h"
#include "guarded_call.h"
#include "tempstrings.h"
#include "workbuffers.h"

namespace {

const char roomCondition[] = "stringmark+len+1<Endsimplestring";
const char roomMessage[] = "Room to allocate string";
const char limitsCondition[] = "precision<40 && minwidth<40";
const char widthCondition[] = "minwidth<40";
const char formatLengthCondition[] = "buf[99]=='\\0'";
const char formatCondition[] = "ValidRealFormat(format)";

// Characters of the area in use: the distance of the mark from where it stood after MarkReset.
struct AreaUse {
  char* base = nullptr;
  long used() const { return StringMarkGet() - base; }
};

AreaUse EmptyArea(void) {
  MarkReset();
  return AreaUse{StringMarkGet()};
}

// Runs body on an empty string area; the body's frames are left by the error jump on failure.
GuardedCallResult OnEmptyArea(const std::function<void(AreaUse)>& body) {
  return GuardedCall([&] { body(EmptyArea()); });
}

}  // namespace

TEST(StringAllocate, GrantsUpTo9998CharactersOnAnEmptyArea) {
  struct Case {
    int length;
    bool fits;
  } cases[] = {{0, true}, {1, true}, {9998, true}, {9999, false}, {10000, false},
               {-1, false}, {INT_MIN, false}, {INT_MAX, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    char* got = nullptr;
    long usedAfter = -1;
    int fitsBefore = -1;
    GuardedCallResult result = OnEmptyArea([&](AreaUse area) {
      if (c.length >= 0) fitsBefore = StringFits(static_cast<size_t>(c.length));
      got = StringAllocate(c.length);
      usedAfter = area.used();
    });
    if (c.fits) {
      ExpectNoFailure(result);
      EXPECT_NE(got, nullptr);
      EXPECT_EQ(usedAfter, c.length + 1L);
      if (c.length >= 0) {
        EXPECT_EQ(fitsBefore, 1);
      }
    } else {
      ExpectFailedCheck(result, roomCondition, roomMessage);
      if (c.length >= 0) {
        EXPECT_EQ(fitsBefore, 0);
      }
    }
  }
}

TEST(StringAllocate, RefusedRequestsLeaveTheMarkWhereItWas) {
  // A negative length must never move the mark back over live strings, and no size_t length may
  // wrap into a small request.
  const size_t lengths[] = {9999, static_cast<size_t>(INT_MAX) + 1, SIZE_MAX, SIZE_MAX - 1};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    char* before = nullptr;
    char* live = nullptr;
    GuardedCallResult result = OnEmptyArea([&](AreaUse) {
      live = StringConcat("live", "");
      before = StringMarkGet();
      StringAllocateSize(length);
    });
    ExpectFailedCheck(result, roomCondition, roomMessage);
    EXPECT_EQ(StringMarkGet(), before);
    EXPECT_STREQ(live, "live");
  }
  char* before = nullptr;
  GuardedCallResult negative = OnEmptyArea([&](AreaUse) {
    StringConcat("abc", "");
    before = StringMarkGet();
    StringAllocate(-3);
  });
  ExpectFailedCheck(negative, roomCondition, roomMessage);
  EXPECT_EQ(StringMarkGet(), before);
}

TEST(StringAllocate, TheAreaBelongsToTheCallingThread) {
  GuardedCallResult full = OnEmptyArea([&](AreaUse) {
    StringAllocate(9998);
    StringAllocate(0);
  });
  ExpectFailedCheck(full, roomCondition, roomMessage);
  GuardedCallResult other;
  std::thread([&] { other = OnEmptyArea([](AreaUse) { StringAllocate(9998); }); }).join();
  ExpectNoFailure(other);
}

TEST(StringAllocate, AFreshThreadGetsItsBuffersFromTheFirstStringOperation) {
  // No mark operation runs first: each string operation must create the buffers itself.
  struct Case {
    const char* name;
    void (*first)(void);
  } cases[] = {
      {"StringConcat", [] { StringConcat("a", "b"); }},
      {"StringAllocate", [] { StringAllocate(3); }},
      {"StringMarkGet", [] { StringMarkSet(StringMarkGet()); }},
      {"IntegerToString", [] { IntegerToString(7, 0, 3); }},
      {"StringToPermanent", [] { StringToPermanent(StringMarkGet()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuardedCallResult result;
    char* mark = nullptr;
    std::thread([&] {
      result = GuardedCall([&] {
        c.first();
        mark = StringMarkGet();
      });
    }).join();
    ExpectNoFailure(result);
    EXPECT_NE(mark, nullptr);
  }
}

TEST(StringConcat, JoinsIntoOneNewStringOfTheArea) {
  struct Case {
    const char* a;
    const char* b;
    const char* expected;
  } cases[] = {{"", "", ""}, {"ab", "cde", "abcde"}, {"x", "", "x"}, {"", "y", "y"},
               {nullptr, "y", "y"}, {"x", nullptr, "x"}};
  for (const Case& c : cases) {
    char* got = nullptr;
    long used = 0;
    ExpectNoFailure(OnEmptyArea([&](AreaUse area) {
      got = StringConcat(c.a, c.b);
      used = area.used();
    }));
    EXPECT_STREQ(got, c.expected);
    EXPECT_EQ(used, static_cast<long>(strlen(c.expected)) + 1);  // "" + "" uses one character
  }
}

TEST(StringConcat, AResultThatDoesNotFitFails) {
  static char half[5001];
  memset(half, 'h', 5000);
  ExpectNoFailure(OnEmptyArea([&](AreaUse) { StringConcat(half, half + 2); }));  // 9,998
  ExpectFailedCheck(OnEmptyArea([&](AreaUse) { StringConcat(half, half + 1); }), roomCondition,
                    roomMessage);
}

TEST(StringMarks, SetReleasesLaterStringsAndIgnoresForeignMarks) {
  char* first = nullptr;
  char* reused = nullptr;
  char* afterForeign = nullptr;
  char* markBefore = nullptr;
  static char foreign[8];
  ExpectNoFailure(OnEmptyArea([&](AreaUse) {
    char* mark = StringMarkGet();
    first = StringConcat("first", "");
    StringMarkSet(mark);
    reused = StringConcat("second", "");
    markBefore = StringMarkGet();
    StringMarkSet(nullptr);
    StringMarkSet(foreign);
    StringMarkSet(const_cast<char*>("literal"));
    afterForeign = StringMarkGet();
  }));
  EXPECT_EQ(reused, first);
  EXPECT_EQ(afterForeign, markBefore);
}

TEST(StringMarks, KeepMovesAResultMadeAfterThePlaceDown) {
  const char* kept = nullptr;
  char* place = nullptr;
  long usedAfter = 0;
  ExpectNoFailure(OnEmptyArea([&](AreaUse area) {
    StringConcat("before", "");
    place = StringMarkGet();
    StringConcat("scratch", "scratch");
    char* result = StringConcat("res", "ult");
    kept = StringMarkKeep(result, place);
    usedAfter = area.used();
  }));
  EXPECT_EQ(kept, place);
  EXPECT_STREQ(kept, "result");
  EXPECT_EQ(usedAfter, 7 + 7);  // "before" and "result", each with its terminator
}

TEST(StringMarks, KeepLeavesOtherResultsWhereTheyAre) {
  struct Case {
    const char* name;
    // Makes the result and the place; returns the result.
    std::function<const char*(char** place)> make;
    bool markMovesToPlace;
  };
  const Case cases[] = {
      {"made before the place",
       [](char** place) {
         const char* r = StringConcat("early", "");
         *place = StringMarkGet();
         StringConcat("later", "");
         return r;
       },
       true},
      {"outside the area",
       [](char** place) {
         *place = StringMarkGet();
         StringConcat("later", "");
         return "literal";
       },
       true},
      {"running past the mark",
       [](char** place) {
         char* s = StringAllocate(10);
         memcpy(s, "0123456789", 11);
         *place = s;
         StringMarkSet(s + 5);
         return static_cast<const char*>(s + 2);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* result = nullptr;
    const char* kept = nullptr;
    char* place = nullptr;
    char* markBefore = nullptr;
    char* markAfter = nullptr;
    ExpectNoFailure(OnEmptyArea([&](AreaUse) {
      result = c.make(&place);
      markBefore = StringMarkGet();
      kept = StringMarkKeep(result, place);
      markAfter = StringMarkGet();
    }));
    EXPECT_EQ(kept, result);
    EXPECT_EQ(markAfter, c.markMovesToPlace ? place : markBefore);
  }
}

TEST(StringToPermanent, CopiesOnlyStringsOfTheArea) {
  static char owned[] = "owned elsewhere";
  char* literal = const_cast<char*>("literal");
  char* temporary = nullptr;
  char* copy = nullptr;
  char* copyAgain = nullptr;
  char* passedLiteral = nullptr;
  char* passedOwned = nullptr;
  char* passedNull = owned;
  ExpectNoFailure(OnEmptyArea([&](AreaUse) {
    temporary = StringConcat("temp", "orary");
    copy = StringToPermanent(temporary);
    copyAgain = StringToPermanent(copy);
    passedLiteral = StringToPermanent(literal);
    passedOwned = StringToPermanent(owned);
    passedNull = StringToPermanent(nullptr);
    MarkReset();
    StringConcat("overwrites", " the temporary");
  }));
  EXPECT_NE(copy, temporary);
  EXPECT_STREQ(copy, "temporary");  // survives the reset
  EXPECT_STRNE(temporary, "temporary");
  EXPECT_EQ(copyAgain, copy);
  EXPECT_EQ(passedLiteral, literal);
  EXPECT_EQ(passedOwned, owned);
  EXPECT_EQ(passedNull, nullptr);
}

TEST(StringToPermanentDeathTest, AFullPermanentAreaFails) {
  // The permanent area never shrinks, so fill it in a child process, which starts it afresh
  // whatever the tests before took from it.
  auto fill = [] {
    startstringmarkNon = EndsimplestringNon - permanentStringAreaSize;
    static char text[9999];
    memset(text, 'p', 9998);
    bool ok = true;
    for (int k = 0; k < 10; ++k) {  // 99,990 of 100,000 characters
      GuardedCallResult r = OnEmptyArea([&](AreaUse) { StringToPermanent(StringConcat(text, "")); });
      ok = ok && !r.jumped;
    }
    // 9 more fit strictly before the end; after them not even an empty string does.
    GuardedCallResult last = OnEmptyArea([](AreaUse) { StringToPermanent(StringConcat("12345678", "")); });
    GuardedCallResult over = OnEmptyArea([](AreaUse) { StringToPermanent(StringConcat("", "")); });
    std::vector<std::string> texts = over.texts();
    ok = ok && !last.jumped && over.jumped && texts.size() >= 3 &&
         texts[0] == "startstringmarkNon+len+1<EndsimplestringNon" && texts[2] == roomMessage;
    exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(fill(), ::testing::ExitedWithCode(0), "");
}

TEST(StringConversions, FormatAsTheStringOperator) {
  struct Case {
    const char* name;
    std::function<char*()> convert;
    const char* expected;
  };
  const double third = 1.0 / 3.0;
  const Case cases[] = {
      {"Real default width", [&] { return RealToString(third, 0, 0, 6); }, "0.333333"},
      {"Real left", [] { return RealToString(2.5, 1, 6, 6); }, "2.5   "},
      {"Real right", [] { return RealToString(2.5, 0, 6, 6); }, "   2.5"},
      {"Real negative width", [] { return RealToString(2.5, 0, -6, 6); }, "2.5   "},
      {"Real digits", [] { return RealToString(123456789.0, 0, 0, 3); }, "1.23e+08"},
      {"Real negative digits", [&] { return RealToString(third, 0, 0, -1); }, "0.333333"},
      {"Real 39 digits", [] { return RealToString(0.5, 0, 0, 39); }, "0.5"},
      {"Real default", [&] { return RealToStringDefault(third, 0, 10); }, "  0.333333"},
      {"Real default left", [] { return RealToStringDefault(-1e-7, 1, 8); }, "-1e-07  "},
      {"Real precision", [] { return RealToStringPrecision(3.14159, 8, 3); }, "    3.14"},
      {"Real precision negative width", [] { return RealToStringPrecision(3.14159, -6, 2); },
       "3.1   "},
      {"Integer right", [] { return IntegerToString(42, 0, 5); }, "   42"},
      {"Integer left", [] { return IntegerToString(42, 1, 5); }, "42   "},
      {"Integer negative width", [] { return IntegerToString(42, 0, -5); }, "42   "},
      {"Integer narrow", [] { return IntegerToString(-123, 0, 2); }, "-123"},
      {"Integer minimum", [] { return IntegerToString(INT_MIN, 0, 0); }, "-2147483648"},
      {"Integer precision", [] { return IntegerToStringPrecision(42, 6, 4); }, "  0042"},
      {"Integer precision sign", [] { return IntegerToStringPrecision(-5, 0, 3); }, "-005"},
      {"Boolean left", [] { return BooleanToString(1, 1, 6); }, "true  "},
      {"Boolean right", [] { return BooleanToString(0, 0, 7); }, "  false"},
      {"Boolean nonzero", [] { return BooleanToString(-5, 0, 0); }, "true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char* got = nullptr;
    long used = 0;
    ExpectNoFailure(OnEmptyArea([&](AreaUse area) {
      got = c.convert();
      used = area.used();
    }));
    EXPECT_STREQ(got, c.expected);
    // Only the result stays in the area.
    EXPECT_EQ(used, static_cast<long>(strlen(c.expected)) + 1);
  }
}

TEST(StringConversions, WidthsAndPrecisionsOf40OrMoreFail) {
  struct Case {
    const char* name;
    std::function<void()> convert;
    const char* condition;
  };
  const Case cases[] = {
      {"Real width", [] { RealToString(1.0, 0, 40, 6); }, limitsCondition},
      {"Real digits", [] { RealToString(1.0, 1, 0, 40); }, limitsCondition},
      {"Real default width", [] { RealToStringDefault(1.0, 0, 40); }, limitsCondition},
      {"Real precision width", [] { RealToStringPrecision(1.0, 40, 1); }, limitsCondition},
      {"Real precision", [] { RealToStringPrecision(1.0, 0, INT_MAX); }, limitsCondition},
      {"Integer precision width", [] { IntegerToStringPrecision(1, 40, 0); }, limitsCondition},
      {"Integer precision", [] { IntegerToStringPrecision(1, 0, 40); }, limitsCondition},
      {"Integer width", [] { IntegerToString(1, 0, 40); }, widthCondition},
      {"Boolean width", [] { BooleanToString(1, 1, 40); }, widthCondition},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char* before = nullptr;
    GuardedCallResult result = OnEmptyArea([&](AreaUse) {
      before = StringMarkGet();
      c.convert();
    });
    ExpectFailedCheck(result, c.condition, "");
    EXPECT_EQ(StringMarkGet(), before);  // checked before anything is allocated
  }
  // 39 is still accepted.
  char* wide = nullptr;
  ExpectNoFailure(OnEmptyArea([&](AreaUse) { wide = RealToString(1.0, 0, 39, 39); }));
  EXPECT_EQ(strlen(wide), 39u);
}

TEST(StringConversions, NegativeWidthsOfAnySizeStayInsideTheArea) {
  // A negative width means left adjustment to its magnitude, however large: the field is built in
  // the area, and one that does not fit fails like any allocation.
  struct Case {
    const char* name;
    std::function<char*()> convert;
    const char* text;
    size_t width;
  };
  const Case cases[] = {
      {"Integer", [] { return IntegerToString(7, 0, -1000); }, "7", 1000},
      {"Real", [] { return RealToString(2.5, 0, -500, 6); }, "2.5", 500},
      {"Real precision", [] { return RealToStringPrecision(2.5, -9998, 2); }, "2.5", 9998},
      {"Integer precision", [] { return IntegerToStringPrecision(3, -200, 2); }, "03", 200},
      {"Boolean", [] { return BooleanToString(0, 0, -300); }, "false", 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char* got = nullptr;
    ExpectNoFailure(OnEmptyArea([&](AreaUse) { got = c.convert(); }));
    std::string expected(c.text);
    expected.resize(c.width, ' ');
    EXPECT_EQ(std::string(got), expected);
  }
  const std::function<void()> tooWide[] = {
      [] { IntegerToString(7, 1, -9999); },
      [] { RealToString(2.5, 0, -20000, 6); },
      [] { BooleanToString(1, 0, INT_MIN); },
      [] { IntegerToStringPrecision(1, INT_MIN, 0); },
  };
  for (const auto& convert : tooWide)
    ExpectFailedCheck(OnEmptyArea([&](AreaUse) { convert(); }), roomCondition, roomMessage);
}

TEST(RealToStringFormat, FormatsWithTheCallersConversionAfterItsPercentSign) {
  struct Case {
    const char* format;
    double x;
    const char* expected;
  } cases[] = {
      {".2f", 3.14159, "3.14"},        {"10.4e", 3.14159, "3.1416e+00"},
      {"-8.1f", 3.14159, "3.1     "},  {"+g", 3.14159, "+3.14159"},
      {"#.0f", 3.0, "3."},             {"08.3f", -3.14159, "-003.142"},
      {"E", 3.14159, "3.141590E+00"},  {"G", 1e-10, "1E-10"},
      {"a", 1.0, "0x1p+0"},            {".f", 2.5, "2"},
      {"--6.1f", 2.5, "2.5   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    char* got = nullptr;
    char* base = nullptr;
    long used = 0;
    ExpectNoFailure(OnEmptyArea([&](AreaUse area) {
      base = area.base;
      got = RealToStringFormat(c.x, c.format);
      used = area.used();
    }));
    EXPECT_STREQ(got, c.expected);
    // "%" and the format come first and stay in the area; the result follows them.
    const long formatUse = static_cast<long>(strlen(c.format)) + 2;
    EXPECT_STREQ(base, (std::string("%") + c.format).c_str());
    EXPECT_EQ(got, base + formatUse);
    EXPECT_EQ(used, formatUse + static_cast<long>(strlen(c.expected)) + 1);
  }
}

TEST(RealToStringFormat, TheFormatWithItsPercentSignNeedsRoomInTheArea) {
  // "%.2f" takes 5 characters and "1.00" 5 more: after 9,989 characters the result still fits,
  // after 9,990 it does not.
  char* got = nullptr;
  ExpectNoFailure(OnEmptyArea([&](AreaUse) {
    StringAllocate(9988);
    got = RealToStringFormat(1.0, ".2f");
  }));
  EXPECT_STREQ(got, "1.00");
  ExpectFailedCheck(OnEmptyArea([](AreaUse) {
                      StringAllocate(9989);
                      RealToStringFormat(1.0, ".2f");
                    }),
                    roomCondition, roomMessage);
}

TEST(RealToStringFormat, TextsOf99CharactersSucceedAnd100Fail) {
  struct Case {
    const char* format;
    double x;
    size_t length;  // 0: fails
  } cases[] = {
      {"99f", 1.0, 99},
      {"100f", 1.0, 0},
      {".97f", 1.0, 99},
      {".98f", 1.0, 0},
      {"-99e", 1.0, 99},
      {".2f", 1e300, 0},
      {"99999999999999999999f", 1.0, 0},  // a width beyond int
      {".99999999999999999999f", 1.0, 0},
      {"#.900g", 1.0 / 3.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    char* got = nullptr;
    GuardedCallResult result = OnEmptyArea([&](AreaUse) { got = RealToStringFormat(c.x, c.format); });
    if (c.length) {
      ExpectNoFailure(result);
      EXPECT_EQ(strlen(got), c.length);
    } else {
      ExpectFailedCheck(result, formatLengthCondition, "");
    }
  }
}

TEST(RealToStringFormat, LargePrecisionsOfGGiveWhatPrintfGives) {
  // %g drops trailing zeros, so a large precision can still give a short text.
  char expected[100];
  snprintf(expected, sizeof expected, "%.900g", 0.1);
  char* got = nullptr;
  ExpectNoFailure(OnEmptyArea([&](AreaUse) { got = RealToStringFormat(0.1, ".900g"); }));
  EXPECT_STREQ(got, expected);
  EXPECT_STREQ(got, "0.1000000000000000055511151231257827021181583404541015625");
}

TEST(RealToStringFormat, AnythingButOneRealConversionIsRefused) {
  // None of these may reach printf: they would read arguments that were never passed or write
  // through them.
  const char* formats[] = {"", "s", "d", "n", "%s%s", ".2f%s", "%.2f", "lf", "Lf", ".2fx",
                           "*.2f", ".*f", "10", ".", "5.2", "f f", "2$f", "'f", nullptr};
  for (const char* format : formats) {
    SCOPED_TRACE(format ? format : "(null)");
    char* before = nullptr;
    GuardedCallResult result = OnEmptyArea([&](AreaUse) {
      before = StringMarkGet();
      RealToStringFormat(1.5, format);
    });
    std::string message = std::string("Format \"") + (format ? format : "") +
                          "\" is not [flags][width][.precision] followed by one of e E f F g G a A";
    ExpectFailedCheck(result, formatCondition, message);
    // Only "%" and the format were made; nothing was formatted.
    EXPECT_EQ(StringMarkGet(), before + (format ? strlen(format) : 0) + 2);
  }
}

TEST(StringConversions, UseTheProcessLocale) {
  const char* previous = setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no decimal-comma locale";
  char* real = nullptr;
  char* formatted = nullptr;
  char* integer = nullptr;
  GuardedCallResult result = OnEmptyArea([&](AreaUse) {
    real = RealToString(2.5, 0, 5, 6);
    formatted = RealToStringFormat(2.5, ".2f");
    integer = IntegerToString(1000, 0, 0);
  });
  setlocale(LC_NUMERIC, saved.c_str());
  ExpectNoFailure(result);
  EXPECT_STREQ(real, "  2,5");
  EXPECT_STREQ(formatted, "2,50");
  EXPECT_STREQ(integer, "1000");
}
