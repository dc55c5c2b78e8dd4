// The model's string-variable storage in ModelData.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "guarded_call.h"
#include "matrixop.h"
#include "model.h"

namespace {

using Texts = std::vector<std::string>;

class StringVariables : public ::testing::Test {
 protected:
  void SetUp() override { copyModelData(record.get()); }
  std::unique_ptr<ModelData> record{new ModelData};
  RuntimeMessageRecorder recorder;
};

TEST_F(StringVariables, ASlotHoldsFourHundredNinetyNineCharacters) {
  struct Case {
    size_t length;
    Texts messages;
  } cases[] = {
      {0, {}},
      {499, {}},
      {500, {"Truncated string variable to", std::string(499, 'x')}},
      {2000, {"Truncated string variable to", std::string(499, 'x')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    recorder.messages.clear();
    const std::string text(c.length, 'x');
    setStringVariable(record.get(), text.c_str(), 0);
    EXPECT_EQ(getStringVariable(record.get(), 0), text.substr(0, 499));
    EXPECT_EQ(recorder.texts(), c.messages);
  }
}

TEST_F(StringVariables, BadIndicesChangeNothing) {
  setStringVariable(record.get(), "kept", 0);
  for (int index : {-1, 1, 1000}) {
    SCOPED_TRACE(index);
    recorder.messages.clear();
    setStringVariable(record.get(), "lost", index);
    EXPECT_EQ(recorder.texts(), (Texts{"Internal error in String handling."}));
    EXPECT_STREQ(getStringVariable(record.get(), index), "");
  }
  EXPECT_STREQ(getStringVariable(record.get(), 0), "kept");
}

TEST_F(StringVariables, ArraysMustFitTheSlotsFromTheirIndexOn) {
  char first[] = "first";
  char second[] = "second";
  char* elements[] = {first, second};
  struct Case {
    int size;
    int index;
    const char* slot0;
    Texts messages;
  } cases[] = {
      {2, 0, "before", {"Internal error in String array handling."}},
      {1, 1, "before", {"Internal error in String array handling."}},
      {1, -1, "before", {"Internal error in String array handling."}},
      {1, 0, "first", {}},
      {0, 0, "before", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size * 10 + c.index);
    setStringVariable(record.get(), "before", 0);
    recorder.messages.clear();
    int dims[1] = {c.size};
    StringArray array = {1, dims, elements};
    setStringArrayVariable(record.get(), &array, c.index);
    EXPECT_STREQ(getStringVariable(record.get(), 0), c.slot0);
    EXPECT_EQ(recorder.texts(), c.messages);
  }
}

TEST_F(StringVariables, ACopiedRecordWritesIntoItsOwnSlots) {
  setStringVariable(record.get(), "original", 0);
  // An FMU state copies the record whole, the table's pointers included.
  std::unique_ptr<ModelData> copy(new ModelData(*record));
  ASSERT_EQ(copy->stringTable[0], record->stringSlots[0]);
  setStringVariable(copy.get(), "copy", 0);
  EXPECT_STREQ(getStringVariable(copy.get(), 0), "copy");
  EXPECT_STREQ(getStringVariable(record.get(), 0), "original");
  EXPECT_EQ(copy->stringTable[0], copy->stringSlots[0]);
}

}  // namespace
