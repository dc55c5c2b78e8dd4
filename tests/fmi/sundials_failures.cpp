// Allocation failures inside the integrator's SUNDIALS calls: each C-heap allocation of a set-up,
// of the first steps, of a restart, of a copy into an FMU state, of a restore and of a release
// fails in turn. At every point the process lives, nothing reaches the standard error stream,
// the call refuses (the set-up and the steps with a SUNDIALS_ERROR message, the copy with
// "memory allocation failed"), the record that owned the SUNDIALS objects holds none any more,
// nothing is leaked, and a later set-up integrates again.
//
// The program has a C heap of its own (failing_heap.h) under the SUNDIALS objects, which the
// unit links onto its tracked allocator; the host's callbacks run with that heap disarmed.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "case_names.h"
#include "cosim_instance.h"
#include "disarmed_callbacks.h"
#include "failing_heap.h"
#include "fmu_host.h"
#include "fmustate.h"
#include "guarded_call.h"
#include "initialize.h"
#include "instantiate.h"
#include "integrator.h"
#include "stderr_capture.h"
#include "stepping.h"
#include "tracked_call.h"
#include "values.h"

namespace {


// The SUNDIALS objects a record holds, each of them cleared after a failed call.
bool holdsNoSundialsObject(const CoSimIntegrator* r) {
  return !r->context && !r->stateVector && !r->cvode.memory && !r->absoluteTolerances && !r->relativeTolerances &&
         !r->errorWeights && !r->perturbedDerivatives && !r->savedStates && !r->denseMatrix && !r->linearSolver &&
         trackedListCount(&r->sundialsBlocks) == 0;
}

// The live blocks the armed heap remembers that are on the owner's list.
int64_t rememberedBlocksOf(const ModelInstance* owner) {
  if (!owner || !owner->integrator || !owner->integrator->sundialsBlocks.next) return 0;
  const TrackedBlock* list = &owner->integrator->sundialsBlocks;
  int64_t count = 0;
  for (const TrackedBlock* block = list->next; block != list; block = block->next)
    if (heap::remembered(block)) ++count;
  return count;
}

class SundialsFailures : public ::testing::Test {
 public:
  void SetUp() override {
    EnsureRuntimeAttached();
    resetHostAllocator();
    heap::reset();
    disarmedRecording = &host;
  }

  void TearDown() override { disarmedRecording = nullptr; }

  // A Co-Simulation instance just after initialisation, its input moving the filters.
  void start() {
    ASSERT_NO_FATAL_FAILURE(instantiateCoSimRun(&callbacks, 3.0, &instance));
    ASSERT_EQ(fmiEnterInitializationMode(instance), fmi2OK);
    ASSERT_EQ(fmiExitInitializationMode(instance), fmi2OK);
  }

  void finish() {
    if (state) fmiFreeFMUstate(instance, &state);
    if (copy.integrator) integratorFree(instance, &copy);
    if (instance) fmiFreeInstance(instance);
    instance = nullptr;
  }

  fmi2Status steps(int count) {
    for (int i = 0; i < count; ++i) {
      fmi2Status status = fmiDoStep(instance, instance->time, 0.25, fmi2True);
      if (status != fmi2OK) return status;
    }
    return fmi2OK;
  }

