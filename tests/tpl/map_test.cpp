// Maps: which formats parse, how structure fields are laid out in the caller's memory, and the
// fatal format errors.
#include <cstring>

#include "image_builder.h"
#include "tpl_fixture.h"

namespace {

using TplMap = TplTest;

TEST_F(TplMap, MalformedFormatsFailAndReleaseEverything) {
  const char* formats[] = {
      "A(i)#",  "B#",     "A#",        "(i)",      "S(i",      "S(",       ")",
      "Ai",     "A()",    "S()",       "S(iB)",    "S(iA(i))", "S(iS(i))", "$(i)",
      "#",      "iS(#i)", "A(i",       "A(i))",    "S(i$)",    "S(i$())",  "A",
      "S",      "i$(i)",  "A(i)S(i)A", "AA(i))", "S(i)(i)",
  };
  int values[8] = {};
  for (const char* format : formats) {
    reports.clear();
    tpl_map_node* map = tpl_map(format, values, values + 1, values + 2, values + 3);
    EXPECT_EQ(map, nullptr) << format;
    EXPECT_EQ(reports, std::string("failed to parse ") + format + "\n");
    EXPECT_EQ(liveBlocks.load(), 0) << format;
  }
}

TEST_F(TplMap, CharacterOutsideTheSetIsReportedBeforeTheParseFailure) {
  int value = 0;
  EXPECT_EQ(tpl_map("iz", &value), nullptr);
  EXPECT_EQ(reports, "unsupported option z\nfailed to parse iz\n");
}

TEST_F(TplMap, LengthsWhoseProductOverflowsAnIntFailTheParse) {
  EXPECT_EQ(tpl_map("c##", nullptr, 65536, 65536), nullptr);
  EXPECT_EQ(reports, "failed to parse c##\n");
}

TEST_F(TplMap, WellFormedFormatsParse) {
  struct Case {
    const char* format;
  } cases[] = {{"i"}, {"s"}, {"B"}, {"A(i)"}, {"A(A(i))"}, {"A(S(ci))"}, {"S(c$(i$(f)))"}, {"i##"}};
  int a[64] = {};
  tpl_blob blob{};
  for (const Case& c : cases) {
    tpl_map_node* map = strcmp(c.format, "B") == 0 ? tpl_map(c.format, &blob)
                        : strcmp(c.format, "i##") == 0 ? tpl_map(c.format, a, 2, 3)
                                                        : tpl_map(c.format, a, a + 8, a + 16);
    EXPECT_NE(map, nullptr) << c.format;
    tpl_free_map(map);
  }
  EXPECT_EQ(reports, "");
}

TEST_F(TplMap, ArraysAreIndexedInOrderOfAppearanceOuterFirst) {
  int32_t inner = 0;
  tpl_map_node* map = tpl_map("A(A(i))", &inner);
  ASSERT_NE(map, nullptr);
  // Two elements into the inner array, then one outer element that takes them along.
  inner = 7;
  ASSERT_EQ(tpl_pack(map, 2), 0);
  inner = 8;
  ASSERT_EQ(tpl_pack(map, 2), 0);
  ASSERT_EQ(tpl_pack(map, 1), 0);
  std::vector<uint8_t> expected =
      ImageBuilder().header("A(A(i))", 0, {}).u32(1).u32(2).value<int32_t>(7).value<int32_t>(8).finish();
  EXPECT_EQ(dumpImage(map), expected);
  tpl_free_map(map);
}

TEST(TplMapFatal, NonPositiveLengthEndsTheProcess) {
  int value = 0;
  EXPECT_EXIT(tpl_map("i#", &value, 0), testing::ExitedWithCode(255), "non-positive iteration count 0\n");
  EXPECT_EXIT(tpl_map("S(i)#", &value, -3), testing::ExitedWithCode(255), "non-positive iteration count -3\n");
}

TEST(TplMapFatal, ElevenContiguousLengthsEndTheProcess) {
  char value[4096];
  EXPECT_EXIT(tpl_map("c###########", value, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), testing::ExitedWithCode(255),
              "contiguous # exceeds hardcoded limit\n");
  // Ten are still allowed.
  tpl_map_node* map = tpl_map("c##########", value, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2);
  EXPECT_NE(map, nullptr);
  tpl_free_map(map);
}

// ---- Structure layout: each case maps an array of C structs and checks that the image holds
// exactly the fields, element by element, and that unpacking restores the array.

template <typename T, size_t N>
void expectStructImage(const char* format, int lengthArgs, T (&in)[N], const std::vector<uint8_t>& expected) {
  auto map = [&](T* base) {
    return lengthArgs == 0 ? tpl_map(format, base) : tpl_map(format, base, lengthArgs);
  };
  tpl_map_node* writer = map(in);
  ASSERT_NE(writer, nullptr) << format;
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  std::vector<uint8_t> image = TplTest::dumpImage(writer);
  EXPECT_EQ(image, expected) << format;
  tpl_free_map(writer);

  T out[N];
  memset(out, 0, sizeof out);
  tpl_map_node* reader = map(out);
  ASSERT_EQ(TplTest::loadCopy(reader, image), 0) << TplTest::reports;
  EXPECT_EQ(tpl_unpack(reader, 0), 1);
  EXPECT_EQ(memcmp(in, out, sizeof out), 0) << format;
  tpl_free_map(reader);
}

TEST_F(TplMap, StructureFieldsLieAtAlignedOffsetsAndRepeatByTheStride) {
  struct CI { char c; int32_t i; };  // c 0, i 4, stride 8
  CI ci[3];
  memset(ci, 0, sizeof ci);
  ci[0] = {'x', 1}, ci[1] = {'y', -2}, ci[2] = {'z', 300};
  expectStructImage("S(ci)#", 3, ci,
                    ImageBuilder().header("S(ci)#", 0, {3}).value('x').value<int32_t>(1).value('y')
                        .value<int32_t>(-2).value('z').value<int32_t>(300).finish());

  struct CIF { char c; int32_t i; double f; };  // c 0, i 4, f 8, stride 16
  CIF cif[2];
  memset(cif, 0, sizeof cif);
  cif[0] = {'a', 5, 0.25}, cif[1] = {'b', 6, -1e300};
  expectStructImage("S(cif)#", 2, cif,
                    ImageBuilder().header("S(cif)#", 0, {2}).value('a').value<int32_t>(5).value(0.25)
                        .value('b').value<int32_t>(6).value(-1e300).finish());

  // A $ group continues the offsets: j lands after the double, the stride pads to 8.
  struct Grouped { char c; int32_t i; double f; int16_t j; };  // c 0, i 4, f 8, j 16, stride 24
  Grouped g[2];
  memset(g, 0, sizeof g);
  g[0] = {'p', 9, 1.5, -7}, g[1] = {'q', 10, 2.5, 8};
  expectStructImage("S(c$(if)j)#", 2, g,
                    ImageBuilder().header("S(c$(if)j)#", 0, {2}).value('p').value<int32_t>(9).value(1.5)
                        .value<int16_t>(-7).value('q').value<int32_t>(10).value(2.5).value<int16_t>(8).finish());

  struct JCI64 { int16_t j; char c; int64_t big; };  // j 0, c 2, big 8, stride 16
  JCI64 jc[2];
  memset(jc, 0, sizeof jc);
  jc[0] = {-1, 'm', INT64_MIN}, jc[1] = {2, 'n', INT64_MAX};
  expectStructImage("S(jcI)#", 2, jc,
                    ImageBuilder().header("S(jcI)#", 0, {2}).value<int16_t>(-1).value('m').value(INT64_MIN)
                        .value<int16_t>(2).value('n').value(INT64_MAX).finish());

  struct UV { uint32_t u; uint16_t v; };  // u 0, v 4, stride 8
  UV uv[2];
  memset(uv, 0, sizeof uv);
  uv[0] = {0xFFFFFFFFu, 0xFFFF}, uv[1] = {1, 2};
  expectStructImage("S(uv)#", 2, uv,
                    ImageBuilder().header("S(uv)#", 0, {2}).value(0xFFFFFFFFu).value<uint16_t>(0xFFFF)
                        .value(1u).value<uint16_t>(2).finish());

  // A single structure needs no '#'.
  struct CF { char c; double f; };
  CF cf[1];
  memset(cf, 0, sizeof cf);
  cf[0] = {'k', 3.75};
  expectStructImage("S(cf)", 0, cf, ImageBuilder().header("S(cf)", 0, {}).value('k').value(3.75).finish());
}

TEST_F(TplMap, FixedLengthFieldInsideARepeatedStructure) {
  struct Row { char c; int32_t i[3]; double f; };  // c 0, i 4..15, f 16, stride 24
  Row rows[2];
  memset(rows, 0, sizeof rows);
  rows[0] = {'a', {1, 2, 3}, 0.5};
  rows[1] = {'b', {4, 5, 6}, 1.5};
  tpl_map_node* map = tpl_map("S(ci#f)#", rows, 3, 2);
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  EXPECT_EQ(dumpImage(map), ImageBuilder()
                                .header("S(ci#f)#", 0, {3, 2})
                                .value('a').values<int32_t>({1, 2, 3}).value(0.5)
                                .value('b').values<int32_t>({4, 5, 6}).value(1.5)
                                .finish());
  tpl_free_map(map);
}

TEST_F(TplMap, StringFieldsOfRepeatedStructures) {
  struct Named { char c; char* name; };  // c 0, name 8, stride 16
  char first[] = "first";
  Named in[2] = {{'1', first}, {'2', nullptr}};
  tpl_map_node* writer = tpl_map("S(cs)#", in, 2);
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  std::vector<uint8_t> image = dumpImage(writer);
  EXPECT_EQ(image, ImageBuilder().header("S(cs)#", 2, {2}).value('1').str("first").value('2').str(nullptr).finish());
  tpl_free_map(writer);

  Named out[2] = {};
  tpl_map_node* reader = tpl_map("S(cs)#", out, 2);
  ASSERT_EQ(loadCopy(reader, image), 0);
  ASSERT_EQ(tpl_unpack(reader, 0), 1);
  EXPECT_EQ(out[0].c, '1');
  ASSERT_NE(out[0].name, nullptr);
  EXPECT_STREQ(out[0].name, "first");
  EXPECT_EQ(out[1].c, '2');
  EXPECT_EQ(out[1].name, nullptr);
  tpl_hooks.free(out[0].name);
  tpl_free_map(reader);
}

}  // namespace
