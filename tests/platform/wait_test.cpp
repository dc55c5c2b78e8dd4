// Waiting for a descriptor and reading one fully: the descriptors and events a wait refuses, the
// states that count as ready, a wait that sleeps until the other end acts (signals included), and
// the reads that end early, fail, or wait for bytes that are not there yet.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "platform.h"
#include "thread_sleep.h"

namespace {

struct Ends {
  int read = -1, write = -1;
  explicit Ends(bool socket = false) {
    int ends[2];
    int made = socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) : pipe2(ends, O_CLOEXEC);
    if (made == 0) read = ends[0], write = ends[1];
  }
  void closeRead() { read = closed(read); }
  void closeWrite() { write = closed(write); }
  ~Ends() {
    closeRead();
    closeWrite();
  }

 private:
  static int closed(int descriptor) {
    if (descriptor >= 0) close(descriptor);
    return -1;
  }
};

int pendingBytes(int descriptor) {
  int count = -1;
  return ioctl(descriptor, FIONREAD, &count) == 0 ? count : -1;
}

void setNonBlocking(int descriptor) { fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK); }

TEST(PlatformWait, RefusesDescriptorsThatAreNotOpenAndUnknownEvents) {
  Ends open;
  // A number freed last, so that nothing has it again.
  Ends closed;
  int notOpen = closed.read;
  closed.closeRead();
  struct Case {
    const char* name;
    int descriptor;
    int events;
    int error;
  } cases[] = {
      {"negative descriptor", -1, PLATFORM_WAIT_READ, EBADF},
      {"another negative descriptor", -7, PLATFORM_WAIT_WRITE, EBADF},
      {"closed descriptor", notOpen, PLATFORM_WAIT_READ, EBADF},
      {"no events", open.write, 0, EINVAL},
      {"an unknown event", open.write, 4, EINVAL},
      {"known and unknown events", open.write, PLATFORM_WAIT_READ | PLATFORM_WAIT_WRITE | 8, EINVAL},
      {"all bits", open.write, -1, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    EXPECT_EQ(PlatformFileWait(c.descriptor, c.events), -1);
    EXPECT_EQ(errno, c.error);
  }
}

TEST(PlatformWait, ReturnsAtOnceForADescriptorThatIsReadyOrHasEnded) {
  struct Case {
    const char* name;
    bool socket;
    void (*prepare)(Ends&);
    bool waitOnRead;
    int events;
  } cases[] = {
      {"bytes to read", false, [](Ends& e) { ASSERT_EQ(write(e.write, "x", 1), 1); }, true, PLATFORM_WAIT_READ},
      {"room to write", false, [](Ends&) {}, false, PLATFORM_WAIT_WRITE},
      // The next read gives the end of the stream.
      {"writer gone", false, [](Ends& e) { e.closeWrite(); }, true, PLATFORM_WAIT_READ},
      // The next write fails (EPIPE).
      {"reader gone", false, [](Ends& e) { e.closeRead(); }, false, PLATFORM_WAIT_WRITE},
      // Nothing to read, but room to write: either is enough.
      {"either of two", true, [](Ends&) {}, true, PLATFORM_WAIT_READ | PLATFORM_WAIT_WRITE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ends ends(c.socket);
    ASSERT_GE(ends.read, 0);
    c.prepare(ends);
    EXPECT_EQ(PlatformFileWait(c.waitOnRead ? ends.read : ends.write, c.events), 0);
  }
}

std::atomic<int> signalsSeen{0};
void countSignal(int) { ++signalsSeen; }

TEST(PlatformWait, SleepsUntilTheOtherEndActsAndWaitsThroughASignal) {
  // A handler installed without SA_RESTART makes the signal interrupt the wait.
  struct sigaction action = {}, previous = {};
  action.sa_handler = countSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  signalsSeen = 0;

  Ends ends;
  std::atomic<int> waiter{0};
  int result = -2, error = 0;
  std::thread thread([&] {
    waiter = ThisThreadId();
    result = PlatformFileWait(ends.read, PLATFORM_WAIT_READ);
    error = errno;
  });
  while (waiter == 0) std::this_thread::yield();
  EXPECT_TRUE(WaitUntilAsleep(waiter, [] { return true; })) << "the wait never slept";
  pthread_kill(thread.native_handle(), SIGUSR1);
  while (signalsSeen == 0) std::this_thread::yield();
  EXPECT_TRUE(WaitUntilAsleep(waiter, [] { return true; })) << "the wait ended with the signal";
  ASSERT_EQ(write(ends.write, "x", 1), 1);
  thread.join();
  EXPECT_EQ(result, 0) << strerror(error);
  sigaction(SIGUSR1, &previous, nullptr);
}

TEST(PlatformReadFully, GivesWhatTheStreamHeldUpToItsEndOrFails) {
  struct Case {
    const char* name;
    const char* written;  // null: the descriptor is not a pipe's read end
    bool endStream;
    int descriptor;  // used when `written` is null
    size_t size;
    long result;
    int error;
    const char* expected;
  } cases[] = {
      {"all there", "abcdef", false, -1, 6, 6, 0, "abcdef"},
      {"more than asked", "abcdefgh", false, -1, 6, 6, 0, "abcdef"},
      {"stream ends early", "abc", true, -1, 6, 3, 0, "abc"},
      {"stream ended", "", true, -1, 6, 0, 0, ""},
      {"nothing asked", "", false, -1, 0, 0, 0, ""},
      {"negative descriptor", nullptr, false, -1, 6, -1, EBADF, ""},
      {"write-only descriptor", nullptr, false, 0, 6, -1, EBADF, ""},
      {"a folder", nullptr, false, 1, 6, -1, EISDIR, ""},
      {"a size no count can hold", nullptr, false, 1, static_cast<size_t>(LONG_MAX) + 1, -1, EINVAL, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ends ends;
    int descriptor = ends.read;
    int folder = -1;
    if (c.written != nullptr) {
      ASSERT_EQ(write(ends.write, c.written, strlen(c.written)), static_cast<ssize_t>(strlen(c.written)));
      if (c.endStream) ends.closeWrite();
    } else if (c.descriptor == 0) {
      descriptor = ends.write;
    } else if (c.descriptor == 1) {
      descriptor = folder = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
      descriptor = c.descriptor;
    }
    char buffer[16] = {};
    errno = 0;
    EXPECT_EQ(PlatformFileReadFully(descriptor, buffer, c.size), c.result);
    if (c.result < 0) {
      EXPECT_EQ(errno, c.error);
    }
    EXPECT_STREQ(buffer, c.expected);
    if (folder >= 0) close(folder);
  }
}

TEST(PlatformReadFully, WaitsForANonBlockingDescriptorToDeliverEveryByte) {
  for (bool socket : {false, true}) {
    SCOPED_TRACE(socket ? "socket" : "pipe");
    Ends ends(socket);
    setNonBlocking(ends.read);
    std::atomic<int> reader{0};
    long result = -2;
    char buffer[8] = {};
    std::thread thread([&] {
      reader = ThisThreadId();
      result = PlatformFileReadFully(ends.read, buffer, 6);
    });
    while (reader == 0) std::this_thread::yield();
    // Asleep with nothing to read, then again once the first piece is taken.
    auto drained = [&] { return pendingBytes(ends.read) == 0; };
    EXPECT_TRUE(WaitUntilAsleep(reader, drained)) << "the read never slept";
    ASSERT_EQ(write(ends.write, "abc", 3), 3);
    EXPECT_TRUE(WaitUntilAsleep(reader, drained)) << "the read never slept after a piece";
    ASSERT_EQ(write(ends.write, "defgh", 5), 5);
    thread.join();
    EXPECT_EQ(result, 6);
    EXPECT_STREQ(buffer, "abcdef");
  }
}

}  // namespace
