// Formatting, conversion and scanning in the "C" locale while the process or the thread runs
// under a decimal-comma locale.
#include <gtest/gtest.h>

#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "clocale.h"

namespace {
const char* const kCommaLocale = "de_DE.UTF-8";

int CallVsnprintf(char* buffer, int size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int CallVsnprintf(char* buffer, int size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = vsnprintf_c(buffer, size, format, arguments);
  va_end(arguments);
  return result;
}

int CallVfprintf(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int CallVfprintf(FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = vfprintf_c(stream, format, arguments);
  va_end(arguments);
  return result;
}

// A temporary stream holding `text`, rewound for reading.
FILE* StreamWith(const char* text) {
  FILE* stream = tmpfile();
  if (stream) {
    fputs(text, stream);
    rewind(stream);
  }
  return stream;
}

std::string StreamText(FILE* stream) {
  rewind(stream);
  std::string text;
  for (int c; (c = fgetc(stream)) != EOF;) text += static_cast<char>(c);
  return text;
}

// Every member that formats a number (expected to write "1.5") and every member that reads
// one (expected to read 1.5 from a text with a decimal point).
struct FormatCase {
  const char* name;
  std::function<std::string()> run;
};
struct ScanCase {
  const char* name;
  std::function<double()> run;
};

std::vector<FormatCase> FormatCases() {
  return {
      {"sprintf_c", [] { char b[32]; sprintf_c(b, "%g", 1.5); return std::string(b); }},
      {"vsnprintf_c", [] { char b[32]; CallVsnprintf(b, sizeof b, "%g", 1.5); return std::string(b); }},
      {"fprintf_c", [] {
         FILE* s = tmpfile(); fprintf_c(s, "%g", 1.5);
         std::string t = StreamText(s); fclose(s); return t; }},
      {"vfprintf_c", [] {
         FILE* s = tmpfile(); CallVfprintf(s, "%.1f", 1.5);
         std::string t = StreamText(s); fclose(s); return t; }},
  };
}

std::vector<ScanCase> ScanCases() {
  return {
      {"atof_c", [] { return atof_c("1.5"); }},
      {"sscanf_c", [] { double v = 0; sscanf_c("1.5", "%lg", &v); return v; }},
      {"sscanf_c_fmt", [] { float v = 0; sscanf_c_fmt(" 1.5,", " %g,", &v); return double(v); }},
      {"sscanf_c_lg", [] { double v = 0; sscanf_c_lg(" 1.5", &v); return v; }},
      {"sscanf_c_number_word", [] {
         double v = 0; char w[8]; sscanf_c_number_word("1.5 V", &v, w, sizeof w); return v; }},
      {"fscanf_c_lg", [] {
         FILE* s = StreamWith(" 1.5"); double v = 0; fscanf_c_lg(s, &v); fclose(s); return v; }},
      {"fscanf_c_g", [] {
         FILE* s = StreamWith(" 1.5"); float v = 0; fscanf_c_g(s, &v); fclose(s); return double(v); }},
      {"fscanf_c", [] {
         FILE* s = StreamWith(" 0.5 1.5 2.5"); double a = 0, b = 0, c = 0;
         fscanf_c(s, " %lg %lg %lg", &a, &b, &c); fclose(s); return b; }},
  };
}

class CommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(setlocale(LC_ALL, kCommaLocale), nullptr)
        << kCommaLocale << " is not available: tools/install-deps.sh generates it";
    char probe[16];
    snprintf(probe, sizeof probe, "%g", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the comma locale does not write a decimal comma";
  }
  void TearDown() override { setlocale(LC_ALL, "C"); }

  static void ExpectProcessLocaleUnchanged() {
    EXPECT_STREQ(setlocale(LC_ALL, nullptr), kCommaLocale);
    EXPECT_STREQ(localeconv()->decimal_point, ",");
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), LC_GLOBAL_LOCALE);
  }
};

TEST_F(CommaLocale, EveryNumberMemberUsesTheDecimalPoint) {
  for (const FormatCase& c : FormatCases()) {
    EXPECT_EQ(c.run(), "1.5") << c.name;
    ExpectProcessLocaleUnchanged();
  }
  // A scan in the comma locale would stop at the point and read 1.
  for (const ScanCase& c : ScanCases()) {
    EXPECT_EQ(c.run(), 1.5) << c.name;
    ExpectProcessLocaleUnchanged();
  }
}

TEST_F(CommaLocale, FormatsWithAPointAndScansPointNumbers) {
  char buffer[64];
  EXPECT_EQ(sprintf_c(buffer, "%g|%.3f|%e", 1.5, 2.25, 1e-5), 22);
  EXPECT_STREQ(buffer, "1.5|2.250|1.000000e-05");
  EXPECT_EQ(atof_c("2.5"), 2.5);
  double value = 0;
  EXPECT_EQ(sscanf_c_lg("  -1.5e-3x", &value), 1);
  EXPECT_EQ(value, -1.5e-3);
  ExpectProcessLocaleUnchanged();
}

