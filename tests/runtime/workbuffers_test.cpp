// The thread's work buffers: the allocation limits with their condition texts, failures that stay
// failed, the marks, and the "Non" pools.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "guarded_call.h"
#include "threadblock.h"
#include "workbuffers.h"

namespace {

struct AllocatorCase {
  const char* buffer;
  void* (*allocate)(int n);
  int capacity;
  size_t elementSize;
  const char* conditionText;
  const char* message;
};

const char realMessage[] =
    "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can change the memory size by setting the variable "
    "Advanced.RealBufferSize.";
const char integerMessage[] =
    "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in velmar/source/matrixop.";
const char sizeMessage[] =
    "Out of memory for array dimensions\nIt could due to too many matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Sizebuffer' in velmar/source/matrixop.";
const char stringMessage[] =
    "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in velmar/source/matrixop.";

const AllocatorCase threadBuffers[] = {
    {"Realbuffer", [](int n) -> void* { return AllocateReals(n); }, 500000, sizeof(double),
     "currentMark.place.Realbuffer<EndRealbuffer", realMessage},
    {"Integerbuffer", [](int n) -> void* { return AllocateIntegers(n); }, 50000, sizeof(int32_t),
     "currentMark.place.Integerbuffer<EndIntegerbuffer", integerMessage},
    {"Sizebuffer", [](int n) -> void* { return AllocateSizes(n); }, 50000, sizeof(int32_t),
     "currentMark.place.Sizebuffer<EndSizebuffer", sizeMessage},
    {"Stringbuffer", [](int n) -> void* { return AllocateStrings(n); }, 10000, sizeof(char*),
     "currentMark.place.Stringbuffer<EndStringbuffer", stringMessage},
};

const AllocatorCase nonPools[] = {
    {"Real pool", [](int n) -> void* { return AllocateRealsNon(n); }, 70000, sizeof(double),
     "currentMarkNon.place.Realbuffer<EndRealbufferNon", realMessage},
    {"Integer pool", [](int n) -> void* { return AllocateIntegersNon(n); }, 50000, sizeof(int32_t),
     "currentMarkNon.place.Integerbuffer<EndIntegerbufferNon", integerMessage},
    {"Size pool", [](int n) -> void* { return AllocateSizesNon(n); }, 50000, sizeof(int32_t),
     "currentMarkNon.place.Sizebuffer<EndSizebufferNon", sizeMessage},
    {"String pool", [](int n) -> void* { return AllocateStringsNon(n); }, 10000, sizeof(char*),
     "currentMarkNon.place.Stringbuffer<EndStringbufferNon", stringMessage},
};

ModelData record;

// Runs one allocation under the error jump; returns the address it gave (null when it failed).
struct Allocation {
  void* address = nullptr;
  GuardedCallResult call;
};

Allocation allocateGuarded(const AllocatorCase& c, int n) {
  Allocation result;
  result.call = GuardedCall([&] { result.address = c.allocate(n); }, &record);
  if (result.call.jumped) result.address = nullptr;
  return result;
}

void expectOverflowReport(const AllocatorCase& c, const GuardedCallResult& call) {
  ASSERT_TRUE(call.jumped) << c.buffer;
  std::vector<std::string> texts = call.texts();
  ASSERT_GE(texts.size(), 3u) << c.buffer;
  EXPECT_EQ(texts[0], c.conditionText);
  EXPECT_EQ(texts[1].rfind("The following error was detected at time: ", 0), 0u) << texts[1];
  EXPECT_EQ(texts[2], c.message);
  for (int level : call.levels()) EXPECT_EQ(level, 2);
}

void* byteOffset(void* base, size_t bytes) { return static_cast<char*>(base) + bytes; }

}  // namespace

