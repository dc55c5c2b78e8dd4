// Unpacking: round trips of every element type, arrays element by element, images of the other
// byte order and of the older string convention, and who owns what is unpacked.
#include <cstring>
#include <limits>

#include "fmu_state_map.h"
#include "image_builder.h"
#include "tpl_fixture.h"

namespace {

using TplUnpack = TplTest;
using Image = std::vector<uint8_t>;

// Dumps what the writer packed and loads it into the reader.
void transfer(tpl_map_node* writer, tpl_map_node* reader) {
  Image image = TplTest::dumpImage(writer);
  ASSERT_EQ(TplTest::loadCopy(reader, image), 0) << TplTest::reports;
}

struct Scalars {
  int32_t i;
  uint32_t u;
  char c;
  int16_t j;
  uint16_t v;
  int64_t I;
  uint64_t U;
  double f;
  tpl_map_node* map() { return tpl_map("iucjvIUf", &i, &u, &c, &j, &v, &I, &U, &f); }
};

TEST_F(TplUnpack, ScalarsOfEveryTypeRoundTrip) {
  const Scalars cases[] = {
      {INT32_MIN, 0, '\0', INT16_MIN, 0, INT64_MIN, 0, -0.0},
      {INT32_MAX, UINT32_MAX, '\xff', INT16_MAX, UINT16_MAX, INT64_MAX, UINT64_MAX,
       std::numeric_limits<double>::infinity()},
      {-1, 1, 'a', -1, 1, -1, 1, 1e-310},
  };
  for (const Scalars& c : cases) {
    Scalars in = c, out = {};
    tpl_map_node* writer = in.map();
    tpl_map_node* reader = out.map();
    ASSERT_EQ(tpl_pack(writer, 0), 0);
    transfer(writer, reader);
    ASSERT_EQ(tpl_unpack(reader, 0), 1);
    EXPECT_EQ(out.i, in.i);
    EXPECT_EQ(out.u, in.u);
    EXPECT_EQ(out.c, in.c);
    EXPECT_EQ(out.j, in.j);
    EXPECT_EQ(out.v, in.v);
    EXPECT_EQ(out.I, in.I);
    EXPECT_EQ(out.U, in.U);
    EXPECT_EQ(memcmp(&in.f, &out.f, sizeof(double)), 0);  // keeps the sign of -0.0
    tpl_free_map(writer);
    tpl_free_map(reader);
  }
}

TEST_F(TplUnpack, FixedArraysOfEveryTypeRoundTrip) {
  struct Arrays {
    int32_t i[2];
    uint32_t u[3];
    char c[5];
    int16_t j[2];
    uint16_t v[2];
    int64_t I[2];
    uint64_t U[2];
    double f[4];
    tpl_map_node* map() {
      return tpl_map("i#u#c#j#v#I#U#f#", i, 2, u, 3, c, 5, j, 2, v, 2, I, 2, U, 2, f, 4);
    }
  } in = {{-7, 7}, {1, 2, 3}, {'h', 'e', 'l', 'l', 'o'}, {-300, 300}, {1, 65535},
          {INT64_MIN, 5}, {UINT64_MAX, 6}, {0.5, -0.25, 1e300, -1e-300}},
    out = {};
  tpl_map_node* writer = in.map();
  tpl_map_node* reader = out.map();
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  transfer(writer, reader);
  ASSERT_EQ(tpl_unpack(reader, 0), 1);
  EXPECT_EQ(memcmp(in.i, out.i, sizeof in.i), 0);
  EXPECT_EQ(memcmp(in.u, out.u, sizeof in.u), 0);
  EXPECT_EQ(memcmp(in.c, out.c, sizeof in.c), 0);
  EXPECT_EQ(memcmp(in.j, out.j, sizeof in.j), 0);
  EXPECT_EQ(memcmp(in.v, out.v, sizeof in.v), 0);
  EXPECT_EQ(memcmp(in.I, out.I, sizeof in.I), 0);
  EXPECT_EQ(memcmp(in.U, out.U, sizeof in.U), 0);
  EXPECT_EQ(memcmp(in.f, out.f, sizeof in.f), 0);
  tpl_free_map(writer);
  tpl_free_map(reader);
}

TEST_F(TplUnpack, StringsKeepEmptyAndNullApart) {
  std::string longText(1000, 'q');
  char empty[] = "", word[] = "text";
  char* in[4] = {empty, nullptr, word, longText.data()};
  char sentinel[] = "old";
  char* out[4] = {sentinel, sentinel, sentinel, sentinel};
  tpl_map_node* writer = tpl_map("s#", in, 4);
  tpl_map_node* reader = tpl_map("s#", out, 4);
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  transfer(writer, reader);
  ASSERT_EQ(tpl_unpack(reader, 0), 1);
  ASSERT_NE(out[0], nullptr);
  EXPECT_STREQ(out[0], "");
  EXPECT_EQ(out[1], nullptr);
  EXPECT_STREQ(out[2], "text");
  EXPECT_EQ(out[3], longText);
  // Each string is a new buffer of the caller's.
  EXPECT_NE(out[2], word);
  for (char* s : out) tpl_hooks.free(s);
  tpl_free_map(writer);
  tpl_free_map(reader);
}

TEST_F(TplUnpack, BlobsRoundTripAsNewBuffers) {
  const uint8_t withZeros[] = {0, 1, 0, 2, 0};
  struct Case {
    const uint8_t* bytes;
    uint32_t length;
  } cases[] = {{withZeros, 5}, {nullptr, 0}};
  for (const Case& c : cases) {
    tpl_blob in = {const_cast<uint8_t*>(c.bytes), c.length};
    uint8_t marker = 0;
    tpl_blob out = {&marker, 99};
    tpl_map_node* writer = tpl_map("B", &in);
    tpl_map_node* reader = tpl_map("B", &out);
    ASSERT_EQ(tpl_pack(writer, 0), 0);
    transfer(writer, reader);
    ASSERT_EQ(tpl_unpack(reader, 0), 1);
    EXPECT_EQ(out.length, c.length);
    if (c.length == 0) {
      EXPECT_EQ(out.bytes, nullptr);
    } else {
      ASSERT_NE(out.bytes, nullptr);
      EXPECT_NE(out.bytes, in.bytes);
      EXPECT_EQ(memcmp(out.bytes, c.bytes, c.length), 0);
    }
    tpl_hooks.free(out.bytes);
    tpl_free_map(writer);
    tpl_free_map(reader);
  }
}

TEST_F(TplUnpack, ArrayElementsComeBackInOrderUntilNoneIsLeft) {
  int32_t i = 0;
  char* s = nullptr;
  tpl_map_node* map = tpl_map("A(is)", &i, &s);
  char a[] = "a", b[] = "bb";
  char* texts[3] = {a, nullptr, b};
  for (int k = 0; k < 3; ++k) {
    i = 10 + k, s = texts[k];
    ASSERT_EQ(tpl_pack(map, 1), 0);
  }
  // Unpacking a packed map goes through its own image.
  i = 0, s = nullptr;
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(tpl_unpack(map, 1), 3 - k);
    EXPECT_EQ(i, 10 + k);
    if (texts[k] == nullptr) {
      EXPECT_EQ(s, nullptr);
    } else {
      EXPECT_STREQ(s, texts[k]);
    }
    tpl_hooks.free(s);
  }
  i = -1;
  EXPECT_EQ(tpl_unpack(map, 1), 0);
  EXPECT_EQ(i, -1);
  tpl_free_map(map);
}

