// Gathering whole images from a stream: images split from a stream that holds several, an
// image that arrives in pieces, the partial image kept between calls, and the limits and
// refusals, with no partial image or buffer left behind when a gather ends.
#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>

#include "image_builder.h"
#include "stream_files.h"
#include "tpl_fixture.h"

namespace {

using TplGather = TplTest;
using Image = std::vector<uint8_t>;

// Images of "i#" with n values k, k+1, ... (9 + 3 + 4 + 4n bytes).
Image imageOf(int n, int32_t k, bool bigEndian = false) {
  ImageBuilder builder;
  builder.big_endian = bigEndian;
  builder.header("i#", bigEndian ? 1 : 0, {static_cast<uint32_t>(n)});
  for (int32_t v = 0; v < n; ++v) builder.value<int32_t>(k + v);
  return builder.finish();
}

Image concat(std::initializer_list<Image> images) {
  Image all;
  for (const Image& image : images) all.insert(all.end(), image.begin(), image.end());
  return all;
}

// Collects the images handed to the callback; stops when told to.
struct Received {
  std::vector<Image> images;
  size_t stopAt = SIZE_MAX;  // the callback of this image returns -1
  static int take(const void* image, size_t length, void* data) {
    Received* self = static_cast<Received*>(data);
    const uint8_t* bytes = static_cast<const uint8_t*>(image);
    self->images.emplace_back(bytes, bytes + length);
    return self->images.size() - 1 == self->stopAt ? -1 : 0;
  }
};

int memGather(const Image& piece, tpl_partial_image** partial, Received* received) {
  return tpl_gather(TPL_GATHER_MEM, piece.data(), piece.size(), partial, &Received::take, received);
}

TEST_F(TplGather, BlockingGatherReadsOneImageAtATime) {
  Image one = imageOf(2, 10), two = imageOf(300, -4, true);
  Pipe pipe;
  ASSERT_TRUE(writeAll(pipe.write, concat({one, two})));
  pipe.closeWrite();
  for (const Image& expected : {one, two}) {
    void* image = nullptr;
    size_t length = 0;
    ASSERT_EQ(tpl_gather(TPL_GATHER_BLOCKING, pipe.read, &image, &length), 1);
    ASSERT_EQ(length, expected.size());  // the big-endian length read in its own byte order
    EXPECT_EQ(Image(static_cast<uint8_t*>(image), static_cast<uint8_t*>(image) + length), expected);
    tpl_hooks.free(image);
  }
  void* image = nullptr;
  size_t length = 0;
  EXPECT_EQ(tpl_gather(TPL_GATHER_BLOCKING, pipe.read, &image, &length), 0);
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(reports, "");
}

// The largest block asked of the allocation hooks while it is installed.
size_t largestBlock = 0;
void* measuringMalloc(size_t size) {
  largestBlock = std::max(largestBlock, size);
  return TplTest::countingMalloc(size);
}
void* measuringRealloc(void* block, size_t size) {
  largestBlock = std::max(largestBlock, size);
  return TplTest::countingRealloc(block, size);
}

TEST_F(TplGather, BlockingGatherHoldsNoMoreThanTheStreamDelivers) {
  // A prefix that claims nearly 4 GiB, followed by a few bytes and the end of the stream.
  Image claim = {'t', 'p', 'l', 0, 0, 0, 0, 0xF0};
  claim.resize(200, 0x41);
  Pipe pipe;
  ASSERT_TRUE(writeAll(pipe.write, claim));
  pipe.closeWrite();
  tpl_hooks.malloc = measuringMalloc;
  tpl_hooks.realloc = measuringRealloc;
  largestBlock = 0;
  void* image = nullptr;
  size_t length = 0;
  EXPECT_EQ(tpl_gather(TPL_GATHER_BLOCKING, pipe.read, &image, &length), 0);
  EXPECT_LE(largestBlock, size_t{65536});
  EXPECT_EQ(reports, "");
}

TEST_F(TplGather, StreamOfSeveralImagesAndAHalfKeepsTheHalfUntilItCompletes) {
  Image one = imageOf(1, 1), two = imageOf(2, 2), three = imageOf(40, 3);
  Pipe pipe(true);
  tpl_partial_image* partial = nullptr;
  Received received;
  size_t half = three.size() / 2;
  ASSERT_TRUE(writeAll(pipe.write, concat({one, two, Image(three.begin(), three.begin() + static_cast<long>(half))})));
  // Nothing more to read: the gather returns for more, holding the half.
  EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), 1);
  ASSERT_EQ(received.images.size(), 2u);
  EXPECT_EQ(received.images[0], one);
  EXPECT_EQ(received.images[1], two);
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(Image(partial->buffer, partial->buffer + partial->length), Image(three.begin(), three.begin() + static_cast<long>(half)));

  ASSERT_TRUE(writeAll(pipe.write, Image(three.begin() + static_cast<long>(half), three.end())));
  EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), 1);
  ASSERT_EQ(received.images.size(), 3u);
  EXPECT_EQ(received.images[2], three);
  EXPECT_EQ(partial, nullptr);
  pipe.closeWrite();
  EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), 0);
  EXPECT_EQ(reports, "");
}

