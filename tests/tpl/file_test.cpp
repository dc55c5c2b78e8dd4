// Images in files and through descriptors: round trips that must give the memory mode's bytes,
// the refusal of files and streams that hold no usable image, and no descriptor or view left
// behind on any path.
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "fmu_state_map.h"
#include "image_builder.h"
#include "records.h"
#include "stream_files.h"
#include "thread_sleep.h"
#include "tpl_fixture.h"

namespace {

using TplFile = TplTest;
using Image = std::vector<uint8_t>;

// A map with fixed lengths, strings (one null), an array of structures with strings and a blob.
struct Sample {
  int32_t i[2] = {};
  char* s[2] = {};
  double f = 0;
  char* t = nullptr;
  tpl_blob blob = {nullptr, 0};
  tpl_map_node* map = tpl_map("i#s#A(fs)B", i, 2, s, 2, &f, &t, &blob);
  ~Sample() { tpl_free_map(map); }

  void pack() {
    static char first[] = "first", x[] = "x";
    static uint8_t bytes[5] = {9, 8, 7, 6, 5};
    i[0] = -7, i[1] = 1 << 30, s[0] = first, s[1] = nullptr, blob = {bytes, 5};
    tpl_pack(map, 0);
    f = 0.5, t = x;
    tpl_pack(map, 1);
    f = -2, t = nullptr;
    tpl_pack(map, 1);
  }
  // Unpacks everything and checks it against what pack() packed, releasing what unpack made.
  void expectUnpacked() {
    ASSERT_EQ(tpl_unpack(map, 0), 1);
    EXPECT_EQ(i[0], -7);
    EXPECT_EQ(i[1], 1 << 30);
    EXPECT_STREQ(s[0], "first");
    EXPECT_EQ(s[1], nullptr);
    ASSERT_EQ(blob.length, 5u);
    EXPECT_EQ(memcmp(blob.bytes, "\x09\x08\x07\x06\x05", 5), 0);
    ASSERT_EQ(tpl_unpack(map, 1), 2);
    EXPECT_EQ(f, 0.5);
    EXPECT_STREQ(t, "x");
    tpl_hooks.free(t);
    ASSERT_EQ(tpl_unpack(map, 1), 1);
    EXPECT_EQ(f, -2);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(tpl_unpack(map, 1), 0);
    tpl_hooks.free(s[0]);
    tpl_hooks.free(blob.bytes);
    s[0] = nullptr, blob = {nullptr, 0};
  }
};

std::string errorText(int error) { return strerror(error); }

// A packed map whose image (16,000 bytes of values) is larger than the file size limits below.
struct LargeMap {
  std::vector<double> values = std::vector<double>(2000, 1.5);
  tpl_map_node* map = tpl_map("f#", values.data(), 2000);
  LargeMap() { tpl_pack(map, 0); }
  ~LargeMap() { tpl_free_map(map); }
};

// File size limits belong to the process, so a dump under one runs in a child, which exits 0
// when `check` holds; writing past the limit then fails with EFBIG instead of ending the child.
template <typename Check>
[[noreturn]] void underFileSizeLimit(rlim_t bytes, Check check) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
  TplTest::reports.clear();
  bool ok = check();
  fprintf(stderr, "%s", TplTest::reports.c_str());
  _exit(ok ? 0 : 1);
}