TEST_F(TplUnpack, NestedArraysUnpackPerOuterElement) {
  int16_t j = 0;
  uint16_t v = 0;
  tpl_blob blob = {nullptr, 0};
  tpl_map_node* writer = tpl_map("A(jA(vB))", &j, &v, &blob);
  uint8_t bytes[2] = {4, 5};
  v = 1, blob = {bytes, 2};
  tpl_pack(writer, 2);
  v = 2, blob = {nullptr, 0};
  tpl_pack(writer, 2);
  j = 100;
  tpl_pack(writer, 1);
  j = 200;
  tpl_pack(writer, 1);  // no inner elements

  tpl_map_node* reader = tpl_map("A(jA(vB))", &j, &v, &blob);
  transfer(writer, reader);
  EXPECT_EQ(tpl_unpack(reader, 2), 0);  // the inner array is known only after its parent
  ASSERT_EQ(tpl_unpack(reader, 1), 2);
  EXPECT_EQ(j, 100);
  ASSERT_EQ(tpl_unpack(reader, 2), 2);
  EXPECT_EQ(v, 1);
  ASSERT_EQ(blob.length, 2u);
  EXPECT_EQ(memcmp(blob.bytes, bytes, 2), 0);
  tpl_hooks.free(blob.bytes);
  ASSERT_EQ(tpl_unpack(reader, 2), 1);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(blob.bytes, nullptr);
  EXPECT_EQ(tpl_unpack(reader, 2), 0);
  ASSERT_EQ(tpl_unpack(reader, 1), 1);
  EXPECT_EQ(j, 200);
  EXPECT_EQ(tpl_unpack(reader, 2), 0);
  EXPECT_EQ(tpl_unpack(reader, 1), 0);
  tpl_free_map(writer);
  tpl_free_map(reader);
}

