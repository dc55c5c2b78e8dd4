// Packing and dumping: the bytes of an image, the dump modes and the errors of pack and dump.
#include <cstring>

#include "fmu_state_map.h"
#include "image_builder.h"
#include "tpl_fixture.h"

namespace {

using TplImage = TplTest;

uint32_t wordAt(const std::vector<uint8_t>& image, size_t offset) {
  uint32_t word;
  memcpy(&word, image.data() + offset, 4);
  return word;
}

TEST_F(TplImage, ArraysBlobsAndFixedLengthsByteForByte) {
  // "cA(vB)i#": c, then the array's count and elements (v, then the blob's length and bytes), then
  // the two ints of i#.
  char c = 'Q';
  uint16_t v = 0;
  tpl_blob blob = {nullptr, 0};
  int32_t ints[2] = {1, -1};
  tpl_map_node* map = tpl_map("cA(vB)i#", &c, &v, &blob, ints, 2);
  ASSERT_NE(map, nullptr);
  uint8_t bytes[2] = {0xAA, 0xBB};
  v = 0x0102, blob = {bytes, 2};
  ASSERT_EQ(tpl_pack(map, 1), 0);
  v = 0xFFFF, blob = {nullptr, 0};
  ASSERT_EQ(tpl_pack(map, 1), 0);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  const std::vector<uint8_t> expected = {
      't', 'p', 'l', 0x00, 48, 0, 0, 0,                 // magic, flags (no s), total length
      'c', 'A', '(', 'v', 'B', ')', 'i', '#', 0,       // format
      2, 0, 0, 0,                                       // the fixed length
      'Q',                                              // c
      2, 0, 0, 0,                                       // two elements
      0x02, 0x01, 2, 0, 0, 0, 0xAA, 0xBB,               // v, blob of 2
      0xFF, 0xFF, 0, 0, 0, 0,                           // v, empty blob
      1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,               // i#
  };
  EXPECT_EQ(dumpImage(map), expected);
  tpl_free_map(map);
}

TEST_F(TplImage, NestedArraysWithStringsAndRepeatedStructures) {
  struct CI { char c; int32_t i; };
  int16_t j = 0;
  char* s = nullptr;
  uint16_t v = 0;
  tpl_blob blob = {nullptr, 0};
  CI pairs[2] = {{'a', 10}, {'b', 20}};
  uint32_t u = 0xDEADBEEF;
  char c = 'z';
  tpl_map_node* map = tpl_map("cA(jsA(vB))S(ci)#u", &c, &j, &s, &v, &blob, pairs, 2, &u);
  ASSERT_NE(map, nullptr);
  char hello[] = "hello";
  uint8_t payload[3] = {1, 2, 3};
  // Outer element 1: j=-5, "hello", inner elements {7, payload} and {8, empty}.
  v = 7, blob = {payload, 3};
  ASSERT_EQ(tpl_pack(map, 2), 0);
  v = 8, blob = {nullptr, 0};
  ASSERT_EQ(tpl_pack(map, 2), 0);
  j = -5, s = hello;
  ASSERT_EQ(tpl_pack(map, 1), 0);
  // Outer element 2: j=6, a null string, no inner elements.
  j = 6, s = nullptr;
  ASSERT_EQ(tpl_pack(map, 1), 0);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  std::vector<uint8_t> expected = ImageBuilder()
                                      .header("cA(jsA(vB))S(ci)#u", 2, {2})
                                      .value('z')
                                      .u32(2)
                                      .value<int16_t>(-5).str("hello")
                                      .u32(2).value<uint16_t>(7).blob(payload, 3).value<uint16_t>(8).blob(nullptr, 0)
                                      .value<int16_t>(6).str(nullptr).u32(0)
                                      .value('a').value<int32_t>(10).value('b').value<int32_t>(20)
                                      .value(0xDEADBEEFu)
                                      .finish();
  EXPECT_EQ(dumpImage(map), expected);
  uint64_t size = 0;
  ASSERT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &size), 0);
  EXPECT_EQ(size, expected.size());
  tpl_free_map(map);
}