TEST(WorkBuffers, LastSlotIsNeverHandedOutAndOverflowFailsWithTheBufferTexts) {
  EnsureRuntimeAttached();
  for (const AllocatorCase& c : threadBuffers) {
    GuardedCall([] { MarkReset(); });
    Allocation largest = allocateGuarded(c, c.capacity - 1);
    ASSERT_FALSE(largest.call.jumped) << c.buffer;
    ASSERT_NE(largest.address, nullptr);
    // The whole grant is usable: its last element lies inside the buffer.
    static_cast<char*>(largest.address)[(c.capacity - 1) * c.elementSize - 1] = 1;
    Allocation next = allocateGuarded(c, 1);
    expectOverflowReport(c, next.call);

    GuardedCall([] { MarkReset(); });
    Allocation exact = allocateGuarded(c, c.capacity);  // would end exactly at the end
    expectOverflowReport(c, exact.call);
    GuardedCall([] { MarkReset(); });
    Allocation empty = allocateGuarded(c, 0);
    EXPECT_FALSE(empty.call.jumped) << c.buffer;
    EXPECT_EQ(empty.address, largest.address) << "an empty request takes nothing";
  }
}

TEST(WorkBuffers, FailedRequestLeavesThePlaceAdvancedUntilAMarkMovesIt) {
  EnsureRuntimeAttached();
  const AllocatorCase& reals = threadBuffers[0];
  GuardedCall([] { MarkReset(); });
  SavedMarks before{};
  GuardedCall([&] { before = MarkSave(); });
  Allocation first = allocateGuarded(reals, 10);
  ASSERT_FALSE(first.call.jumped);

  Allocation tooLarge = allocateGuarded(reals, 600000);
  expectOverflowReport(reals, tooLarge.call);
  ThreadBlock* block = PeekThreadBlock();
  EXPECT_EQ(block->currentMark.place.Realbuffer, static_cast<double*>(byteOffset(first.address, 600010 * sizeof(double))))
      << "the place stays where the failed request moved it";

  // Even a small request fails now, and so does an empty one.
  expectOverflowReport(reals, allocateGuarded(reals, 1).call);
  expectOverflowReport(reals, allocateGuarded(reals, 0).call);

  GuardedCall([&] { MarkRestore(before); });
  Allocation again = allocateGuarded(reals, 1);
  EXPECT_FALSE(again.call.jumped);
  EXPECT_EQ(again.address, first.address);
}

TEST(WorkBuffers, NegativeCountFailsWithoutMovingThePlace) {
  EnsureRuntimeAttached();
  for (const AllocatorCase& c : threadBuffers) {
    GuardedCall([] { MarkReset(); });
    Allocation negative = allocateGuarded(c, -5);
    ASSERT_TRUE(negative.call.jumped) << c.buffer;
    EXPECT_EQ(negative.call.texts()[0], "n>=0");
    Allocation next = allocateGuarded(c, 1);
    EXPECT_FALSE(next.call.jumped);
    ThreadBlock* block = PeekThreadBlock();
    void* const bases[] = {block->baseMark.place.Realbuffer, block->baseMark.place.Integerbuffer,
                           block->baseMark.place.Sizebuffer, block->baseMark.place.Stringbuffer};
    EXPECT_EQ(next.address, bases[&c - threadBuffers]) << c.buffer;
  }
}

TEST(WorkBufferMarks, RestoreReleasesEverythingAllocatedInsideTheBracket) {
  EnsureRuntimeAttached();
  double* inside = nullptr;
  double* after = nullptr;
  int32_t* integersInside = nullptr;
  int32_t* integersAfter = nullptr;
  GuardedCallResult call = GuardedCall([&] {
    MarkReset();
    AllocateReals(3);  // lives outside the bracket
    SavedMarks marks = MarkSave();
    inside = AllocateReals(100);
    AllocateReals(7);
    integersInside = AllocateIntegers(4);
    MarkRestore(marks);
    after = AllocateReals(1);
    integersAfter = AllocateIntegers(1);
  });
  ASSERT_FALSE(call.jumped);
  EXPECT_EQ(after, inside);
  EXPECT_EQ(integersAfter, integersInside);
}

TEST(WorkBufferMarks, NestedBracketsRestoreTheSavedMarkOfTheOuterOne) {
  EnsureRuntimeAttached();
  double* outerStart = nullptr;
  double* afterSaved = nullptr;
  GuardedCallResult call = GuardedCall([&] {
    MarkReset();
    SavedMarks outer = MarkSave();
    outerStart = AllocateReals(5);
    SavedMarks inner = MarkSave();
    AllocateReals(5);
    MarkRestore(inner);
    AllocateReals(20);
    // savedMark is the outer bracket's again, so restoring it releases both allocations.
    MarkRestoreSaved();
    afterSaved = AllocateReals(1);
    MarkRestore(outer);
  });
  ASSERT_FALSE(call.jumped);
  EXPECT_EQ(afterSaved, outerStart);
}