TEST_F(CommaLocale, AThreadLocaleIsHonouredAndRestored) {
  setlocale(LC_ALL, "C");
  locale_t comma = newlocale(LC_ALL_MASK, kCommaLocale, static_cast<locale_t>(nullptr));
  ASSERT_NE(comma, nullptr);
  locale_t before = uselocale(comma);
  char probe[16];
  snprintf(probe, sizeof probe, "%g", 1.5);
  EXPECT_STREQ(probe, "1,5");

  for (const FormatCase& c : FormatCases()) {
    EXPECT_EQ(c.run(), "1.5") << c.name;
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), comma) << c.name;
  }
  for (const ScanCase& c : ScanCases()) {
    EXPECT_EQ(c.run(), 1.5) << c.name;
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), comma) << c.name;
  }
  uselocale(before);
  freelocale(comma);
  setlocale(LC_ALL, kCommaLocale);
}

TEST_F(CommaLocale, ThreadsFormatConcurrentlyEachUnderItsOwnLocale) {
  FreeCLocale();  // every thread races for the first creation
  std::vector<std::thread> threads;
  std::vector<std::string> results(6);
  std::vector<int> restored(6, 0);
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      locale_t comma = newlocale(LC_ALL_MASK, kCommaLocale, static_cast<locale_t>(nullptr));
      locale_t before = uselocale(comma);
      char buffer[32];
      for (int i = 0; i < 200; ++i) sprintf_c(buffer, "%g", 0.5 + static_cast<double>(t));
      results[t] = buffer;
      restored[t] = uselocale(static_cast<locale_t>(nullptr)) == comma;
      uselocale(before);
      freelocale(comma);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < results.size(); ++t) {
    EXPECT_EQ(results[t], std::to_string(t) + ".5");
    EXPECT_TRUE(restored[t]);
  }
}

TEST_F(CommaLocale, TheObjectIsCreatedAgainAfterItWasFreed) {
  locale_t first = GetCLocale();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetCLocale(), first);
  FreeCLocale();
  char buffer[16];
  sprintf_c(buffer, "%g", 0.25);
  EXPECT_STREQ(buffer, "0.25");
  EXPECT_NE(GetCLocale(), nullptr);
}

TEST(CLocaleVsnprintf, CutsTerminatesAndNeverWritesOutsideTheBuffer) {
  struct Case {
    int size;
    const char* text;
    const char* stored;  // null: nothing may be written
    int result;
  } cases[] = {
      {8, "abcdefghijklmnopqrst", "abcdefg", -1},  // 20 characters into 8
      {8, "abcdefg", "abcdefg", 7},                // exactly fits
      {8, "abc", "abc", 3},
      {1, "abc", "", -1},
      {1, "", "", 0},
      {0, "abc", nullptr, -1},
      {-5, "abc", nullptr, -1},
  };
  for (const Case& c : cases) {
    char guarded[32];
    memset(guarded, '#', sizeof guarded);
    char* buffer = guarded + 4;
    EXPECT_EQ(CallVsnprintf(buffer, c.size, "%s", c.text), c.result) << c.size << " " << c.text;
    int written = c.stored ? c.size : 0;
    if (c.stored) {
      EXPECT_STREQ(buffer, c.stored);
    }
    for (int i = 0; i < static_cast<int>(sizeof guarded); ++i) {
      if (i >= 4 && i < 4 + written) continue;
      EXPECT_EQ(guarded[i], '#') << "byte " << i - 4 << " written with size " << c.size;
    }
  }
}

TEST(CLocaleConversion, IntegersSaturateAtTheRangeOfInt) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"42", 42},           {"  -17x", -17},       {"+8", 8},
      {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"-2147483649", INT_MIN},
      {"99999999999999999999999", INT_MAX}, {"abc", 0}, {"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(atoi_c(c.text), c.value) << c.text;
    EXPECT_EQ(atol_c(c.text), c.value) << c.text;
    int scanned = -1;
    if (sscanf_c_d(c.text, &scanned) == 1) {
      EXPECT_EQ(scanned, c.value) << c.text;
    }
  }
}

TEST(CLocaleConversion, ComparesWithoutCase) {
  EXPECT_EQ(stricmp_c("Real", "rEAL"), 0);
  EXPECT_LT(stricmp_c("abc", "ABD"), 0);
  EXPECT_GT(stricmp_c("b", "A"), 0);
  EXPECT_LT(stricmp_c("ab", "ABC"), 0);
}

