// Text files read whole and line by line through the file cache, on a temporary tree.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "failed_check.h"
#include "filecache.h"
#include "guarded_call.h"
#include "modelicainternal.h"
#include "temp_tree.h"
#include "workbuffers.h"

namespace {

class TextFiles : public TempTree {
 protected:
  void TearDown() override {
    for (const std::string& f : written) FileCacheClose(f.c_str());
    TempTree::TearDown();
  }
  std::string File(const std::string& name, const std::string& content) {
    written.push_back(Write(name, content));
    return written.back();
  }
  std::vector<std::string> written;
};

struct LineRead {
  std::string line;
  int endOfFile;
};

// readLine inside an evaluation; the string is copied out before the area is reset.
LineRead ReadLineGuarded(const std::string& file, int n) {
  static LineRead result;
  static const char* name;
  static int number;
  name = file.c_str();
  number = n;
  result = {"<failed>", -1};
  GuardedCallResult call = GuardedCall([] {
    MarkReset();
    ModelicaReadLineResult r = ModelicaWrap_readLine(name, number);
    result.line = r.line;
    result.endOfFile = r.endOfFile;
  });
  ExpectNoFailure(call);
  return result;
}

long Offset(FILE* stream) { return ftell(stream); }

}  // namespace

TEST_F(TextFiles, CountLinesCountsLineStarts) {
  struct Case {
    const char* content;
    int lines;
  } cases[] = {{"", 0}, {"a\nb", 2}, {"a\nb\n", 2}, {"\n", 1}, {"\n\n", 2}, {"x", 1}};
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    static std::string file;
    file = File("count" + std::to_string(k++), c.content);
    static int lines;
    GuardedCallResult call = GuardedCall([] { lines = ModelicaInternal_countLines(file.c_str()); });
    ExpectNoFailure(call);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST_F(TextFiles, ReadFileDropsOneCarriageReturnAndRereadsLongLines) {
  const std::string longLine(299, 'L');
  static std::string file;
  file = File("lines.txt", "first\r\n" + longLine + "\r\n\r\r\nlast");
  static std::vector<std::string> got;
  got.clear();
  GuardedCallResult call = GuardedCall([] {
    MarkReset();
    StringArray lines = ModelicaWrap_readFile(file.c_str());
    got.assign(lines.data, lines.data + lines.dims[0]);
  });
  ExpectNoFailure(call);
  EXPECT_EQ(got, (std::vector<std::string>{"first", longLine, "\r", "last"}));
}

TEST_F(TextFiles, ReadLineInTurnAfterTheEndAndAgain) {
  const std::string longLine(300, 'x');
  const std::string file = File("t.txt", "one\ntwo\n" + longLine + "\r\nfour");
  EXPECT_EQ(ReadLineGuarded(file, 1).line, "one");
  EXPECT_EQ(ReadLineGuarded(file, 2).line, "two");
  // Longer than the first read: read again from its start, the carriage return dropped.
  EXPECT_EQ(ReadLineGuarded(file, 3).line, longLine);
  LineRead four = ReadLineGuarded(file, 4);
  EXPECT_EQ(four.line, "four");
  EXPECT_EQ(four.endOfFile, 0);
  LineRead past = ReadLineGuarded(file, 5);
  EXPECT_EQ(past.line, "");
  EXPECT_EQ(past.endOfFile, 1);
  // The cache forgot the stream at the end: line 1 reopens the file.
  EXPECT_EQ(ReadLineGuarded(file, 1).line, "one");
  EXPECT_EQ(ReadLineGuarded(file, 7).endOfFile, 1);
}

TEST_F(TextFiles, ALineOf300CharactersWithCarriageReturnGives299) {
  const std::string line(299, 'y');
  const std::string file = File("cr.txt", line + "\r\nnext\n");
  EXPECT_EQ(ReadLineGuarded(file, 1).line, line);
  EXPECT_EQ(ReadLineGuarded(file, 2).line, "next");
}

TEST_F(TextFiles, TwoFilesInterleavedKeepTheirOwnStreams) {
  const std::string a = File("a.txt", "a1\na2\na3\n");
  const std::string b = File("b.txt", "b1\nb2\nb3\n");
  const char* expected[][2] = {{"a1", "b1"}, {"a2", "b2"}, {"a3", "b3"}};
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(ReadLineGuarded(a, n).line, expected[n - 1][0]);
    EXPECT_EQ(ReadLineGuarded(b, n).line, expected[n - 1][1]);
  }
  EXPECT_EQ(ReadLineGuarded(b, 2).line, "b2");  // an earlier line rewinds
  EXPECT_EQ(ReadLineGuarded(a, 4).endOfFile, 1);
  EXPECT_EQ(ReadLineGuarded(b, 3).line, "b3");
}