TEST_F(TplFile, FileRoundTripGivesTheMemoryImageAndHoldsNeitherTheFileNorAView) {
  ScratchFolder folder;
  std::string path = folder.file("state.tpl");
  int descriptors = openDescriptorCount();
  Image memory;
  {
    Sample written;
    written.pack();
    memory = dumpImage(written.map);
    ASSERT_EQ(tpl_dump(written.map, TPL_MODE_FILE, path.c_str()), 0);
    EXPECT_EQ(reports, "");
  }
  EXPECT_EQ(readFile(path), memory);
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_FALSE(isMapped(path));

  // The loaded image is a block of the map's own; the file is closed at once.
  Sample read;
  long blocks = liveBlocks;
  ASSERT_EQ(tpl_load(read.map, TPL_MODE_FILE, path.c_str()), 0);
  EXPECT_EQ(tpl_root(read.map)->flags & (TPL_STATE_LOADED | TPL_MODE_FILE), TPL_STATE_LOADED | TPL_MODE_FILE);
  EXPECT_EQ(liveBlocks.load(), blocks + 1);
  EXPECT_EQ(Image(tpl_root(read.map)->image.start, tpl_root(read.map)->image.start + tpl_root(read.map)->image.size),
            memory);
  EXPECT_FALSE(isMapped(path));
  EXPECT_EQ(openDescriptorCount(), descriptors);
  read.expectUnpacked();
  // Loading another image, packing and releasing each free the block (the fixture counts them).
  ASSERT_EQ(loadCopy(read.map, memory), 0);
  ASSERT_EQ(tpl_load(read.map, TPL_MODE_FILE, path.c_str()), 0);
  tpl_pack(read.map, 0);
  EXPECT_EQ(tpl_root(read.map)->image.start, nullptr);
  ASSERT_EQ(tpl_load(read.map, TPL_MODE_FILE, path.c_str()), 0);
  tpl_free_map(read.map);
  read.map = nullptr;
  EXPECT_EQ(openDescriptorCount(), descriptors);
  EXPECT_EQ(reports, "");
}

TEST_F(TplFile, ALoadedFileUnpacksWhatWasLoadedWhateverHappensToTheFileAfterwards) {
  struct Case {
    const char* name;
    void (*change)(const std::string& path);
  } cases[] = {
      {"cut to nothing", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 0), 0); }},
      {"cut to half", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), readFile(p).size() / 2), 0); }},
      {"overwritten in place",
       [](const std::string& p) {
         int descriptor = open(p.c_str(), O_WRONLY);
         ASSERT_TRUE(writeAll(descriptor, Image(readFile(p).size(), 0xEE)));
         close(descriptor);
       }},
      {"rewritten by a dump of a shorter image",
       [](const std::string& p) {
         int32_t value = 1;
         tpl_map_node* map = tpl_map("i", &value);
         tpl_pack(map, 0);
         EXPECT_EQ(tpl_dump(map, TPL_MODE_FILE, p.c_str()), 0);
         tpl_free_map(map);
       }},
      {"rewritten by a dump of a longer image",
       [](const std::string& p) {
         LargeMap large;
         EXPECT_EQ(tpl_dump(large.map, TPL_MODE_FILE, p.c_str()), 0);
       }},
      {"removed", [](const std::string& p) { ASSERT_EQ(unlink(p.c_str()), 0); }},
  };
  ScratchFolder folder;
  std::string path = folder.file("state.tpl");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      Sample written;
      written.pack();
      ASSERT_EQ(tpl_dump(written.map, TPL_MODE_FILE, path.c_str()), 0);
    }
    Sample read;
    ASSERT_EQ(tpl_load(read.map, TPL_MODE_FILE, path.c_str()), 0);
    c.change(path);
    read.expectUnpacked();
    EXPECT_EQ(reports, "");
  }
}

TEST_F(TplFile, DumpingOverAnExistingFileReplacesItWhole) {
  ScratchFolder folder;
  std::string path = folder.file("state.tpl");
  writeFile(path, Image(4096, 0xAB));
  int32_t value = 3;
  tpl_map_node* map = tpl_map("i", &value);
  tpl_pack(map, 0);
  ASSERT_EQ(tpl_dump(map, TPL_MODE_FILE, path.c_str()), 0);
  EXPECT_EQ(readFile(path), dumpImage(map));
  tpl_free_map(map);
}