TEST_F(TplImage, FmuStateImageOfTheWorkedExample) {
  // All ten arrays of length 3, the strings "ab", "" and null, and a full ModelData block.
  FmuStateVariables state(std::vector<int>(10, 3), 3);
  for (int a = 0; a < 10; ++a)
    for (int k = 0; k < 3; ++k) state.arrays[a][static_cast<size_t>(k)] = a * 10 + k + 0.5;
  char ab[] = "ab", empty[] = "";
  state.strings = {ab, empty, nullptr};
  state.time = 12.25, state.levelReached = 3, state.mode = 6, state.inlineStepCounter = 0x0102030405060708u;
  state.flags[0] = 1, state.flags[3] = -1;
  state.solverReals[2] = 1e100;
  for (int i = 0; i < 11; ++i) state.solverInts[i] = i * i;
  std::vector<uint8_t> block(kModelDataSize);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  state.modelData = {block.data(), kModelDataSize};
  state.last = 0xFEDCBA9876543210u;

  tpl_map_node* map = state.map();
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  std::vector<uint8_t> image = dumpImage(map);
  tpl_free_map(map);

  ASSERT_EQ(image.size(), 882408u);
  EXPECT_EQ(image, state.expectedImage());
  EXPECT_EQ(image[3], 2);                 // strings in the format
  EXPECT_EQ(wordAt(image, 4), 882408u);   // total length
  EXPECT_EQ(wordAt(image, 62), 3u);       // first fixed length, right after the format's NUL
  EXPECT_EQ(wordAt(image, 102), 3u);      // the string count, last of the header
  // The strings follow the 240 bytes of the arrays at the data start 106.
  const uint8_t strings[] = {3, 0, 0, 0, 'a', 'b', 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(image.data() + 106 + 240, strings, sizeof strings), 0);
}

TEST_F(TplImage, FmuStateImageOfThisModel) {
  // The model's array lengths (each with its spare element) and one null string.
  FmuStateVariables state({3, 3, 16, 2, 2, 12, 11, 3, 1, 1}, 1);
  std::vector<uint8_t> block(kModelDataSize, 0x5A);
  state.modelData = {block.data(), kModelDataSize};
  state.time = -1.5;
  state.solverInts[1] = 0x400;
  state.last = 77;
  tpl_map_node* map = state.map();
  ASSERT_EQ(tpl_pack(map, 0), 0);
  std::vector<uint8_t> image = dumpImage(map);
  tpl_free_map(map);

  ASSERT_EQ(image.size(), 882590u);
  EXPECT_EQ(image, state.expectedImage());
  const uint8_t length[] = {0x9E, 0x77, 0x0D, 0x00};
  EXPECT_EQ(memcmp(image.data() + 4, length, 4), 0);
  EXPECT_EQ(wordAt(image, 538), 0u);  // the null string
  double time;
  memcpy(&time, image.data() + 542, 8);
  EXPECT_EQ(time, -1.5);
  EXPECT_EQ(wordAt(image, 618), 0x400u);  // SolverInts[1]
  const uint8_t blobLength[] = {0x00, 0x75, 0x0D, 0x00};
  EXPECT_EQ(memcmp(image.data() + 658, blobLength, 4), 0);
  EXPECT_EQ(image[662], 0x5A);
  EXPECT_EQ(wordAt(image, 882582), 77u);
}

TEST_F(TplImage, NeverPackedValuesDumpAsZerosNullStringsAndAnEmptyBlob) {
  int32_t i = 5;
  char* s = nullptr;
  tpl_blob blob = {nullptr, 0};
  tpl_map_node* map = tpl_map("isB", &i, &s, &blob);
  const std::vector<uint8_t> expected = {'t', 'p', 'l', 2, 24, 0, 0, 0, 'i', 's', 'B', 0,
                                         0,   0,   0,   0, 0,  0, 0, 0, 0,   0,   0,   0};
  EXPECT_EQ(dumpImage(map), expected);
  tpl_free_map(map);
}