TEST(WorkBufferMarks, MarkGetRemembersThePointThatMarkRestoreSavedReturnsTo) {
  EnsureRuntimeAttached();
  BufferMark got{};
  double* atGet = nullptr;
  double* afterRestore = nullptr;
  GuardedCallResult call = GuardedCall([&] {
    MarkReset();
    AllocateReals(11);
    MarkGet(&got);
    atGet = AllocateReals(2);
    AllocateReals(50);
    MarkRestoreSaved();
    afterRestore = AllocateReals(1);
    MarkGet(nullptr);  // allowed without an output
  });
  ASSERT_FALSE(call.jumped);
  EXPECT_EQ(got.place.Realbuffer, atGet);
  EXPECT_EQ(afterRestore, atGet);
}

TEST(WorkBufferMarks, ResetReleasesEveryTemporaryIncludingStrings) {
  EnsureRuntimeAttached();
  ThreadBlock* block = nullptr;
  GuardedCallResult call = GuardedCall([&] {
    MarkReset();
    block = PeekThreadBlock();
    AllocateReals(10);
    AllocateIntegers(10);
    AllocateSizes(10);
    AllocateStrings(10);
    MarkSave();
    block->stringmark += 25;  // as a string allocation does
    MarkReset();
  });
  ASSERT_FALSE(call.jumped);
  EXPECT_EQ(block->currentMark.place.Realbuffer, block->baseMark.place.Realbuffer);
  EXPECT_EQ(block->currentMark.place.Integerbuffer, block->baseMark.place.Integerbuffer);
  EXPECT_EQ(block->currentMark.place.Sizebuffer, block->baseMark.place.Sizebuffer);
  EXPECT_EQ(block->currentMark.place.Stringbuffer, block->baseMark.place.Stringbuffer);
  EXPECT_EQ(block->savedMark.place.Realbuffer, block->resetSavedMark.place.Realbuffer);
  EXPECT_EQ(block->stringmark, block->stringBase);
}

TEST(NonPools, LastSlotIsNeverHandedOutAndOverflowFailsWithThePoolTexts) {
  EnsureRuntimeAttached();
  // The pools are process-wide and never released, so other tests of this process may have taken
  // from them: the test starts each pool afresh and gives the process its marks back at the end.
  const BufferMark before = currentMarkNon;
  void* const ends[] = {EndRealbufferNon, EndIntegerbufferNon, EndSizebufferNon, EndStringbufferNon};
  const int sizes[] = {realPoolSize, integerPoolSize, sizePoolSize, stringPoolSize};
  void* starts[4];
  for (const AllocatorCase& c : nonPools) {
    const size_t index = &c - nonPools;
    ASSERT_EQ(sizes[index], c.capacity) << c.buffer;
    starts[index] = static_cast<char*>(ends[index]) - c.capacity * c.elementSize;
  }
  currentMarkNon.place.Realbuffer = static_cast<double*>(starts[0]);
  currentMarkNon.place.Integerbuffer = static_cast<int32_t*>(starts[1]);
  currentMarkNon.place.Sizebuffer = static_cast<int32_t*>(starts[2]);
  currentMarkNon.place.Stringbuffer = static_cast<char**>(starts[3]);
  for (const AllocatorCase& c : nonPools) {
    const size_t index = &c - nonPools;
    Allocation largest = allocateGuarded(c, c.capacity - 1);
    ASSERT_FALSE(largest.call.jumped) << c.buffer;
    EXPECT_EQ(largest.address, starts[index]);
    // The whole grant is usable: its last byte lies inside the pool.
    static_cast<char*>(largest.address)[(c.capacity - 1) * c.elementSize - 1] = 1;
    expectOverflowReport(c, allocateGuarded(c, 1).call);
    // Nothing releases a pool: it stays failed.
    GuardedCall([] { MarkReset(); });
    expectOverflowReport(c, allocateGuarded(c, 0).call);
  }
  currentMarkNon = before;  // test-only: give the process its pools back
}