TEST_F(TplUnpack, BigEndianImagesAreReadValueByValue) {
  // The worked example: an int32 stored as 00 00 00 01 reads as 1.
  const Image one = {'t', 'p', 'l', 1, 0, 0, 0, 14, 'i', 0, 0, 0, 0, 1};
  int32_t i = 0;
  tpl_map_node* map = tpl_map("i", &i);
  ASSERT_EQ(loadCopy(map, one), 0);
  ASSERT_EQ(tpl_unpack(map, 0), 1);
  EXPECT_EQ(i, 1);
  tpl_free_map(map);

  // Every width, lengths, counts and a repeated structure; blob bytes and characters as they are.
  struct JF { int16_t j; double f; };
  const uint8_t bytes[3] = {1, 2, 3};
  ImageBuilder b;
  b.big_endian = true;
  Image image = b.header("jIfsBA(u)S(jf)#c", 3, {2})
                    .value<int16_t>(-2).value<int64_t>(-3).value(1.5).str("hey").blob(bytes, 3)
                    .u32(2).value(7u).value(8u)
                    .value<int16_t>(5).value(0.25).value<int16_t>(6).value(-0.5)
                    .value('c')
                    .finish();
  int16_t j = 0;
  int64_t I = 0;
  double f = 0;
  char* s = nullptr;
  tpl_blob blob = {};
  uint32_t u = 0;
  JF pairs[2] = {};
  char c = 0;
  map = tpl_map("jIfsBA(u)S(jf)#c", &j, &I, &f, &s, &blob, &u, pairs, 2, &c);
  ASSERT_EQ(loadCopy(map, image), 0) << reports;
  ASSERT_EQ(tpl_unpack(map, 0), 1);
  EXPECT_EQ(j, -2);
  EXPECT_EQ(I, -3);
  EXPECT_EQ(f, 1.5);
  EXPECT_STREQ(s, "hey");
  ASSERT_EQ(blob.length, 3u);
  EXPECT_EQ(memcmp(blob.bytes, bytes, 3), 0);
  EXPECT_EQ(pairs[0].j, 5);
  EXPECT_EQ(pairs[0].f, 0.25);
  EXPECT_EQ(pairs[1].j, 6);
  EXPECT_EQ(pairs[1].f, -0.5);
  EXPECT_EQ(c, 'c');
  EXPECT_EQ(tpl_unpack(map, 1), 2);
  EXPECT_EQ(u, 7u);
  EXPECT_EQ(tpl_unpack(map, 1), 1);
  EXPECT_EQ(u, 8u);
  tpl_hooks.free(s);
  tpl_hooks.free(blob.bytes);
  tpl_free_map(map);
}

TEST_F(TplUnpack, OldStringImagesStoreTheLengthWithoutTheNul) {
  // Flag byte 0: a word 0 is an empty string (there are no null strings), 3 is "abc".
  const Image image = {'t', 'p', 'l', 0, 31, 0, 0, 0, 's', '#', 0, 3, 0, 0, 0,
                       0,   0,   0,   0, 3,  0, 0, 0, 'a', 'b', 'c', 1, 0, 0, 0, 'x'};
  char* out[3] = {};
  tpl_map_node* map = tpl_map("s#", out, 3);
  ASSERT_EQ(loadCopy(map, image), 0) << reports;
  ASSERT_EQ(tpl_unpack(map, 0), 1);
  ASSERT_NE(out[0], nullptr);
  EXPECT_STREQ(out[0], "");
  EXPECT_STREQ(out[1], "abc");
  EXPECT_STREQ(out[2], "x");
  for (char* s : out) tpl_hooks.free(s);
  tpl_free_map(map);
}