TEST_F(TplFile, FileDumpThatCannotOpenOrSizeTheFileLeavesNothingBehind) {
  ScratchFolder folder;
  int32_t value = 3;
  tpl_map_node* map = tpl_map("i", &value);
  tpl_pack(map, 0);
  int descriptors = openDescriptorCount();
  std::string missing = folder.file("no-such-folder/state.tpl");
  EXPECT_EQ(tpl_dump(map, TPL_MODE_FILE, missing.c_str()), -1);
  EXPECT_EQ(reports, "Couldn't open file " + missing + ": " + errorText(ENOENT) + "\n");
  EXPECT_EQ(openDescriptorCount(), descriptors);

  // A file size limit below the image makes setting the length fail, after the view was made.
  // The limit is the process's, so the dump runs in a child.
  std::string limited = folder.file("limited.tpl");
  LargeMap large;
  auto child = [&] {
    underFileSizeLimit(1024, [&] {
      int before = openDescriptorCount();  // the child has its own
      return tpl_dump(large.map, TPL_MODE_FILE, limited.c_str()) == -1 &&
             reports == "ftruncate failed: " + errorText(EFBIG) + "\n" && openDescriptorCount() == before &&
             !isMapped(limited);
    });
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0), "ftruncate failed");
  tpl_free_map(map);
}

// The map a file is loaded into: i#s with the fixed length 2.
struct Target {
  int32_t i[2] = {};
  char* s = nullptr;
  tpl_map_node* map = tpl_map("i#s", i, 2, &s);
  ~Target() { tpl_free_map(map); }
};

Image targetImage() {
  int32_t i[2] = {4, 5};
  char text[] = "ok";
  char* s = text;
  tpl_map_node* map = tpl_map("i#s", i, 2, &s);
  tpl_pack(map, 0);
  Image image = TplTest::dumpImage(map);
  tpl_free_map(map);
  return image;
}

Image imageOf(const char* format, int length) {
  int32_t i[3] = {};
  char* s = nullptr;
  tpl_map_node* map = tpl_map(format, i, length, &s);
  tpl_pack(map, 0);
  Image image = TplTest::dumpImage(map);
  tpl_free_map(map);
  return image;
}

TEST_F(TplFile, FilesWithoutAUsableImageAreRefusedAndTheMapStaysUsable) {
  ScratchFolder folder;
  Image valid = targetImage();
  Image truncated(valid.begin(), valid.end() - 1);
  Image padded = valid;
  padded.resize(valid.size() + 10, 0);
  const char* text = "this is not an image\n";
  enum Kind { kMissing, kFile, kFolder, kNamedPipe };
  auto notRead = [](const std::string& p, int error) {
    return "Failed to mmap " + p + ": " + errorText(error) + "\ntpl_load failed for file " + p + "\n";
  };
  struct Case {
    const char* name;
    Kind kind;
    Image bytes;
    bool failAllocation;
    std::string expected;  // with @ for the path
  } cases[] = {
      {"missing", kMissing, {}, false, "Couldn't open file @: " + errorText(ENOENT) + "\ntpl_load failed for file @\n"},
      // An empty file, a pipe and a folder cannot be mapped; the copy refuses them alike.
      {"empty", kFile, {}, false, notRead("@", EINVAL)},
      {"pipe", kNamedPipe, {}, false, notRead("@", EINVAL)},
      {"folder", kFolder, {}, false, notRead("@", ENODEV)},
      {"no memory for the copy", kFile, valid, true, notRead("@", ENOMEM)},
      {"truncated", kFile, truncated, false, "@: not a valid tpl file\n"},
      {"text", kFile, Image(text, text + strlen(text)), false, "@: not a valid tpl file\n"},
      {"padded", kFile, padded, false, "@: not a valid tpl file\n"},
      {"other-format", kFile, imageOf("i#c", 2), false, "@: format signature mismatch\n"},
      {"other-lengths", kFile, imageOf("i#s", 3), false, "@: array lengths mismatch\n"},
  };
  // A named pipe opened for reading waits for a writer: the test holds one end itself.
  std::vector<int> held;
  for (const Case& c : cases) {
    std::string path = folder.file(c.name);
    if (c.kind == kFile) writeFile(path, c.bytes);
    if (c.kind == kFolder) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    }
    if (c.kind == kNamedPipe) {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      held.push_back(open(path.c_str(), O_RDWR | O_CLOEXEC));
    }
  }
  Target target;
  int descriptors = openDescriptorCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = folder.file(c.name);
    reports.clear();
    if (c.failAllocation) tpl_hooks.malloc = [](size_t) -> void* { return nullptr; };
    int result = tpl_load(target.map, TPL_MODE_FILE, path.c_str());
    tpl_hooks.malloc = countingMalloc;
    EXPECT_EQ(result, -1);
    std::string expected = c.expected;
    for (size_t at = 0; (at = expected.find('@', at)) != std::string::npos; at += path.size())
      expected.replace(at, 1, path);
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(tpl_root(target.map)->flags, 0);
    EXPECT_EQ(tpl_root(target.map)->image.start, nullptr);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_FALSE(isMapped(path));
  }
  for (int descriptor : held) close(descriptor);
  // The spare bytes are accepted when asked for; the map was left usable by every refusal.
  std::string path = folder.file("padded");
  reports.clear();
  ASSERT_EQ(tpl_load(target.map, TPL_MODE_FILE | TPL_MODE_EXCESS_OK, path.c_str()), 0);
  ASSERT_EQ(tpl_unpack(target.map, 0), 1);
  EXPECT_EQ(target.i[1], 5);
  EXPECT_STREQ(target.s, "ok");
  tpl_hooks.free(target.s);
  EXPECT_EQ(reports, "");
}