TEST_F(TplImage, DumpModesAgreeOnTheSizeAndPreallocatedBuffersAreBounded) {
  int32_t values[3] = {1, 2, 3};
  char text[] = "xyz";
  char* s = text;
  tpl_map_node* map = tpl_map("i#s", values, 3, &s);
  ASSERT_EQ(tpl_pack(map, 0), 0);

  uint64_t sizeOnly = 0;
  ASSERT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &sizeOnly), 0);
  std::vector<uint8_t> image = dumpImage(map);
  EXPECT_EQ(sizeOnly, image.size());
  EXPECT_EQ(sizeOnly, 8u + 4 + 4 + 12 + 4 + 3);  // header, format, length, values, string

  // An exact buffer and a larger one: the image fills the front, the rest is left alone.
  std::vector<uint8_t> roomy(image.size() + 16, 0xEE);
  ASSERT_EQ(tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, roomy.data(), roomy.size()), 0);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), roomy.begin()));
  EXPECT_EQ(std::count(roomy.begin() + static_cast<long>(image.size()), roomy.end(), 0xEE), 16);

  // One byte short: refused, nothing written.
  std::vector<uint8_t> tight(image.size() - 1, 0xEE);
  EXPECT_EQ(tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, tight.data(), tight.size()), -1);
  EXPECT_EQ(reports, "tpl_dump: buffer too small, need 35 bytes\n");
  EXPECT_EQ(std::count(tight.begin(), tight.end(), 0xEE), static_cast<long>(tight.size()));
  tpl_free_map(map);
}

TEST_F(TplImage, DumpRefusesModesWithoutADumpBit) {
  int32_t i = 0;
  tpl_map_node* map = tpl_map("i", &i);
  for (int mode : {0, +TPL_MODE_PREALLOCATED, +TPL_MODE_EXCESS_OK, +TPL_MODE_FREE_BUFFER}) {
    reports.clear();
    uint64_t size = 0;
    EXPECT_EQ(tpl_dump(map, mode, &size), -1);
    EXPECT_EQ(reports, "unsupported tpl_dump mode " + std::to_string(mode) + "\n");
  }
  tpl_free_map(map);
}

TEST_F(TplImage, DumpRefusesALoadedMap) {
  int32_t i = 4;
  tpl_map_node* map = tpl_map("i", &i);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  std::vector<uint8_t> image = dumpImage(map);
  ASSERT_EQ(loadCopy(map, image), 0);
  uint64_t size = 0;
  EXPECT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &size), -1);
  EXPECT_EQ(reports, "error: tpl_dump called for a loaded tpl\n");
  // Packing again makes it a packable map once more.
  ASSERT_EQ(tpl_pack(map, 0), 0);
  EXPECT_EQ(dumpImage(map), image);
  tpl_free_map(map);
}

TEST_F(TplImage, PackRejectsIndexesThatNameNoArray) {
  int32_t i = 0;
  tpl_map_node* plain = tpl_map("i", &i);
  tpl_map_node* withArray = tpl_map("A(i)", &i);
  struct Case {
    tpl_map_node* map;
    int index;
  } cases[] = {{plain, 1}, {plain, -1}, {withArray, 2}, {withArray, -1}, {nullptr, 0}};
  for (const Case& c : cases) {
    reports.clear();
    EXPECT_EQ(tpl_pack(c.map, c.index), -1);
    EXPECT_EQ(reports, "invalid index " + std::to_string(c.index) + " to tpl_pack\n");
  }
  tpl_free_map(plain);
  tpl_free_map(withArray);
}

TEST_F(TplImage, PackingAgainReplacesTheCopiesOfStringsAndBlobs) {
  char first[] = "first", second[] = "second one";
  char* s = first;
  uint8_t a[4] = {1, 2, 3, 4}, b[2] = {9, 8};
  tpl_blob blob = {a, 4};
  tpl_map_node* map = tpl_map("sB", &s, &blob);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  long heldAfterFirst = liveBlocks;
  s = second, blob = {b, 2};
  first[0] = 'X';  // the packed copy does not follow the variable
  ASSERT_EQ(tpl_pack(map, 0), 0);
  EXPECT_EQ(liveBlocks.load(), heldAfterFirst);
  EXPECT_EQ(dumpImage(map), ImageBuilder().header("sB", 2, {}).str("second one").blob(b, 2).finish());
  tpl_free_map(map);
}

TEST_F(TplImage, AllMemoryComesFromTheAllocationHooks) {
  // The fixture's counting hooks see every block; after the release none is left (checked on
  // tear-down), and a map with values does allocate through them.
  FmuStateVariables state(std::vector<int>(10, 2), 2);
  char name[] = "n";
  state.strings[0] = name;
  uint8_t bytes[8] = {};
  state.modelData = {bytes, 8};
  tpl_map_node* map = state.map();
  ASSERT_EQ(tpl_pack(map, 0), 0);
  EXPECT_GT(allocations.load(), 10);
  std::vector<uint8_t> image = dumpImage(map);
  ASSERT_EQ(loadCopy(map, image), 0);
  tpl_free_map(map);
}

}  // namespace
