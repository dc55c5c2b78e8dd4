// The thread block's lifecycle: created on first use, buffers on first allocation, released at
// thread exit and unload; orderly failure when the block or a buffer cannot be allocated; the
// record a thread evaluates.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "entry.h"
#include "errorjump.h"
#include "errors.h"
#include "globalcontext.h"
#include "guarded_call.h"
#include "messages.h"
#include "threadblock.h"
#include "workbuffers.h"

namespace {

// calloc that counts its calls and fails the failAt-th one (1-based; 0 never).
std::atomic<int> allocatorCalls{0};
std::atomic<int> allocatorFailAt{0};
void* countingCalloc(size_t count, size_t size) {
  int call = ++allocatorCalls;
  return call == allocatorFailAt ? nullptr : calloc(count, size);
}

class CountedAllocation : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureRuntimeAttached();
    allocatorCalls = 0;
    allocatorFailAt = 0;
    SetThreadMemoryAllocator(countingCalloc);
  }
  void TearDown() override { SetThreadMemoryAllocator(nullptr); }
};

// QiErr as the driver returns it: 1 when no evaluation could start or a runtime error ended it.
int qiErrOf(const GuardedCallResult& call) { return !call.armed || call.jumped ? 1 : 0; }

template <typename Body>
void onNewThread(Body body) {
  std::thread worker(body);
  worker.join();
}

ModelData recordA;
ModelData recordB;

}  // namespace

TEST_F(CountedAllocation, ThreadThatNeverEvaluatesGetsNoBlock) {
  const BufferMark pools = currentMarkNon;
  onNewThread([] {
    RuntimeMessageRecorder recorder;
    LogMessage("a message outside any evaluation");
    GetModelTime();
    EXPECT_NE(GetStatusPointer(), nullptr);
    GetLogFlags();
    ClearCurrentModelData();
    ReleaseCurrentModelData(&recordA);
    EXPECT_FALSE(ErrorJumpIsArmed());
    ReportError("a warning", 1);
    const BufferMark pools = currentMarkNon;
    AllocateRealsNon(1);  // the static pools belong to no thread
    currentMarkNon = pools;  // test-only: the slot goes back to the process
    EXPECT_EQ(PeekThreadBlock(), nullptr);
  });
  currentMarkNon = pools;  // test-only: the pools' tests expect them untouched
  EXPECT_EQ(allocatorCalls.load(), 0);
}

TEST_F(CountedAllocation, FirstAllocationCreatesAllFiveBuffersAtOnce) {
  onNewThread([] {
    ThreadBlock* block = GetThreadBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocatorCalls.load(), 1) << "the block alone";
    EXPECT_EQ(block->EndRealbuffer, nullptr) << "no buffers before the first allocation";
    GuardedCallResult call = GuardedCall([] { AllocateIntegers(1); });
    ASSERT_EQ(qiErrOf(call), 0);
    EXPECT_EQ(allocatorCalls.load(), 6);
    EXPECT_EQ(block->EndRealbuffer - block->baseMark.place.Realbuffer, 500000);
    EXPECT_EQ(block->EndIntegerbuffer - block->baseMark.place.Integerbuffer, 50000);
    EXPECT_EQ(block->EndSizebuffer - block->baseMark.place.Sizebuffer, 50000);
    EXPECT_EQ(block->EndStringbuffer - block->baseMark.place.Stringbuffer, 10000);
    EXPECT_EQ(block->Endsimplestring - block->stringBase, 10000);
    EXPECT_EQ(block->stringmark, block->stringBase);
    EXPECT_EQ(block->baseMark.place.Realbuffer[499999], 0.0);
    GuardedCall([] { MarkReset(); });
    EXPECT_EQ(allocatorCalls.load(), 6) << "later operations take nothing from the heap";
  });
}

TEST_F(CountedAllocation, ThreadExitReleasesItsBlockAndBuffers) {
  // LeakSanitizer checks that nothing stays behind; the count shows the thread really allocated.
  std::atomic<ThreadBlock*> seen{nullptr};
  onNewThread([&] {
    GuardedCallResult call = GuardedCall([] {
      double* v = AllocateReals(1000);
      v[999] = 1.0;
      AllocateStrings(3);
    });
    EXPECT_EQ(qiErrOf(call), 0);
    seen = PeekThreadBlock();
  });
  EXPECT_NE(seen.load(), nullptr);
  EXPECT_EQ(allocatorCalls.load(), 6);
  EXPECT_NE(PeekThreadBlock(), seen.load()) << "each thread has its own block";
}