TEST_F(TplFile, BlobsUnpackedFromAFileOutliveItsView) {
  // A map that lends blob bytes from images its caller owns copies them from a file, whose view
  // goes with the map.
  ScratchFolder folder;
  std::string path = folder.file("blob.tpl");
  uint8_t bytes[300];
  for (size_t k = 0; k < sizeof bytes; ++k) bytes[k] = static_cast<uint8_t>(k);
  tpl_blob blob = {bytes, sizeof bytes};
  tpl_map_node* map = tpl_map("B", &blob);
  tpl_pack(map, 0);
  ASSERT_EQ(tpl_dump(map, TPL_MODE_FILE, path.c_str()), 0);
  tpl_free_map(map);

  tpl_blob loaded = {nullptr, 0};
  map = tpl_map("B", &loaded);
  ASSERT_EQ(tpl_share_blobs(map), 0);
  ASSERT_EQ(tpl_load(map, TPL_MODE_FILE, path.c_str()), 0);
  ASSERT_EQ(tpl_unpack(map, 0), 1);
  tpl_free_map(map);
  ASSERT_EQ(loaded.length, sizeof bytes);
  EXPECT_EQ(memcmp(loaded.bytes, bytes, sizeof bytes), 0);
  tpl_hooks.free(loaded.bytes);
}

TEST_F(TplFile, DescriptorRoundTripsThroughAPipeAndARegularFile) {
  Sample written;
  written.pack();
  Image memory = dumpImage(written.map);

  Pipe pipe;
  ASSERT_EQ(tpl_dump(written.map, TPL_MODE_DESCRIPTOR, pipe.write), 0);
  ASSERT_EQ(tpl_dump(written.map, TPL_MODE_DESCRIPTOR, pipe.write), 0);
  pipe.closeWrite();
  // The first image is read raw, the second loaded; then the stream has ended.
  Image raw(memory.size());
  ASSERT_EQ(read(pipe.read, raw.data(), raw.size()), static_cast<ssize_t>(raw.size()));
  EXPECT_EQ(raw, memory);
  Sample read;
  ASSERT_EQ(tpl_load(read.map, TPL_MODE_DESCRIPTOR, pipe.read), 0);
  EXPECT_EQ(tpl_root(read.map)->flags & (TPL_MODE_MEMORY | TPL_MODE_FREE_BUFFER),
            TPL_MODE_MEMORY | TPL_MODE_FREE_BUFFER);
  read.expectUnpacked();
  EXPECT_EQ(tpl_load(read.map, TPL_MODE_DESCRIPTOR, pipe.read), -1);
  EXPECT_EQ(reports, "");

  // A regular file written at its position after what it held, and read back from there.
  ScratchFolder folder;
  std::string path = folder.file("stream.tpl");
  int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(descriptor, 0);
  ASSERT_EQ(::write(descriptor, "head", 4), 4);
  ASSERT_EQ(tpl_dump(written.map, TPL_MODE_DESCRIPTOR, descriptor), 0);
  Image expected = {'h', 'e', 'a', 'd'};
  expected.insert(expected.end(), memory.begin(), memory.end());
  EXPECT_EQ(readFile(path), expected);
  lseek(descriptor, 4, SEEK_SET);
  ASSERT_EQ(tpl_load(read.map, TPL_MODE_DESCRIPTOR, descriptor), 0);
  read.expectUnpacked();
  close(descriptor);
}