  HostCallbacks host;
  fmi2CallbackFunctions callbacks{disarmedLogger, disarmedAllocate, disarmedFree, nullptr, nullptr};
  ModelInstance* instance = nullptr;
  ModelInstance* state = nullptr;
  ModelInstance copy{};  // a bare destination of integratorCopy, with its source's callbacks
};

// One subject: `prepare` runs with the heap disarmed, `run` with it armed; `refused` says whether
// a result is a refusal and checks what the refusal left.
struct SundialsCase {
  const char* name;
  std::function<void(SundialsFailures&)> prepare;
  std::function<int(SundialsFailures&)> run;  // 0 done, else refused
  const char* message;                        // the start of the refusal's message
  fmi2Status status;                          // the status of that message
  bool allocates;                             // SUNDIALS takes C-heap memory in the call
  bool releasesRecord;                        // a refusal leaves the instance without a record
};

void PrintTo(const SundialsCase& c, std::ostream* os) { *os << c.name; }

struct SundialsFailuresBy : SundialsFailures, ::testing::WithParamInterface<SundialsCase> {};

const SundialsCase sundialsCases[] = {
    {"SetUp", [](SundialsFailures& t) { integratorFree(t.instance, t.instance); },
     // The set-up of the initialisation, which answers a failed allocation with fmi2Fatal.
     [](SundialsFailures& t) { return integratorSetup(t.instance, 1e-6, setupAtInitialisation); },
     "SUNDIALS_ERROR: ", fmi2Fatal, true, true},
    {"FirstSteps", [](SundialsFailures&) {}, [](SundialsFailures& t) { return t.steps(3) == fmi2OK ? 0 : 1; },
     "SUNDIALS_ERROR: CVode() failed", fmi2Error, true, true},
    {"Restart", [](SundialsFailures& t) { (void)t.steps(1); },
     [](SundialsFailures& t) { return integratorReInit(t.instance) || t.steps(1) != fmi2OK; }, "SUNDIALS_ERROR: ",
     fmi2Error, false, false},
    {"CopyIntoAState", [](SundialsFailures& t) { (void)t.steps(1); },
     [](SundialsFailures& t) { return integratorCopy(&t.copy, t.instance); }, "memory allocation failed", fmi2Error,
     true, false},
    {"GetAndRestoreAState", [](SundialsFailures& t) { (void)t.steps(1); },
     [](SundialsFailures& t) {
       if (fmiGetFMUstate(t.instance, &t.state) != fmi2OK) return 1;
       if (t.steps(1) != fmi2OK) return 1;
       if (fmiSetFMUstate(t.instance, t.state) != fmi2OK) return 1;
       return t.steps(1) == fmi2OK ? 0 : 1;
     },
     "", fmi2Error, true, false},
    {"Release", [](SundialsFailures& t) { (void)t.steps(1); },
     [](SundialsFailures& t) {
       integratorFree(t.instance, t.instance);
       return t.instance->integrator ? 1 : 0;
     },
     "", fmi2Error, false, false},
    {"TerminateWithStatistics", [](SundialsFailures& t) { (void)t.steps(1); },
     [](SundialsFailures& t) { return fmiTerminate(t.instance) == fmi2OK ? 0 : 1; }, "", fmi2Error, false, false},
};

TEST_P(SundialsFailuresBy, EachAllocationFailsInTurnAndTheCallRefusesCleanly) {
  const SundialsCase& c = GetParam();
  int failures = 0;
  bool completed = false;
  for (long k = 1; !completed && k < 400; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    start();
    if (HasFatalFailure()) return;
    c.prepare(*this);
    host.clear();

    int result;
    std::string written;
    {
      StandardErrorCapture standardError;
      heap::calls = 0;
      heap::liveCount = 0;
      heap::failAt = k;
      heap::arm(true);
      result = c.run(*this);
      heap::arm(false);
      heap::failAt = 0;
      written = standardError.take();
    }
    completed = heap::calls < k;
    EXPECT_EQ(written, "");
    if (completed) {
      EXPECT_EQ(result, 0) << "a run without a failed allocation";
      if (c.allocates) {
        EXPECT_GT(heap::calls, 0) << "SUNDIALS' C heap is not the test's";
      }
    } else {
      ++failures;
      EXPECT_NE(result, 0) << "the call did not refuse";
      bool reported = false;
      for (const LogRecord& r : host.log)
        if (r.status == c.status && r.text.rfind(c.message, 0) == 0) reported = true;
      EXPECT_TRUE(reported) << "no message at " << c.status << " starting with \"" << c.message << "\"";
      if (copy.integrator) ADD_FAILURE() << "the copy's record was handed back after a failure";
      if (c.releasesRecord) {
        EXPECT_EQ(instance->integrator, nullptr) << "the instance kept a record after the refusal";
      }
      // A record that is left holds SUNDIALS objects only where they are whole and usable: the
      // instance's after a failed call of its own is either gone or empty.
      if (instance->integrator && !instance->integrator->cvode.memory) {
        EXPECT_TRUE(holdsNoSundialsObject(instance->integrator));
      }
    }

    // Every block the call made that is still live belongs to a record: the instance's, the
    // copy's or the state's.
    EXPECT_FALSE(heap::overflow);
    EXPECT_EQ(heap::liveCount, rememberedBlocksOf(instance) + rememberedBlocksOf(&copy) + rememberedBlocksOf(state))
        << "C-heap blocks on no record's list";

    // A later set-up works and integrates.
    ASSERT_EQ(integratorSetup(instance, 1e-6, setupAtInitialisation), 0);
    EXPECT_EQ(integratorIntegrate(instance, instance->time + 0.1), 0);

    // Nothing leaked: what the call made is given back by the time the instance is freed.
    heap::arm(true);  // only remembering
    finish();
    heap::arm(false);
    EXPECT_EQ(heap::liveCount, 0) << "C-heap blocks never given back";
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << "blocks left with the host";
  }
  EXPECT_TRUE(completed) << "the call never ran to its end";
  if (c.allocates) {
    EXPECT_GT(failures, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, SundialsFailuresBy, ::testing::ValuesIn(sundialsCases), quenzel_test::CaseName{});

// The blocks of the integrator's SUNDIALS objects are all on its record's list, and its release
// gives every one back.
TEST_F(SundialsFailures, EveryBlockOfASetUpBelongsToTheRecordAndItsReleaseGivesThemBack) {
  start();
  integratorFree(instance, instance);
  heap::arm(true);
  ASSERT_EQ(integratorSetup(instance, 1e-6, setupAtInitialisation), 0);
  ASSERT_EQ(steps(2), fmi2OK);
  heap::arm(false);
  ASSERT_NE(instance->integrator, nullptr);
  int64_t owned = trackedListCount(&instance->integrator->sundialsBlocks);
  EXPECT_GT(owned, 10);
  EXPECT_EQ(heap::liveCount, owned);
  EXPECT_EQ(rememberedBlocksOf(instance), owned);
  heap::arm(true);
  integratorFree(instance, instance);
  heap::arm(false);
  EXPECT_EQ(heap::liveCount, 0);
  finish();
}

}  // namespace