TEST_F(TplGather, HalfAnImageAtTheEndOfTheStreamIsReportedAndDropped) {
  Image one = imageOf(1, 1), two = imageOf(2, 2);
  Pipe pipe(true);
  ASSERT_TRUE(writeAll(pipe.write, concat({one, Image(two.begin(), two.end() - 3)})));
  pipe.closeWrite();
  tpl_partial_image* partial = nullptr;
  Received received;
  EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), 0);
  ASSERT_EQ(received.images.size(), 1u);
  EXPECT_EQ(received.images[0], one);
  EXPECT_EQ(partial, nullptr);
  EXPECT_EQ(reports, "tpl_gather: partial tpl image precedes EOF\n");
}

TEST_F(TplGather, AnImageLargerThanOneReadArrivesWhole) {
  Image big = imageOf(5000, 7);  // 20,000 bytes of values: three reads
  Pipe pipe(true);
  ASSERT_TRUE(writeAll(pipe.write, concat({big, imageOf(1, 1)})));
  pipe.closeWrite();
  tpl_partial_image* partial = nullptr;
  Received received;
  EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), 0);
  ASSERT_EQ(received.images.size(), 2u);
  EXPECT_EQ(received.images[0], big);
  EXPECT_EQ(reports, "");
}

TEST_F(TplGather, PiecesOfMemoryOfEverySizeGiveTheSameImages) {
  Image stream = concat({imageOf(1, 1), imageOf(3, 2, true), imageOf(0, 0), imageOf(2, 9)});
  for (size_t piece : {size_t{1}, size_t{3}, size_t{8}, size_t{9}, size_t{17}, stream.size()}) {
    SCOPED_TRACE(piece);
    tpl_partial_image* partial = nullptr;
    Received received;
    for (size_t at = 0; at < stream.size(); at += piece) {
      Image bytes(stream.begin() + static_cast<long>(at),
                  stream.begin() + static_cast<long>(std::min(stream.size(), at + piece)));
      ASSERT_EQ(memGather(bytes, &partial, &received), 1);
    }
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(concat({received.images[0], received.images[1], received.images[2], received.images[3]}), stream);
    EXPECT_EQ(received.images.size(), 4u);
  }
  // An empty piece changes nothing.
  tpl_partial_image* partial = nullptr;
  Received received;
  Image head(stream.begin(), stream.begin() + 5);
  ASSERT_EQ(memGather(head, &partial, &received), 1);
  ASSERT_EQ(memGather({}, &partial, &received), 1);
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(partial->length, 5u);
  ASSERT_EQ(memGather(Image(stream.begin() + 5, stream.end()), &partial, &received), 1);
  EXPECT_EQ(received.images.size(), 4u);
  EXPECT_EQ(partial, nullptr);
}

