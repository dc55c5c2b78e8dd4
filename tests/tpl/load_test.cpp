// Loading: the check of an image against a map, with its result codes, and what tpl_load makes
// of them. Images are handed over in blocks of exactly their size, so any read past the end is
// caught by the address sanitizer.
#include <cstring>
#include <functional>

#include "fmu_state_map.h"
#include "image_builder.h"
#include "records.h"
#include "tpl_fixture.h"

namespace {

using TplLoad = TplTest;
using Image = std::vector<uint8_t>;

// The check's code for an image (the map is left without an image).
int checkCode(tpl_map_node* map, const Image& image, bool excess = false) {
  uint8_t* copy = static_cast<uint8_t*>(malloc(image.empty() ? 1 : image.size()));
  if (!image.empty()) memcpy(copy, image.data(), image.size());
  tpl_root(map)->image = {copy, image.size()};
  int code = tpl_check_image(map, excess);
  tpl_root(map)->image = tpl_mapped_image{};
  tpl_root(map)->flags = 0;
  free(copy);
  return code;
}

void setWord(Image& image, size_t offset, uint32_t value) { memcpy(image.data() + offset, &value, 4); }

// "A(i)s#B" with one element 5, the strings "ab" and "cde" and the blob {1, 2}:
//   0 header (8), 8 format (8), 16 fixed length 2, 20 element count, 24 the element,
//   28 "ab" (4 + 2), 34 "cde" (4 + 3), 41 blob (4 + 2), 47 end.
struct CheckFixture {
  int32_t i = 0;
  char* strings[2] = {};
  tpl_blob blob = {};
  tpl_map_node* map = tpl_map("A(i)s#B", &i, strings, 2, &blob);
  ~CheckFixture() { tpl_free_map(map); }

