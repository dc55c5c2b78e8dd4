// File views: the protections a view may ask for, write access that includes read access,
// shared views that reach the file and private ones that do not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"

namespace {

struct ScratchFile {
  std::string path;
  int descriptor = -1;
  explicit ScratchFile(const char* contents) {
    char pattern[] = "/tmp/quenzel-view-XXXXXX";
    descriptor = mkstemp(pattern);
    path = pattern;
    EXPECT_EQ(write(descriptor, contents, strlen(contents)), static_cast<ssize_t>(strlen(contents)));
  }
  ~ScratchFile() {
    close(descriptor);
    unlink(path.c_str());
  }
  std::string contents() const {
    char buffer[64] = {};
    EXPECT_GE(pread(descriptor, buffer, sizeof buffer - 1, 0), 0);
    return buffer;
  }
};

TEST(PlatformFiles, ProtectionsOutsideReadWriteExecuteAreRefused) {
  ScratchFile file("abcd");
  for (int protection : {0, 8, 9, -1}) {
    errno = 0;
    EXPECT_EQ(PlatformFileMap(4, protection, PLATFORM_MAP_SHARED, file.descriptor), PLATFORM_MAP_FAILED) << protection;
    EXPECT_EQ(errno, EINVAL) << protection;
  }
  // A descriptor open for reading only cannot give a shared writable view.
  int readOnly = PlatformFileOpen(file.path.c_str(), PLATFORM_OPEN_READ);
  ASSERT_GE(readOnly, 0);
  EXPECT_EQ(PlatformFileMap(4, PLATFORM_MAP_WRITE, PLATFORM_MAP_SHARED, readOnly), PLATFORM_MAP_FAILED);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(PlatformFileClose(readOnly), 0);
}

TEST(PlatformFiles, SharedViewsReachTheFileAndPrivateViewsDoNot) {
  ScratchFile file("abcd");
  // Write access alone still lets the view be read.
  char* shared = static_cast<char*>(PlatformFileMap(4, PLATFORM_MAP_WRITE, PLATFORM_MAP_SHARED, file.descriptor));
  ASSERT_NE(shared, PLATFORM_MAP_FAILED);
  EXPECT_EQ(shared[1], 'b');
  shared[0] = 'X';
  EXPECT_EQ(PlatformFileSync(shared, 4), 0);
  EXPECT_EQ(PlatformFileUnmap(shared, 4), 0);
  EXPECT_EQ(file.contents(), "Xbcd");

  char* copy = static_cast<char*>(
      PlatformFileMap(4, PLATFORM_MAP_READ | PLATFORM_MAP_WRITE, PLATFORM_MAP_PRIVATE, file.descriptor));
  ASSERT_NE(copy, PLATFORM_MAP_FAILED);
  copy[3] = 'Y';
  EXPECT_EQ(PlatformFileUnmap(copy, 4), 0);
  EXPECT_EQ(file.contents(), "Xbcd");
}

TEST(PlatformFiles, RewriteCreatesOrEmptiesAndExtendReservesTheLength) {
  ScratchFile file("some old text");
  int descriptor = PlatformFileOpen(file.path.c_str(), PLATFORM_OPEN_REWRITE);
  ASSERT_GE(descriptor, 0);
  uint64_t length = 99;
  int regular = 0;
  ASSERT_EQ(PlatformFileStatus(descriptor, &length, &regular), 0);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(regular, 1);
  ASSERT_EQ(PlatformFileExtend(descriptor, 5000), 0);
  ASSERT_EQ(PlatformFileStatus(descriptor, &length, nullptr), 0);
  EXPECT_EQ(length, 5000u);
  EXPECT_EQ(PlatformFileClose(descriptor), 0);

  EXPECT_EQ(PlatformFileOpen(nullptr, PLATFORM_OPEN_READ), -1);
  EXPECT_EQ(PlatformFileOpen("/nonexistent-folder/x", PLATFORM_OPEN_READ), -1);
  EXPECT_EQ(errno, ENOENT);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(PlatformFileStatus(pipeEnds[0], nullptr, &regular), 0);
  EXPECT_EQ(regular, 0);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

}  // namespace

namespace {

// A stream that buffered bytes past the place to update: they reach the file first, the update
// lands at its offset and the stream goes on writing at its end.
TEST(PlatformFiles, AnUpdateInPlaceLeavesTheStreamWhereItWas) {
  ScratchFile file("");
  FILE* stream = fdopen(dup(file.descriptor), "wb");
  ASSERT_NE(stream, nullptr);
  fputs("header|rows", stream);
  EXPECT_EQ(PlatformStreamWriteAt(stream, "HEAD", 4, 0), 0);
  EXPECT_EQ(ftell(stream), 11);
  fputs("|more", stream);
  fclose(stream);
  EXPECT_EQ(file.contents(), "HEADer|rows|more");
}

TEST(PlatformFiles, AnUpdateInPlaceOfAPipeFails) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FILE* stream = fdopen(ends[1], "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(PlatformStreamWriteAt(stream, "x", 1, 0), -1);
  EXPECT_EQ(errno, ESPIPE);
  fclose(stream);
  close(ends[0]);
}

}  // namespace