TEST_F(TplGather, RefusalsEndTheGatherWithoutAPartialImage) {
  Image one = imageOf(1, 1), two = imageOf(30, 2);
  Image ones = concat({one, one, one, one, one, one, one, one, one, one});
  Image zeroLength = one;
  memset(zeroLength.data() + 4, 0, 4);
  struct Case {
    const char* what;
    std::vector<Image> pieces;  // the last one gives the result
    uint64_t limit;
    size_t stopAt;
    int result;
    size_t delivered;
    std::string reports;
  } cases[] = {
      {"bytes that are not an image", {{'n', 'o', 't', 0, 9, 0, 0, 0, 1}}, 0, SIZE_MAX, -3, 0, "tpl prefix invalid\n"},
      {"not an image after one", {concat({one, Image(9, 'x')})}, 0, SIZE_MAX, -3, 1, "tpl prefix invalid\n"},
      // A stated length of 0 would never move the scan on.
      {"an image of length 0", {zeroLength}, 0, SIZE_MAX, -3, 0, "tpl prefix invalid\n"},
      {"the callback stops", {concat({one, one, one})}, 0, 1, -4, 2, "tpl_mem_gather aborted by app callback\n"},
      // Images of 19 bytes each: four pass, 14 bytes of the fifth are kept, and the next piece
      // would make the kept bytes more than the limit.
      {"kept bytes grow past the limit",
       {Image(ones.begin(), ones.begin() + 90), Image(ones.begin() + 90, ones.begin() + 180)}, 100, SIZE_MAX,
       -2, 4, "tpl exceeds max length 100\n"},
      // However its bytes arrive, an image longer than the limit is refused.
      {"one piece holds an image over the limit", {two}, 100, SIZE_MAX, -2, 0, "tpl exceeds max length 100\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tpl_hooks.gather_limit = c.limit;
    reports.clear();
    tpl_partial_image* partial = nullptr;
    Received received;
    received.stopAt = c.stopAt;
    for (size_t k = 0; k + 1 < c.pieces.size(); ++k) ASSERT_EQ(memGather(c.pieces[k], &partial, &received), 1);
    EXPECT_EQ(memGather(c.pieces.back(), &partial, &received), c.result);
    EXPECT_EQ(received.images.size(), c.delivered);
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(reports, c.reports);
    EXPECT_EQ(liveBlocks.load(), 0);
  }
  // Images up to the limit pass.
  tpl_hooks.gather_limit = two.size();
  tpl_partial_image* partial = nullptr;
  Received received;
  EXPECT_EQ(memGather(two, &partial, &received), 1);
  EXPECT_EQ(received.images.size(), 1u);
}

TEST_F(TplGather, DescriptorGatherFailuresFreeThePartialImage) {
  Image one = imageOf(1, 1), two = imageOf(2, 2);
  {
    // The callback stops at the first image; the half after it goes too.
    Pipe pipe(true);
    ASSERT_TRUE(writeAll(pipe.write, concat({one, Image(two.begin(), two.begin() + 12)})));
    tpl_partial_image* partial = nullptr;
    Received received;
    received.stopAt = 0;
    EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), -4);
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(reports, "tpl_fd_gather aborted by app callback\n");
  }
  {
    // The stream's next bytes grow the kept half past the limit.
    Image big = imageOf(100, 0);
    Pipe pipe(true);
    ASSERT_TRUE(writeAll(pipe.write, Image(big.begin(), big.begin() + 200)));
    tpl_partial_image* partial = nullptr;
    Received received;
    tpl_hooks.gather_limit = 300;
    reports.clear();
    EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), -2);
    ASSERT_EQ(partial, nullptr);
    EXPECT_EQ(reports, "tpl exceeds max length 300\n");
    tpl_hooks.gather_limit = 0;
  }
  {
    // A read error after a kept half.
    Pipe pipe(true);
    ASSERT_TRUE(writeAll(pipe.write, Image(two.begin(), two.begin() + 12)));
    tpl_partial_image* partial = nullptr;
    Received received;
    ASSERT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, pipe.read, &partial, &Received::take, &received), 1);
    ASSERT_NE(partial, nullptr);
    reports.clear();
    EXPECT_EQ(tpl_gather(TPL_GATHER_NONBLOCKING, -1, &partial, &Received::take, &received), -1);
    EXPECT_EQ(partial, nullptr);
    EXPECT_EQ(reports, std::string("tpl_gather failed: ") + strerror(EBADF) + "\n");
  }
}

TEST_F(TplGather, UnknownModeIsFatal) {
  auto gather = [] {
    tpl_hooks.report = tpl_default_report;
    tpl_gather(4, nullptr);
  };
  EXPECT_EXIT(gather(), testing::ExitedWithCode(255), "unsupported tpl_gather mode 4");
}

}  // namespace