  static Image valid() {
    const uint8_t bytes[2] = {1, 2};
    return ImageBuilder()
        .header("A(i)s#B", 2, {2})
        .u32(1).value<int32_t>(5)
        .str("ab").str("cde")
        .blob(bytes, 2)
        .finish();
  }
};

TEST_F(TplLoad, CheckGivesTheCodeOfTheFirstFailingTest) {
  struct Case {
    const char* what;
    std::function<void(Image&)> change;
    bool excess;
    int code;
  } cases[] = {
      {"intact", [](Image&) {}, false, 0},
      {"8 bytes", [](Image& m) { m.resize(8); }, false, -1},
      {"empty", [](Image& m) { m.clear(); }, false, -1},
      {"wrong magic", [](Image& m) { m[2] = 'x'; }, false, -2},
      {"unknown flag bit", [](Image& m) { m[3] = 0x06; }, false, -11},
      {"high flag bit", [](Image& m) { m[3] = 0x82; }, false, -11},
      {"length word one more", [](Image& m) { setWord(m, 4, 48); }, false, -3},
      {"length word one less", [](Image& m) { setWord(m, 4, 46); }, false, -3},
      {"character outside the set", [](Image& m) { m[9] = '?'; }, false, -4},
      {"format without its NUL", [](Image& m) { m.resize(11); setWord(m, 4, 11); }, false, -5},
      {"other format character", [](Image& m) { m[10] = 'u'; }, false, -6},
      {"fixed lengths cut off", [](Image& m) { m.resize(18); setWord(m, 4, 18); }, false, -10},
      {"other fixed length", [](Image& m) { setWord(m, 16, 3); }, false, -7},
      {"last string claims more than remains", [](Image& m) { setWord(m, 34, 100); }, false, -8},
      {"string length word near 2^32", [](Image& m) { setWord(m, 34, 0xFFFFFFFFu); }, false, -8},
      {"blob length lies", [](Image& m) { setWord(m, 41, 3); }, false, -8},
      {"element count lies", [](Image& m) { setWord(m, 20, 0xFFFFFFFFu); }, false, -8},
      {"data cut off", [](Image& m) { m.resize(45); setWord(m, 4, 45); }, false, -8},
      {"bytes after the data", [](Image& m) { m.resize(57, 0); setWord(m, 4, 57); }, false, -9},
      {"spare bytes", [](Image& m) { m.resize(57, 0); }, false, -3},
      {"spare bytes, excess allowed", [](Image& m) { m.resize(57, 0); }, true, 0},
      {"cut off, excess allowed", [](Image& m) { m.resize(45); }, true, -8},
  };
  CheckFixture fixture;
  ASSERT_NE(fixture.map, nullptr);
  for (const Case& c : cases) {
    Image image = CheckFixture::valid();
    ASSERT_EQ(image.size(), 47u);
    c.change(image);
    EXPECT_EQ(checkCode(fixture.map, image, c.excess), c.code) << c.what;
  }
}

TEST_F(TplLoad, LoadReducesTheCodesToTwoMessagesAndKeepsNoImage) {
  CheckFixture fixture;
  struct Case {
    std::function<void(Image&)> change;
    const char* report;
  } cases[] = {
      {[](Image& m) { m[10] = 'u'; }, "format signature mismatch\n"},
      {[](Image& m) { m.resize(8); }, "not a valid tpl file\n"},
      {[](Image& m) { m[0] = 'T'; }, "not a valid tpl file\n"},
      {[](Image& m) { setWord(m, 16, 3); }, "not a valid tpl file\n"},
      {[](Image& m) { setWord(m, 34, 100); }, "not a valid tpl file\n"},
  };
  for (const Case& c : cases) {
    Image image = CheckFixture::valid();
    c.change(image);
    reports.clear();
    EXPECT_EQ(loadCopy(fixture.map, image), -1);
    EXPECT_EQ(reports, c.report);
    // Nothing was loaded, so there is nothing to unpack.
    EXPECT_EQ(tpl_unpack(fixture.map, 0), -1);
  }
}

TEST_F(TplLoad, ImagesOfOtherFixedLengthsOrFormatsAreRefused) {
  double three[3] = {1, 2, 3}, four[4] = {};
  tpl_map_node* writer = tpl_map("f#", three, 3);
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  Image image = dumpImage(writer);
  tpl_free_map(writer);

  tpl_map_node* reader = tpl_map("f#", four, 4);
  EXPECT_EQ(checkCode(reader, image), -7);
  EXPECT_EQ(loadCopy(reader, image), -1);
  EXPECT_EQ(reports, "not a valid tpl file\n");
  tpl_free_map(reader);

  int64_t ints[3] = {};
  reader = tpl_map("I#", ints, 3);
  reports.clear();
  EXPECT_EQ(checkCode(reader, image), -6);
  EXPECT_EQ(loadCopy(reader, image), -1);
  EXPECT_EQ(reports, "format signature mismatch\n");
  tpl_free_map(reader);
}

TEST_F(TplLoad, SpareBytesLoadOnlyWithExcessAllowed) {
  CheckFixture fixture;
  Image image = CheckFixture::valid();
  image.resize(image.size() + 10, 0);
  EXPECT_EQ(loadCopy(fixture.map, image), -1);
  EXPECT_EQ(reports, "not a valid tpl file\n");
  ASSERT_EQ(loadCopy(fixture.map, image, TPL_MODE_EXCESS_OK), 0);
  EXPECT_EQ(tpl_unpack(fixture.map, 0), 1);
  EXPECT_EQ(tpl_unpack(fixture.map, 1), 1);
  EXPECT_EQ(fixture.i, 5);
  EXPECT_STREQ(fixture.strings[1], "cde");
  for (char* s : fixture.strings) tpl_hooks.free(s);
  tpl_hooks.free(fixture.blob.bytes);
}

// Every prefix of a valid image, as it is and with its length word made to fit, is refused
// without a read beyond it.
void expectEveryPrefixRefused(tpl_map_node* map, const Image& image) {
  for (size_t size = 0; size < image.size(); ++size) {
    Image prefix(image.begin(), image.begin() + static_cast<long>(size));
    TplTest::reports.clear();
    EXPECT_EQ(TplTest::loadCopy(map, prefix), -1) << size;
    EXPECT_EQ(TplTest::reports, "not a valid tpl file\n") << size;
    if (size >= 8) {
      setWord(prefix, 4, static_cast<uint32_t>(size));
      EXPECT_EQ(TplTest::loadCopy(map, prefix), -1) << size;
      EXPECT_LT(checkCode(map, prefix), 0) << size;
    }
  }
  EXPECT_EQ(TplTest::loadCopy(map, image), 0);
}

TEST_F(TplLoad, TruncatedImagesAreRefused) {
  CheckFixture fixture;
  expectEveryPrefixRefused(fixture.map, CheckFixture::valid());

  FmuStateVariables state({3, 3, 16, 2, 2, 12, 11, 3, 1, 1}, 2);
  char text[] = "text";
  state.strings[0] = text;
  uint8_t block[16] = {1, 2, 3};
  state.modelData = {block, sizeof block};
  tpl_map_node* map = state.map();
  ASSERT_EQ(tpl_pack(map, 0), 0);
  Image image = dumpImage(map);
  expectEveryPrefixRefused(map, image);
  tpl_free_map(map);
}

TEST_F(TplLoad, LoadRefusesModesWithoutALoadBit) {
  CheckFixture fixture;
  Image image = CheckFixture::valid();
  for (int mode : {0, +TPL_MODE_EXCESS_OK, +TPL_MODE_FREE_BUFFER, +TPL_MODE_SIZE_ONLY}) {
    reports.clear();
    EXPECT_EQ(tpl_load(fixture.map, mode, image.data(), image.size()), -1);
    EXPECT_EQ(reports, "unsupported tpl_load mode " + std::to_string(mode) + "\n");
  }
}

TEST_F(TplLoad, LoadingAgainReplacesTheEarlierImage) {
  int32_t value = 1;
  tpl_map_node* map = tpl_map("i", &value);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  Image one = dumpImage(map);
  value = 2;
  ASSERT_EQ(tpl_pack(map, 0), 0);
  Image two = dumpImage(map);
  // Both copies are handed to the map; the first is freed by the second load.
  ASSERT_EQ(loadCopy(map, one), 0);
  ASSERT_EQ(loadCopy(map, two), 0);
  value = 0;
  EXPECT_EQ(tpl_unpack(map, 0), 1);
  EXPECT_EQ(value, 2);
  tpl_free_map(map);
}

TEST_F(TplLoad, ABufferNotHandedOverStaysTheCallers) {
  int32_t value = 9;
  tpl_map_node* map = tpl_map("i", &value);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  Image image = dumpImage(map);
  ASSERT_EQ(tpl_load(map, TPL_MODE_MEMORY, image.data(), image.size()), 0);
  value = 0;
  EXPECT_EQ(tpl_unpack(map, 0), 1);
  EXPECT_EQ(value, 9);
  tpl_free_map(map);  // must not free the vector's storage (the hooks' count would go negative)
  EXPECT_EQ(image[0], 't');
}

}  // namespace
