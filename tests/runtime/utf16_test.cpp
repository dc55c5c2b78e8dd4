// UTF-8 to UTF-16 conversion.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "utf16.h"

namespace {
TEST(Utf8ToWide, ConvertsOneToThreeByteSequences) {
  struct Case {
    const char* utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"path/a.so", u"path/a.so"},
      {"\xC3\xA9", u"\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"A\xC3\xA9z\xE2\x82\xAC!", u"A\u00E9z\u20AC!"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      // A text that ends inside a sequence keeps the characters before it.
      {"x\xC3", u"x"},
      {"x\xE2", u"x"},
      {"x\xE2\x82", u"x"},
  };
  for (const Case& c : cases) {
    // A heap copy of exactly the text's size, so that reading past its end is caught.
    char* text = strdup(c.utf8);
    char16_t* wide = Utf8ToWide(text);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::u16string(wide), c.utf16) << c.utf8;
    free(wide);
    free(text);
  }
}

TEST(Utf8ToWide, NullGivesNull) { EXPECT_EQ(Utf8ToWide(nullptr), nullptr); }
}  // namespace