TEST(ProcessDetach, FreesTheCallersBlockAndTheSlot) {
  EnsureRuntimeAttached();
  ASSERT_EQ(qiErrOf(GuardedCall([] { AllocateReals(5); })), 0);
  ASSERT_NE(PeekThreadBlock(), nullptr);
  RuntimeProcessDetach();  // LeakSanitizer checks that the block and its buffers went with it
  EXPECT_EQ(PeekThreadBlock(), nullptr);
  // Without a slot no block can be kept, so no evaluation starts.
  EXPECT_EQ(GetThreadBlock(), nullptr);
  ErrorJumpFrame frame;
  EXPECT_EQ(ErrorJumpEnter(&frame, &recordA), nullptr);
  EXPECT_EQ(RuntimeProcessAttach(), 0);
}

TEST_F(CountedAllocation, FailedBlockOrBufferAllocationEndsTheEvaluationInAnOrderlyWay) {
  struct Case {
    const char* what;
    int failAt;  // 1 the block, then the five buffers in their order of creation
  } cases[] = {{"thread block", 1}, {"Realbuffer", 2},   {"Integerbuffer", 3},
               {"Sizebuffer", 4},   {"Stringbuffer", 5}, {"string area", 6}};
  for (const Case& c : cases) {
    allocatorCalls = 0;
    allocatorFailAt = c.failAt;
    onNewThread([&] {
      static bool bodyFinished;
      bodyFinished = false;
      recordA.status = 0;
      GuardedCallResult call = GuardedCall(
          [] {
            AllocateReals(10)[9] = 1.0;
            bodyFinished = true;
          },
          &recordA);
      EXPECT_EQ(qiErrOf(call), 1) << c.what;
      EXPECT_FALSE(bodyFinished) << c.what;
      ThreadBlock* block = PeekThreadBlock();
      if (c.failAt == 1) {
        EXPECT_FALSE(call.armed);
        EXPECT_TRUE(call.messages.empty());
        EXPECT_EQ(block, nullptr);
        return;
      }
      ASSERT_TRUE(call.jumped) << c.what;
      ASSERT_FALSE(call.messages.empty());
      EXPECT_EQ(call.messages[0].text, "EndRealbuffer!=NULL") << c.what;
      EXPECT_EQ(call.messages[0].level, 2);
      EXPECT_EQ(recordA.status, 1);
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(block->EndRealbuffer, nullptr) << "no partial set of buffers is kept";
      EXPECT_EQ(block->baseMark.place.Realbuffer, nullptr);
      // Once memory is there again, the next evaluation on the thread gets its buffers.
      allocatorFailAt = 0;
      EXPECT_EQ(qiErrOf(GuardedCall([] { AllocateReals(10)[9] = 1.0; })), 0) << c.what;
    });
  }
}

TEST(CurrentModelData, RuntimeReadsTheRecordBeingEvaluatedElseTheTemplate) {
  EnsureRuntimeAttached();
  recordA.time = 2.5;
  recordB.time = 7.0;
  modelDataTemplate.time = -1.0;
  onNewThread([] {
    EXPECT_EQ(GetModelTime(), -1.0) << "no block: the template";
    EXPECT_EQ(GetStatusPointer(), &modelDataTemplate.status);
    EXPECT_EQ(GetCurrentRunRecord(), static_cast<void*>(modelDataTemplate.externalObjects));
    SetCurrentModelData(&recordA);
    EXPECT_EQ(GetModelTime(), 2.5);
    EXPECT_EQ(GetStatusPointer(), &recordA.status);
    EXPECT_EQ(GetCurrentRunRecord(), static_cast<void*>(recordA.externalObjects));

    GuardedCallResult call = GuardedCall([] { EXPECT_EQ(GetModelTime(), 7.0); }, &recordB);
    EXPECT_TRUE(call.armed);
    EXPECT_EQ(PeekThreadBlock()->currentModelData, &recordA) << "the evaluation gives back the record before it";

    ReleaseCurrentModelData(&recordB);
    EXPECT_EQ(PeekThreadBlock()->currentModelData, &recordA) << "another record is released";
    ReleaseCurrentModelData(&recordA);
    EXPECT_EQ(PeekThreadBlock()->currentModelData, nullptr);
    EXPECT_EQ(GetModelTime(), -1.0);

    SetCurrentModelData(&recordA);
    PeekThreadBlock()->functionStackTag = 4;
    ClearCurrentModelData();
    EXPECT_EQ(PeekThreadBlock()->currentModelData, nullptr);
    EXPECT_EQ(PeekThreadBlock()->functionStackTag, 0);
  });
}

TEST(CurrentModelData, EvaluationLeavesNoPointerToItsRecordBehind) {
  EnsureRuntimeAttached();
  onNewThread([] {
    ModelData* record = static_cast<ModelData*>(calloc(1, sizeof(ModelData)));
    record->time = 3.0;
    GuardedCallResult call = GuardedCall([] { RaiseError("failed"); }, record);
    EXPECT_TRUE(call.jumped);
    free(record);
    // Reading the time of an error report after the record is gone reads the template instead.
    EXPECT_EQ(PeekThreadBlock()->currentModelData, nullptr);
    EXPECT_EQ(GetModelTime(), modelDataTemplate.time);
  });
}
