// The platform layer: thread slot with exit callback, lock, module path, loader, clocks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform.h"

namespace {
std::atomic<int> exitCalls{0};
void* lastExitValue = nullptr;
extern "C" void onExit(void* value) {
  ++exitCalls;
  lastExitValue = value;
}
}  // namespace

TEST(PlatformSlot, EachThreadHasItsOwnValueAndExitReleasesIt) {
  ASSERT_EQ(PlatformSlotCreate(onExit), 0);
  EXPECT_EQ(PlatformSlotCreated(), 1);
  int mine = 1, theirs = 2;
  ASSERT_EQ(PlatformSlotSet(&mine), 0);
  exitCalls = 0;
  std::thread worker([&] {
    EXPECT_EQ(PlatformSlotGet(), nullptr);
    EXPECT_EQ(PlatformSlotSet(&theirs), 0);
    EXPECT_EQ(PlatformSlotGet(), &theirs);
  });
  worker.join();
  EXPECT_EQ(exitCalls.load(), 1);
  EXPECT_EQ(lastExitValue, &theirs);
  EXPECT_EQ(PlatformSlotGet(), &mine);

  std::thread idle([] {});  // never set a value: no exit callback
  idle.join();
  EXPECT_EQ(exitCalls.load(), 1);

  PlatformSlotSet(nullptr);
  PlatformSlotDelete();
  EXPECT_EQ(PlatformSlotCreated(), 0);
  EXPECT_EQ(PlatformSlotGet(), nullptr);
  EXPECT_EQ(PlatformSlotSet(&mine), -1);
}

TEST(PlatformLock, GuardsACounterAcrossThreads) {
  PlatformLock* lock = PlatformLockCreate();
  ASSERT_NE(lock, nullptr);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      PlatformLockEnter(lock);
      ++counter;
      PlatformLockLeave(lock);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
  PlatformLockDelete(lock);
}

TEST(PlatformModule, PathIsAbsoluteAndBoundedByTheBuffer) {
  char path[4096];
  int length = PlatformModulePath(path, sizeof path);
  ASSERT_GT(length, 0);
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(static_cast<size_t>(length), strlen(path));
  char tiny[4];
  EXPECT_EQ(PlatformModulePath(tiny, sizeof tiny), -1);
  EXPECT_EQ(tiny[0], '\0');
  EXPECT_EQ(PlatformModulePath(nullptr, 10), -1);
}

TEST(PlatformLibrary, OpensResolvesAndClosesAndReportsFailure) {
  void* libm = PlatformLibraryOpen("libm.so.6");
  ASSERT_NE(libm, nullptr) << PlatformLibraryError();
  EXPECT_NE(PlatformLibrarySymbol(libm, "cos"), nullptr);
  EXPECT_EQ(PlatformLibrarySymbol(libm, "no_such_symbol_here"), nullptr);
  EXPECT_EQ(PlatformLibraryClose(libm), 0);
  EXPECT_EQ(PlatformLibraryOpen("/no/such/library.so"), nullptr);
  EXPECT_STRNE(PlatformLibraryError(), "");
  EXPECT_EQ(PlatformLibraryOpen(nullptr), nullptr);
  EXPECT_EQ(PlatformLibraryClose(nullptr), -1);
}

TEST(PlatformClock, ClocksDoNotGoBackwards) {
  double wall = PlatformElapsedMilliseconds();
  double cpu = PlatformProcessMilliseconds();
  volatile double sink = 0;
  for (int i = 0; i < 2000000; ++i) sink = sink + i;
  EXPECT_GE(PlatformElapsedMilliseconds(), wall);
  EXPECT_GE(PlatformProcessMilliseconds(), cpu);
}