TEST(CLocaleConversion, ClassesAndCaseOfCharacters) {
  struct Case {
    int c;
    int alnum, alpha, digit, lower, upper, space;
    int upperCase, lowerCase;
  } cases[] = {
      {'a', 1, 1, 0, 1, 0, 0, 'A', 'a'},
      {'Q', 1, 1, 0, 0, 1, 0, 'Q', 'q'},
      {'7', 1, 0, 1, 0, 0, 0, '7', '7'},
      {' ', 0, 0, 0, 0, 0, 1, ' ', ' '},
      {'\t', 0, 0, 0, 0, 0, 1, '\t', '\t'},
      {'_', 0, 0, 0, 0, 0, 0, '_', '_'},
      {0xE9, 0, 0, 0, 0, 0, 0, 0xE9, 0xE9},  // no letter in the "C" locale
      {EOF, 0, 0, 0, 0, 0, 0, EOF, EOF},
      {-23, 0, 0, 0, 0, 0, 0, -23, -23},  // a signed char passed without a cast
      {300, 0, 0, 0, 0, 0, 0, 300, 300},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isalnum_c(c.c) != 0, c.alnum) << c.c;
    EXPECT_EQ(isalpha_c(c.c) != 0, c.alpha) << c.c;
    EXPECT_EQ(isdigit_c(c.c) != 0, c.digit) << c.c;
    EXPECT_EQ(islower_c(c.c) != 0, c.lower) << c.c;
    EXPECT_EQ(isupper_c(c.c) != 0, c.upper) << c.c;
    EXPECT_EQ(isspace_c(c.c) != 0, c.space) << c.c;
    EXPECT_EQ(toupper_c(c.c), c.upperCase) << c.c;
    EXPECT_EQ(tolower_c(c.c), c.lowerCase) << c.c;
  }
}

TEST(CLocaleConversion, StringOrEmptyReplacesOnlyNull) {
  EXPECT_STREQ(StringOrEmpty(nullptr), "");
  const char* text = "x";
  EXPECT_EQ(StringOrEmpty(text), text);
}

TEST(CLocaleScanning, CountsAssignedTargetsAndEndOfInput) {
  int value = 5;
  EXPECT_LT(sscanf_c_d("", &value), 0);
  EXPECT_LT(sscanf_c_d("   ", &value), 0);
  EXPECT_EQ(sscanf_c_d("x1", &value), 0);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(sscanf_c_d("  -12abc", &value), 1);
  EXPECT_EQ(value, -12);
  double real = 0;
  EXPECT_LT(sscanf_c_lg("", &real), 0);
  EXPECT_EQ(sscanf_c_lg("e3", &real), 0);

  int a[5] = {};
  EXPECT_EQ(sscanf_c(" 1 2 3 4 5", " %d %d %d %d %d", &a[0], &a[1], &a[2], &a[3], &a[4]), 5);
  EXPECT_EQ(a[4], 5);
  EXPECT_EQ(sscanf_c("7/0x10/-3", "%i/%i/%i", &a[0], &a[1], &a[2]), 3);
  EXPECT_EQ(a[1], 16);
  EXPECT_EQ(sscanf_c("4//9", "%i//%i", &a[0], &a[1]), 2);
  EXPECT_EQ(a[1], 9);
  char unit = 0;
  EXPECT_EQ(sscanf_c("2.5 s", "%lg %c", &real, &unit), 2);
  EXPECT_EQ(unit, 's');
  float f[4] = {};
  EXPECT_EQ(sscanf_c("1.5,2,3,4,", "%g,%g,%g,%g,", &f[0], &f[1], &f[2], &f[3]), 4);
  EXPECT_EQ(f[0], 1.5f);

  FILE* stream = StreamWith(" 1.5\n-3e2 ");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(fscanf_c_lg(stream, &real), 1);
  EXPECT_EQ(real, 1.5);
  float single = 0;
  EXPECT_EQ(fscanf_c_g(stream, &single), 1);
  EXPECT_EQ(single, -300.0f);
  EXPECT_LT(fscanf_c_lg(stream, &real), 0);
  fclose(stream);
}

// A character buffer between two guard zones that no scan may touch.
struct GuardedBuffer {
  char bytes[300];
  static const int kGuard = 8;
  explicit GuardedBuffer(int capacity) : capacity(capacity) { memset(bytes, '#', sizeof bytes); }
  char* text() { return bytes + kGuard; }
  bool guardsIntact() const {
    for (int i = 0; i < static_cast<int>(sizeof bytes); ++i) {
      if (i >= kGuard && i < kGuard + capacity) continue;
      if (bytes[i] != '#') return false;
    }
    return true;
  }
  int capacity;
};