TEST_F(TplFile, ALargeImageCrossesAPipeInManyReadsAndWrites) {
  // The FMU state's block is far more than a pipe holds, so both sides go round their loops.
  std::vector<int> lengths = {3, 3, 16, 2, 2, 12, 11, 3, 1, 1};
  FmuStateVariables state(lengths, 2);
  std::vector<uint8_t> block(kModelDataSize);
  for (size_t k = 0; k < block.size(); ++k) block[k] = static_cast<uint8_t>(k * 7 + k / 251);
  char name[] = "limiter";
  state.strings = {name, nullptr};
  state.arrays[2][15] = 2.25;
  state.modelData = {block.data(), kModelDataSize};
  state.last = 77;
  tpl_map_node* map = state.map();
  tpl_pack(map, 0);

  Pipe pipe;
  int result = -2;
  std::thread writer([&] {
    result = tpl_dump(map, TPL_MODE_DESCRIPTOR, pipe.write);
    pipe.closeWrite();
  });
  FmuStateVariables loaded(lengths, 2);
  tpl_map_node* target = loaded.map();
  int loadResult = tpl_load(target, TPL_MODE_DESCRIPTOR, pipe.read);
  writer.join();
  EXPECT_EQ(result, 0);
  ASSERT_EQ(loadResult, 0);
  ASSERT_EQ(tpl_unpack(target, 0), 1);
  EXPECT_EQ(loaded.arrays[2][15], 2.25);
  EXPECT_STREQ(loaded.strings[0], "limiter");
  EXPECT_EQ(loaded.strings[1], nullptr);
  EXPECT_EQ(loaded.last, 77u);
  ASSERT_EQ(loaded.modelData.length, kModelDataSize);
  EXPECT_EQ(memcmp(loaded.modelData.bytes, block.data(), kModelDataSize), 0);
  tpl_hooks.free(loaded.strings[0]);
  tpl_hooks.free(loaded.modelData.bytes);
  tpl_free_map(target);
  tpl_free_map(map);
}

// The two kinds of stream a descriptor dump or load may meet, one end made non-blocking.
struct Channel {
  const char* name;
  bool socket;
};
constexpr Channel kChannels[] = {{"pipe", false}, {"socket", true}};

struct ChannelEnds {
  int read = -1, write = -1;
  ChannelEnds(const Channel& channel, bool nonBlockingWrite) {
    int ends[2];
    int made = channel.socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) : pipe2(ends, O_CLOEXEC);
    if (made != 0) return;
    read = ends[0], write = ends[1];
    int nonBlocking = nonBlockingWrite ? write : read;
    fcntl(nonBlocking, F_SETFL, fcntl(nonBlocking, F_GETFL) | O_NONBLOCK);
  }
  void closeWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
  ~ChannelEnds() {
    closeWrite();
    if (read >= 0) close(read);
  }
  int pending() const {
    int count = -1;
    return ioctl(read, FIONREAD, &count) == 0 ? count : -1;
  }
};

