// The counted directory stream and ModelicaInternal_readDirectory on a temporary tree.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "directory.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "modelicainternal.h"
#include "temp_tree.h"
#include "workbuffers.h"

namespace {

std::vector<std::string> ReadAll(DirectoryStream* stream) {
  std::vector<std::string> names;
  while (DirectoryEntry* entry = DirectoryRead(stream)) {
    EXPECT_EQ(entry->entryNameLength, static_cast<int16_t>(strlen(entry->d_name)));
    names.push_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

using Directory = TempTree;

}  // namespace

TEST_F(Directory, OpenRefusesWhatIsNoDirectory) {
  const std::string file = Write("plain.txt", "x");
  struct Case {
    const char* name;
    int error;
  } cases[] = {{nullptr, EFAULT}, {"", ENOTDIR}, {"/nonexistent/quenzel/dir", ENOENT}, {file.c_str(), ENOTDIR}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    errno = 12345;
    EXPECT_EQ(DirectoryOpen(c.name), nullptr);
    EXPECT_EQ(errno, c.error);
  }
}

TEST_F(Directory, ReadsEveryEntryOnceThenStaysAtTheEnd) {
  Write("a", "");
  Write("b", "");
  Folder("sub");
  // A name ending in a separator is a directory as well.
  for (const std::string& name : {root.string(), root.string() + "/"}) {
    SCOPED_TRACE(name);
    DirectoryStream* stream = DirectoryOpen(name.c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(DirectoryTell(stream), 0);
    EXPECT_EQ(ReadAll(stream), (std::vector<std::string>{".", "..", "a", "b", "sub"}));
    EXPECT_EQ(DirectoryTell(stream), -1);
    errno = 5;
    EXPECT_EQ(DirectoryRead(stream), nullptr);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(DirectoryClose(stream), 0);
  }
}

TEST_F(Directory, PositionsCountEntriesThroughRewindAndSeek) {
  for (int i = 0; i < 5; ++i) Write("f" + std::to_string(i), "");
  DirectoryStream* stream = DirectoryOpen(root.c_str());
  ASSERT_NE(stream, nullptr);
  std::vector<std::string> order;
  for (int i = 0; i < 3; ++i) order.push_back(DirectoryRead(stream)->d_name);
  EXPECT_EQ(DirectoryTell(stream), 3);
  DirectoryRewind(stream);
  EXPECT_EQ(DirectoryTell(stream), 0);
  EXPECT_EQ(DirectoryRead(stream)->d_name, order[0]);
  DirectorySeek(stream, 2);
  EXPECT_EQ(DirectoryTell(stream), 2);
  EXPECT_EQ(DirectoryRead(stream)->d_name, order[2]);
  DirectorySeek(stream, 100);  // beyond the end: reads to the end
  EXPECT_EQ(DirectoryTell(stream), -1);
  DirectorySeek(stream, -2);
  EXPECT_EQ(errno, EINVAL);
  DirectorySeek(stream, 1);
  EXPECT_EQ(DirectoryTell(stream), 1);
  DirectorySeek(stream, -1);
  EXPECT_EQ(DirectoryTell(stream), -1);
  EXPECT_EQ(DirectoryRead(stream), nullptr);
  // A stream whose entry was pointed elsewhere is not one of ours any more.
  DirectoryRewind(stream);
  const char* own = stream->entry.d_name;
  stream->entry.d_name = "elsewhere";
  EXPECT_EQ(DirectoryRead(stream), nullptr);
  EXPECT_EQ(errno, EINVAL);
  stream->entry.d_name = own;
  EXPECT_EQ(DirectoryClose(stream), 0);
}

TEST(DirectoryWithoutStream, FailsWithEfault) {
  errno = 0;
  EXPECT_EQ(DirectoryRead(nullptr), nullptr);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(DirectoryTell(nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(DirectoryClose(nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  DirectoryRewind(nullptr);
  EXPECT_EQ(errno, EFAULT);
  errno = 0;
  DirectorySeek(nullptr, 0);
  EXPECT_EQ(errno, EFAULT);
}

TEST_F(Directory, ManyEntriesAreAllDelivered) {
  const int count = 40000;  // beyond a 16-bit count
  char name[16];
  for (int i = 0; i < count; ++i) {
    snprintf(name, sizeof name, "e%d", i);
    std::ofstream(root / name);
  }
  DirectoryStream* stream = DirectoryOpen(root.c_str());
  ASSERT_NE(stream, nullptr);
  int seen = 0;
  while (DirectoryRead(stream)) ++seen;
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(seen, count + 2);
  DirectoryClose(stream);
}

TEST_F(Directory, ReadDirectoryFillsExactlyTheAnnouncedSlots) {
  Write("one", "");
  Write("two", "");
  Folder("three");
  static std::string dir;
  dir = root.string();
  static std::vector<std::string> got;
  got.clear();
  GuardedCallResult ok = GuardedCall([] {
    MarkReset();
    const char* files[3] = {};
    ModelicaInternal_readDirectory(dir.c_str(), 3, files);
    for (const char* f : files) got.push_back(f);
  });
  ExpectNoFailure(ok);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"one", "three", "two"}));

  GuardedCallResult wrapped = GuardedCall([] {
    MarkReset();
    StringArray files = ModelicaWrap_readDirectory(dir.c_str(), 3);
    got.assign(files.data, files.data + 3);
  });
  ExpectNoFailure(wrapped);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"one", "three", "two"}));

  struct Case {
    int nFiles;
    std::string text;
  } cases[] = {
      {2, "Not possible to get file names of \"" + dir +
              "\":\nMore files in this directory as reported by nFiles (= 2)"},
      {4, "Not possible to get file names of \"" + dir +
              "\":\nLess files (= 3) found as defined by argument nNames (= 4)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nFiles);
    static int n;
    n = c.nFiles;
    GuardedCallResult failed = GuardedCall([] {
      const char* files[4] = {};
      ModelicaInternal_readDirectory(dir.c_str(), n, files);
    });
    ASSERT_TRUE(failed.jumped);
    ASSERT_GE(failed.texts().size(), 2u);
    EXPECT_EQ(failed.texts()[1], c.text);
  }
  GuardedCallResult missing = GuardedCall([] {
    const char* files[1] = {};
    ModelicaInternal_readDirectory("/nonexistent/quenzel/dir", 1, files);
  });
  ASSERT_TRUE(missing.jumped);
  EXPECT_EQ(missing.texts()[1], std::string("1: Not possible to get file names of "
                                            "\"/nonexistent/quenzel/dir\":\n") + strerror(ENOENT));
  modelDataTemplate.status = 0;
}

TEST_F(Directory, NamesBeyondTheStringAreaAreNotEnoughStorage) {
  for (int i = 0; i < 100; ++i) Write(std::string(120, 'n') + std::to_string(i), "");
  static std::string dir;
  dir = root.string();
  GuardedCallResult call = GuardedCall([] {
    MarkReset();
    static const char* files[100];
    ModelicaInternal_readDirectory(dir.c_str(), 100, files);
  });
  ASSERT_TRUE(call.jumped);
  EXPECT_EQ(call.texts()[1], "Not possible to get file names of \"" + dir + "\":\nNot enough storage");
  modelDataTemplate.status = 0;
}