TEST_F(TextFiles, CacheContinuesRewindsAndSkips) {
  static std::string file;
  file = File("n.txt", "1\n2\n3\n4\n5\n6\n7\n8\n");
  static long offsets[4];
  GuardedCallResult call = GuardedCall([] {
    FILE* s = FileCacheOpen(file.c_str(), 4);  // after four lines
    offsets[0] = Offset(s);
    FileCacheStore(s, file.c_str(), 5);  // as if line 5 had been read
    fgetc(s);
    fgetc(s);  // its reader moved it on: the cache keeps the stream where it stands
    s = FileCacheOpen(file.c_str(), 5);  // line 6 next: no skipping
    offsets[1] = Offset(s);
    FileCacheStore(s, file.c_str(), 6);
    s = FileCacheOpen(file.c_str(), 2);  // line 3 after line 6: rewinds and skips two
    offsets[2] = Offset(s);
    FileCacheStore(s, file.c_str(), 2);
    s = FileCacheOpen(file.c_str(), 0);  // zero always starts at the beginning
    offsets[3] = Offset(s);
    FileCacheStore(s, nullptr, 0);  // no name: closed
  });
  ExpectNoFailure(call);
  EXPECT_EQ(offsets[0], 8);
  EXPECT_EQ(offsets[1], 10);
  EXPECT_EQ(offsets[2], 4);
  EXPECT_EQ(offsets[3], 0);
}

TEST_F(TextFiles, FailuresEndTheEvaluationWithTheirTexts) {
  static std::string missing;
  missing = (root / "missing.txt").string();
  struct Case {
    const char* name;
    void (*call)(void);
    std::string text;
  } cases[] = {
      {"open", [] { ModelicaInternal_countLines(missing.c_str()); },
       "Not possible to open file \"" + missing + "\" for reading:\n" + strerror(ENOENT) + "\n"},
      {"line 0", [] { int eof; ModelicaInternal_readLine(missing.c_str(), 0, &eof); },
       "Not possible to read line 0 from file\n\"" + missing + "\":\nline numbers start at 1"},
      {"line -3", [] { int eof; ModelicaInternal_readLine(missing.c_str(), -3, &eof); },
       "Not possible to read line -3 from file\n\"" + missing + "\":\nline numbers start at 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuardedCallResult call = GuardedCall(c.call);
    ASSERT_TRUE(call.jumped);
    ASSERT_GE(call.texts().size(), 2u);
    EXPECT_EQ(call.texts()[1], c.text);
  }
  // A line that does not fit the string area: the stream is closed and forgotten.
  static std::string big;
  big = File("big.txt", std::string(12000, 'z') + "\nsecond\n");
  GuardedCallResult noRoom = GuardedCall([] {
    MarkReset();
    int eof;
    ModelicaInternal_readLine(big.c_str(), 1, &eof);
  });
  ASSERT_TRUE(noRoom.jumped);
  EXPECT_EQ(noRoom.texts()[1].rfind("Error when reading line 1 from file\n\"" + big + "\":\n", 0), 0u);
  EXPECT_EQ(ReadLineGuarded(big, 2).line, "second");
  GuardedCallResult wholeNoRoom = GuardedCall([] {
    MarkReset();
    const char* lines[2] = {};
    ModelicaInternal_readFile(big.c_str(), lines, 2);
  });
  ASSERT_TRUE(wholeNoRoom.jumped);
  EXPECT_EQ(wholeNoRoom.texts()[1], "Not enough memory to allocate string for reading line 1 from file\n\"" +
                                        big + "\".\n(this file contains 2 lines)\n");
  modelDataTemplate.status = 0;
}

TEST_F(TextFiles, StoringReplacesTheCachedStreamAndKeepsOneStoredTwice) {
  static std::string file;
  file = File("r.txt", "1\n2\n3\n4\n");
  static long offsets[2];
  GuardedCallResult call = GuardedCall([] {
    FILE* first = FileCacheOpen(file.c_str(), 1);
    FILE* second = FileCacheOpen(file.c_str(), 2);  // nothing cached yet: a stream of its own
    FileCacheStore(first, file.c_str(), 1);
    FileCacheStore(second, file.c_str(), 2);  // first is closed, second cached
    FileCacheStore(second, file.c_str(), 2);  // the same stream again: kept open
    FILE* s = FileCacheOpen(file.c_str(), 3);
    offsets[0] = ftell(s);
    FileCacheStore(s, file.c_str(), 3);
    s = FileCacheOpen(file.c_str(), 3);
    offsets[1] = ftell(s);
    FileCacheStore(s, file.c_str(), 3);
  });
  ExpectNoFailure(call);
  EXPECT_EQ(offsets[0], 6);
  EXPECT_EQ(offsets[1], 6);
}

TEST_F(TextFiles, DeletingTheLockAtUnloadClosesEveryCachedStream) {
  static std::string file;
  file = File("u.txt", "1\n2\n3\n4\n");
  static long offset;
  GuardedCallResult call = GuardedCall([] {
    // A stream claimed to stand after three lines but left at the start: only a cached stream
    // would come back there.
    FILE* s = fopen(file.c_str(), "r");
    FileCacheStore(s, file.c_str(), 3);
    FileCacheLockDelete();
    FileCacheLockCreate();
    s = FileCacheOpen(file.c_str(), 3);
    offset = ftell(s);
    fclose(s);
  });
  ExpectNoFailure(call);
  EXPECT_EQ(offset, 6);
}