TEST_F(TplFile, ADumpToAFullNonBlockingDescriptorSleepsUntilThereIsRoomAndWritesTheSameBytes) {
  // An image far larger than a pipe or a socket holds, so that the dump meets a full descriptor
  // again and again.
  std::vector<uint8_t> bytes(1 << 20);
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k * 13 + k / 509);
  tpl_blob blob = {bytes.data(), static_cast<uint32_t>(bytes.size())};
  tpl_map_node* map = tpl_map("B", &blob);
  tpl_pack(map, 0);
  Image memory = dumpImage(map);
  for (const Channel& channel : kChannels) {
    SCOPED_TRACE(channel.name);
    ChannelEnds ends(channel, true);
    ASSERT_GE(ends.read, 0);
    // Full before the dump starts: its first write finds no room.
    Image filler(4096, 0x5A);
    size_t filled = 0;
    for (long count; (count = ::write(ends.write, filler.data(), filler.size())) > 0;) filled += count;
    ASSERT_EQ(errno, EAGAIN);

    std::atomic<int> writer{0};
    int result = -2;
    std::thread thread([&] {
      writer = ThisThreadId();
      result = tpl_dump(map, TPL_MODE_DESCRIPTOR, ends.write);
    });
    while (writer == 0) std::this_thread::yield();
    EXPECT_TRUE(WaitUntilAsleep(writer, [] { return true; })) << "the dump never slept";
    Image received(filled + memory.size());
    size_t done = 0;
    while (done < received.size()) {
      long count = ::read(ends.read, received.data() + done, received.size() - done);
      ASSERT_GT(count, 0);
      done += static_cast<size_t>(count);
    }
    thread.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Image(received.begin(), received.begin() + filled), Image(filled, 0x5A));
    EXPECT_TRUE(Image(received.begin() + filled, received.end()) == memory);
    // Nothing after the image.
    ends.closeWrite();
    char after;
    EXPECT_EQ(::read(ends.read, &after, 1), 0);
  }
  EXPECT_EQ(reports, "");
  tpl_free_map(map);
}

TEST_F(TplFile, ALoadFromAnEmptyNonBlockingDescriptorSleepsUntilTheImageHasCome) {
  Sample written;
  written.pack();
  Image memory = dumpImage(written.map);
  for (const Channel& channel : kChannels) {
    SCOPED_TRACE(channel.name);
    ChannelEnds ends(channel, false);
    ASSERT_GE(ends.read, 0);
    Sample read;
    std::atomic<int> loader{0};
    int result = -2;
    std::thread thread([&] {
      loader = ThisThreadId();
      result = tpl_load(read.map, TPL_MODE_DESCRIPTOR, ends.read);
    });
    while (loader == 0) std::this_thread::yield();
    // The image comes in three pieces: half the prefix, the rest of it with a little data, the
    // rest; the load sleeps before each once it has taken what came.
    auto drained = [&] { return ends.pending() == 0; };
    size_t cuts[] = {0, 5, 12, memory.size()};
    for (size_t k = 0; k + 1 < std::size(cuts); ++k) {
      EXPECT_TRUE(WaitUntilAsleep(loader, drained)) << "the load never slept before piece " << k;
      ASSERT_TRUE(writeAll(ends.write, Image(memory.begin() + cuts[k], memory.begin() + cuts[k + 1])));
    }
    thread.join();
    ASSERT_EQ(result, 0);
    read.expectUnpacked();
  }
  EXPECT_EQ(reports, "");
}