TEST_F(TplUnpack, UnpackRejectsIndexesThatNameNoArrayAndMapsWithoutData) {
  int32_t i = 0;
  tpl_map_node* map = tpl_map("A(A(i))", &i);
  struct Case {
    tpl_map_node* map;
    int index;
  } cases[] = {{map, 3}, {map, -1}, {nullptr, 0}};
  for (const Case& c : cases) {
    reports.clear();
    EXPECT_EQ(tpl_unpack(c.map, c.index), -1);
    EXPECT_EQ(reports, "invalid index " + std::to_string(c.index) + " to tpl_unpack\n");
  }
  // Never packed nor loaded: no image for the root, no elements for an array.
  reports.clear();
  EXPECT_EQ(tpl_unpack(map, 0), -1);
  EXPECT_EQ(reports, "tpl_unpack called for a tpl without data\n");
  EXPECT_EQ(tpl_unpack(map, 1), 0);
  tpl_free_map(map);
}

TEST_F(TplUnpack, FmuStateImageUnpacksIntoNewStringsAndANewBlock) {
  FmuStateVariables in({3, 3, 16, 2, 2, 12, 11, 3, 1, 1}, 2);
  for (int a = 0; a < 10; ++a)
    for (size_t k = 0; k < in.arrays[a].size(); ++k) in.arrays[a][k] = a + k / 100.0;
  char name[] = "limiter";
  in.strings = {name, nullptr};
  in.time = 0.125, in.levelReached = 2, in.mode = 6, in.inlineStepCounter = 41;
  in.flags[1] = 1;
  in.solverReals[3] = 2.0;
  in.solverInts[10] = -9;
  std::vector<uint8_t> block(kModelDataSize);
  for (size_t k = 0; k < block.size(); ++k) block[k] = static_cast<uint8_t>(k ^ (k >> 8));
  in.modelData = {block.data(), kModelDataSize};
  in.last = 5;
  tpl_map_node* writer = in.map();
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  Image image = dumpImage(writer);
  tpl_free_map(writer);

  FmuStateVariables out({3, 3, 16, 2, 2, 12, 11, 3, 1, 1}, 2);
  char old[] = "old";
  out.strings = {old, old};
  tpl_map_node* reader = out.map();
  ASSERT_EQ(tpl_load(reader, TPL_MODE_MEMORY, image.data(), image.size()), 0) << reports;
  ASSERT_EQ(tpl_unpack(reader, 0), 1);
  for (int a = 0; a < 10; ++a) EXPECT_EQ(out.arrays[a], in.arrays[a]) << a;
  ASSERT_NE(out.strings[0], nullptr);
  EXPECT_STREQ(out.strings[0], "limiter");
  EXPECT_NE(out.strings[0], name);
  EXPECT_EQ(out.strings[1], nullptr);
  EXPECT_EQ(out.time, 0.125);
  EXPECT_EQ(out.levelReached, 2);
  EXPECT_EQ(out.mode, 6);
  EXPECT_EQ(out.inlineStepCounter, 41u);
  EXPECT_EQ(out.flags[1], 1);
  EXPECT_EQ(out.solverReals[3], 2.0);
  EXPECT_EQ(out.solverInts[10], -9);
  EXPECT_EQ(out.last, 5u);
  ASSERT_EQ(out.modelData.length, kModelDataSize);
  EXPECT_NE(out.modelData.bytes, block.data());
  EXPECT_NE(static_cast<void*>(out.modelData.bytes), static_cast<void*>(image.data() + 662));
  EXPECT_EQ(memcmp(out.modelData.bytes, block.data(), kModelDataSize), 0);
  tpl_hooks.free(out.strings[0]);
  tpl_hooks.free(out.modelData.bytes);
  tpl_free_map(reader);
}

}  // namespace