TEST(CLocaleScanning, WordOf255CharactersAtMost) {
  std::string longWord(280, 'w');
  GuardedBuffer word(256);
  EXPECT_EQ(sscanf_c_word(longWord.c_str(), word.text(), 256), 1);
  EXPECT_EQ(strlen(word.text()), 255u);
  EXPECT_TRUE(word.guardsIntact());

  GuardedBuffer literal(256);
  EXPECT_EQ(sscanf_c(longWord.c_str(), "%255s", literal.text()), 1);
  EXPECT_EQ(strlen(literal.text()), 255u);
  EXPECT_TRUE(literal.guardsIntact());

  GuardedBuffer fromStream(256);
  FILE* stream = StreamWith(longWord.c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(fscanf_c_word(stream, fromStream.text(), 256), 1);
  EXPECT_EQ(strlen(fromStream.text()), 255u);
  EXPECT_TRUE(fromStream.guardsIntact());
  fclose(stream);
}

TEST(CLocaleScanning, BoundedMembersStopAtTheirBuffers) {
  struct Case {
    const char* name;
    const char* input;
    int capacity;  // of every buffer
    int count;
    std::vector<std::string> fields;
  };
  auto scan = [](const char* name, const char* input, std::vector<GuardedBuffer>& b) {
    const std::string member = name;
    if (member == "relation")
      return sscanf_c_relation(input, b[0].text(), b[0].capacity, b[1].text(), b[1].capacity);
    if (member == "include") return sscanf_c_include(input, b[0].text(), b[0].capacity);
    if (member == "version") return sscanf_c_version(input, b[0].text(), b[0].capacity);
    if (member == "word") return sscanf_c_word(input, b[0].text(), b[0].capacity);
    FILE* stream = StreamWith(input);
    int count = -99;
    if (member == "stream relation")
      count = fscanf_c_relation(stream, b[0].text(), b[0].capacity, b[1].text(), b[1].capacity,
                                b[2].text(), b[2].capacity);
    if (member == "until bracket")
      count = fscanf_c_until_bracket(stream, b[0].text(), b[0].capacity, b[1].text(),
                                     b[1].capacity);
    fclose(stream);
    return count;
  };
  const std::string many(200, '>');
  const std::string longName = "#include \"" + std::string(200, 'n') + "\"";
  const std::string longVersion = "( version = \"" + std::string(200, '9') + "\" )";
  const std::string longQuoted = " < \"" + std::string(200, 'q') + "\" tail)";
  const std::string longBracket = std::string(200, 'b') + "[x";
  Case cases[] = {
      {"relation", " >= 12.5)", 16, 2, {">=", "12.5)"}},
      {"relation", many.c_str(), 4, 2, {">>>", ">>>"}},
      {"include", "#include \"model.h\"", 16, 1, {"model.h"}},
      {"include", longName.c_str(), 8, 1, {"nnnnnnn"}},
      {"version", "( version = \"3.2.3\" )", 16, 1, {"3.2.3"}},
      {"version", longVersion.c_str(), 8, 1, {"9999999"}},
      {"stream relation", " > \"a text\" word)", 16, 3, {">", "a text", "word)"}},
      {"stream relation", longQuoted.c_str(), 8, 2, {"<", "qqqqqqq"}},
      {"until bracket", "name [x]", 16, 1, {"name ", "["}},
      {"until bracket", "a\\b", 16, 1, {"a", "\\"}},
      {"until bracket", longBracket.c_str(), 8, 1, {"bbbbbbb", "b"}},
      {"word", "anything", 1, 0, {}},
      {"relation", " < x)", 1, 0, {}},
      {"until bracket", "name [x]", 1, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<GuardedBuffer> buffers(3, GuardedBuffer(c.capacity));
    for (GuardedBuffer& b : buffers) b.text()[0] = '\0';
    EXPECT_EQ(scan(c.name, c.input, buffers), c.count) << c.name << ": " << c.input;
    for (size_t i = 0; i < c.fields.size(); ++i) {
      EXPECT_EQ(buffers[i].text(), c.fields[i]) << c.name << " field " << i << ": " << c.input;
    }
    for (GuardedBuffer& b : buffers) EXPECT_TRUE(b.guardsIntact()) << c.name << ": " << c.input;
  }
}

TEST(CLocaleScanning, WordEndAndNumberWord) {
  char word[8];
  int consumed = -1;
  EXPECT_EQ(sscanf_c_word_end("  word rest", word, sizeof word, &consumed), 1);
  EXPECT_STREQ(word, "word");
  EXPECT_EQ(consumed, 6);
  double value = 0;
  EXPECT_EQ(sscanf_c_number_word("2.5 volts", &value, word, sizeof word), 2);
  EXPECT_EQ(value, 2.5);
  EXPECT_STREQ(word, "volts");
  EXPECT_EQ(sscanf_c_number_word("2.5 kilovolts", &value, word, 5), 2);
  EXPECT_STREQ(word, "kilo");
}
}  // namespace