TEST_F(TplFile, DescriptorDumpFailuresReportAndCutAFileBack) {
  int32_t value = 3;
  tpl_map_node* map = tpl_map("i", &value);
  tpl_pack(map, 0);

  // Not a regular file: nothing to cut back.
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(tpl_dump(map, TPL_MODE_DESCRIPTOR, full), -1);
  EXPECT_EQ(reports, "error writing to fd " + std::to_string(full) + ": " + errorText(ENOSPC) + "\n");
  close(full);
  reports.clear();

  // No descriptor at all: the write's own refusal, and nothing to cut back.
  EXPECT_EQ(tpl_dump(map, TPL_MODE_DESCRIPTOR, -1), -1);
  EXPECT_EQ(reports, "error writing to fd -1: " + errorText(EBADF) + "\n");
  reports.clear();

  // A regular file open only for reading can be neither written nor cut.
  ScratchFolder folder;
  std::string path = folder.file("read-only");
  writeFile(path, {1, 2, 3});
  int readOnly = open(path.c_str(), O_RDONLY);
  reports.clear();
  EXPECT_EQ(tpl_dump(map, TPL_MODE_DESCRIPTOR, readOnly), -1);
  EXPECT_EQ(reports, "error writing to fd " + std::to_string(readOnly) + ": " + errorText(EBADF) +
                         "\ncan't rewind: " + errorText(EINVAL) + "\n");
  close(readOnly);
  EXPECT_EQ(readFile(path), Image({1, 2, 3}));

  // A file size limit stops the writes part of the way: the file goes back to what it held.
  std::string limited = folder.file("limited");
  writeFile(limited, Image(100, 0x55));
  LargeMap large;
  auto child = [&] {
    underFileSizeLimit(1124, [&] {
      int descriptor = open(limited.c_str(), O_WRONLY | O_APPEND);
      int result = tpl_dump(large.map, TPL_MODE_DESCRIPTOR, descriptor);
      struct stat status;
      fstat(descriptor, &status);
      return result == -1 && status.st_size == 100 &&
             reports == "error writing to fd " + std::to_string(descriptor) + ": " + errorText(EFBIG) + "\n";
    });
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0), "error writing to fd");
  tpl_free_map(map);
}

TEST_F(TplFile, DescriptorLoadsRefuseStreamsWithoutAUsableImage) {
  Image valid = targetImage();
  Image otherFormat = imageOf("i#c", 2);
  Image shortLength = valid;
  shortLength[4] = 7, shortLength[5] = shortLength[6] = shortLength[7] = 0;
  struct Case {
    const char* what;
    Image bytes;
    uint64_t limit;
    std::string reports;
  } cases[] = {
      {"nothing", {}, 0, ""},
      {"half an image", Image(valid.begin(), valid.begin() + 12), 0, ""},
      {"half a prefix", Image(valid.begin(), valid.begin() + 5), 0, ""},
      {"not an image", {'x', 'p', 'l', 0, 9, 0, 0, 0, 1}, 0, "tpl_gather_fd_blocking: non-tpl input\n"},
      {"a length shorter than the prefix", shortLength, 0, "internal error\n"},
      {"another format", otherFormat, 0, "format signature mismatch\n"},
      {"an image over the limit", valid, valid.size() - 1,
       "tpl exceeds max length " + std::to_string(valid.size() - 1) + "\n"},
  };
  Target target;
  long mapBlocks = liveBlocks;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pipe pipe;
    ASSERT_TRUE(writeAll(pipe.write, c.bytes));
    pipe.closeWrite();
    tpl_hooks.gather_limit = c.limit;
    reports.clear();
    EXPECT_EQ(tpl_load(target.map, TPL_MODE_DESCRIPTOR, pipe.read), -1);
    EXPECT_EQ(reports, c.reports);
    EXPECT_EQ(tpl_root(target.map)->flags, 0);
    EXPECT_EQ(liveBlocks.load(), mapBlocks);
  }
  // The limit is inclusive.
  Pipe pipe;
  ASSERT_TRUE(writeAll(pipe.write, valid));
  tpl_hooks.gather_limit = valid.size();
  EXPECT_EQ(tpl_load(target.map, TPL_MODE_DESCRIPTOR, pipe.read), 0);

  reports.clear();
  EXPECT_EQ(tpl_load(target.map, TPL_MODE_DESCRIPTOR, -1), -1);
  EXPECT_EQ(reports, "tpl_gather_fd_blocking failed: " + errorText(EBADF) + "\n");
}

}  // namespace
