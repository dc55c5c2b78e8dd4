// Maps whose blobs lend their bytes: the same images as copying maps, no copy made on either
// side, and nothing of the caller's ever freed.
#include <cstring>

#include "tpl_fixture.h"

namespace {

using TplSharedBlobs = TplTest;
using Image = std::vector<uint8_t>;

// A root blob, an array of blobs and an int: "BA(B)i".
struct Mixed {
  tpl_blob root = {nullptr, 0};
  tpl_blob element = {nullptr, 0};
  int32_t i = 0;
  tpl_map_node* map(bool shared) {
    tpl_map_node* m = tpl_map("BA(B)i", &root, &element, &i);
    if (shared) {
      EXPECT_EQ(tpl_share_blobs(m), 0);
    }
    return m;
  }
};

// Packs two array elements of different bytes from the same variable, then the root.
Image packAndDump(bool shared, uint8_t* rootBytes, uint32_t rootLength) {
  uint8_t first[] = {1, 2, 3}, second[] = {9};
  Mixed in;
  tpl_map_node* map = in.map(shared);
  in.element = {first, sizeof first};
  EXPECT_EQ(tpl_pack(map, 1), 0);
  in.element = {second, sizeof second};
  EXPECT_EQ(tpl_pack(map, 1), 0);
  in.root = {rootBytes, rootLength};
  in.i = 42;
  EXPECT_EQ(tpl_pack(map, 0), 0);
  Image image = TplTest::dumpImage(map);
  tpl_free_map(map);
  return image;
}

TEST_F(TplSharedBlobs, ImagesEqualThoseOfCopyingMaps) {
  std::vector<uint8_t> large(100000);
  for (size_t k = 0; k < large.size(); ++k) large[k] = static_cast<uint8_t>(k * 7);
  uint8_t small[] = {0xAB};
  struct Case {
    uint8_t* bytes;
    uint32_t length;
  } cases[] = {{large.data(), static_cast<uint32_t>(large.size())}, {small, 1}, {nullptr, 0}};
  for (const Case& c : cases) {
    Image copied = packAndDump(false, c.bytes, c.length);
    Image shared = packAndDump(true, c.bytes, c.length);
    EXPECT_EQ(shared, copied) << "blob of " << c.length << " bytes";
  }
}

TEST_F(TplSharedBlobs, PackRecordsTheCallersBytesWithoutCopying) {
  uint8_t bytes[4096];
  memset(bytes, 1, sizeof bytes);
  tpl_blob blob = {bytes, sizeof bytes};
  long before = allocations;
  tpl_map_node* copying = tpl_map("B", &blob);
  ASSERT_EQ(tpl_pack(copying, 0), 0);
  long copyingAllocations = allocations - before;

  before = allocations;
  tpl_map_node* sharing = tpl_map("B", &blob);
  ASSERT_EQ(tpl_share_blobs(sharing), 0);
  ASSERT_EQ(tpl_pack(sharing, 0), 0);
  EXPECT_EQ(allocations - before, copyingAllocations - 1) << "the blob's bytes were copied";

  // Lent bytes are read at dump time; copied ones were taken at pack time.
  bytes[0] = 2;
  Image fromCopy = dumpImage(copying), fromShare = dumpImage(sharing);
  size_t first = fromCopy.size() - sizeof bytes;
  EXPECT_EQ(fromCopy[first], 1);
  EXPECT_EQ(fromShare[first], 2);

  // Packing again and releasing free only the map's own records.
  ASSERT_EQ(tpl_pack(sharing, 0), 0);
  tpl_free_map(copying);
  tpl_free_map(sharing);
}

TEST_F(TplSharedBlobs, UnpackLendsFromTheCallersImageOnly) {
  uint8_t payload[] = {5, 6, 7, 8, 9};
  Mixed in;
  in.root = {payload, sizeof payload};
  tpl_map_node* writer = in.map(false);
  ASSERT_EQ(tpl_pack(writer, 0), 0);
  const Image image = dumpImage(writer);
  tpl_free_map(writer);

  // An image the caller keeps: the blob points into it.
  Mixed out;
  tpl_map_node* reader = out.map(true);
  ASSERT_EQ(tpl_load(reader, TPL_MODE_MEMORY, image.data(), image.size()), 0) << reports;
  ASSERT_EQ(tpl_unpack(reader, 0), 1);
  ASSERT_EQ(out.root.length, sizeof payload);
  const uint8_t* lent = static_cast<const uint8_t*>(out.root.bytes);
  EXPECT_TRUE(lent >= image.data() && lent + sizeof payload <= image.data() + image.size());
  EXPECT_EQ(memcmp(lent, payload, sizeof payload), 0);
  tpl_free_map(reader);

  // An image the map owns goes with the map: the blob is a copy of the caller's own.
  Mixed owned;
  reader = owned.map(true);
  ASSERT_EQ(loadCopy(reader, image), 0) << reports;
  ASSERT_EQ(tpl_unpack(reader, 0), 1);
  tpl_free_map(reader);
  ASSERT_EQ(owned.root.length, sizeof payload);
  EXPECT_EQ(memcmp(owned.root.bytes, payload, sizeof payload), 0);
  tpl_hooks.free(owned.root.bytes);
}

TEST_F(TplSharedBlobs, RefusedOnceTheMapHoldsData) {
  tpl_blob blob = {nullptr, 0};
  EXPECT_EQ(tpl_share_blobs(nullptr), -1);
  tpl_map_node* map = tpl_map("B", &blob);
  ASSERT_EQ(tpl_pack(map, 0), 0);
  EXPECT_EQ(tpl_share_blobs(map), -1);
  tpl_free_map(map);
}

}  // namespace
