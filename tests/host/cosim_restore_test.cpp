// Co-Simulation restores that find the instance without an integrator: a set-up that cannot be
// made, a state from before initialisation that needs none, and the callbacks a state's blocks
// and its integrator copy go through.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "case_names.h"
#include "state_fixture.h"

namespace {

// A second host allocator beside the fixture's, for an instance of its own. Its blocks carry a
// mark of their own, so a block handed to the wrong allocator's freeMemory is found: this one
// counts it (and leaves it), the fixture's aborts.
struct SecondAllocator {
  long calls = 0;
  long liveBlocks = 0;
  long foreignFrees = 0;
};
SecondAllocator secondAllocator;

struct SecondHeader {
  size_t magic;
  size_t unused;  // keeps the block 16-byte aligned
};
constexpr size_t secondMagic = 0x5365636f6e64ULL;

extern "C" void* secondAllocate(size_t nobj, size_t size) {
  ++secondAllocator.calls;
  if (size != 0 && nobj > (static_cast<size_t>(-1) - sizeof(SecondHeader)) / size) return nullptr;
  size_t bytes = nobj * size;
  auto* header = static_cast<SecondHeader*>(malloc(sizeof(SecondHeader) + (bytes ? bytes : 1)));
  if (!header) return nullptr;
  header->magic = secondMagic;
  memset(header + 1, 0xCD, bytes);  // the unit must zero what it needs zeroed
  ++secondAllocator.liveBlocks;
  return header + 1;
}

extern "C" void secondFree(void* block) {
  if (!block) return;
  auto* header = static_cast<SecondHeader*>(block) - 1;
  if (header->magic != secondMagic) {
    ++secondAllocator.foreignFrees;
    return;
  }
  header->magic = 0;
  --secondAllocator.liveBlocks;
  free(header);
}

class CoSimStateRestore : public StateTest {
 protected:
  // A Co-Simulation instance in continuous-time mode at 0 with consistent limits.
  fmi2Component running(const char* name = "cs", const fmi2CallbackFunctions* functions = nullptr) {
    fmi2Component c = instantiate(fmi2CoSimulation, name, fmi2True, functions);
    if (!c) return nullptr;
    consistentLimits(c);
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    host.clear();
    return c;
  }
};

// A state taken while stepping, restored after fmi2Terminate released the integrator: the restore
// sets one up afresh. Each host allocation of that set-up failing in turn: the restore answers
// fmi2Error with the cause before anything of the instance is written, so the instance stays as
// it was (terminated, at its time), nothing of the set-up stays with the host (or on the C heap,
// for the sanitizer build), and the state is intact, so restoring it again goes on stepping from
// it. A refused restore is no end of a run: it reports no integrator statistics, logging on.
TEST_F(CoSimStateRestore, ASetUpThatCannotBeMadeLeavesTheInstanceAsItWasAndNothingBehind) {
  REQUIRE_EXPORTED(fmi2DoStep);
  int failed = 0;
  bool succeeded = false;
  std::vector<double> replayed;  // filter.y after the step from the restored state, each round
  for (long k = 1; k <= 20 && !succeeded; ++k) {
    SCOPED_TRACE(k);
    fmi2Component c = running();
    ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    const double atState = get(c, model::filterY);
    ASSERT_EQ(unit.fmi2DoStep(c, 0.5, 0.5, fmi2True), fmi2OK);
    const double continued = get(c, model::filterY);
    ASSERT_GT(std::fabs(continued - atState), 1e-2) << "the filter moves over the step";
    ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
    const long blocks = hostAllocator().liveBlocks;
    host.clear();

    hostAllocator().failAt = hostAllocator().calls + k;
    fmi2Status status = unit.fmi2SetFMUstate(c, state);
    hostAllocator().failAt = 0;
    if (status == fmi2OK) {
      succeeded = true;  // every allocation of the restore got through
    } else {
      ++failed;
      EXPECT_EQ(status, fmi2Error);
      EXPECT_EQ(hostAllocator().liveBlocks, blocks);
      EXPECT_FALSE(textsAt(fmi2Error).empty());
      EXPECT_EQ(textsAt(fmi2Error).back(), "fmi2SetFMUstate failed");
      EXPECT_EQ(textsAt(fmi2Error).front().rfind("memory allocation failed", 0), 0u) << textsAt(fmi2Error).front();
      EXPECT_FALSE(host.contains("Sundials CVode Statistics"));
      EXPECT_FALSE(host.contains("Rejected count"));
      // The instance stays as it was: terminated, at the time it was terminated.
      EXPECT_FALSE(host.contains("fmi2Terminate"));
      EXPECT_EQ(lastTime(c), 1.0);
      EXPECT_EQ(probeMode(c), 7);
      host.clear();
      ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
    }
    EXPECT_EQ(lastTime(c), 0.5);
    ASSERT_EQ(unit.fmi2DoStep(c, 0.5, 0.5, fmi2True), fmi2OK);
    replayed.push_back(get(c, model::filterY));
    // A new integrator has none of CVODE's history: close to the uninterrupted step.
    EXPECT_NEAR(replayed.back(), continued, 1e-4);
    EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
    release(c);
    EXPECT_EQ(hostAllocator().liveBlocks, 0);
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(failed, 0);
  // A failed restore leaves nothing that changes the next one: every replay is the same.
  for (double y : replayed) EXPECT_EQ(y, replayed.back());
}

// A state taken before initialisation needs no integrator: restored into a Co-Simulation
// instance that was never initialised, it sets none up (the host is asked for nothing), and the
// instance is then exactly that state, still to be initialised; its own initialisation later
// makes the one integrator it steps with.
struct EarlyCase {
  const char* name;
  bool throughImage;  // restored into a second, fresh instance from the state's image
};

void PrintTo(const EarlyCase& c, std::ostream* os) { *os << c.name; }

class EarlyState : public CoSimStateRestore, public ::testing::WithParamInterface<EarlyCase> {};

TEST_P(EarlyState, RestoredIntoAnInstanceWithoutIntegratorLeavesItWithout) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component source = instantiate(fmi2CoSimulation, "source");
  consistentLimits(source);
  ASSERT_EQ(set(source, model::filterT, 0.25), fmi2OK);
  fmi2FMUstate early = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(source, &early), fmi2OK);
  const std::vector<char> image = serialize(source, early);
  ASSERT_EQ(stateImage::read<double>(image, stateImage::parameterOffset + 8 * 2), 0.25);

  fmi2Component target = source;
  fmi2FMUstate state = early;
  if (GetParam().throughImage) {
    target = instantiate(fmi2CoSimulation, "fresh");
    state = nullptr;
    ASSERT_EQ(unit.fmi2DeSerializeFMUstate(target, image.data(), image.size(), &state), fmi2OK);
  } else {
    ASSERT_EQ(set(target, model::filterT, 3.0), fmi2OK);
    ASSERT_EQ(set(target, model::u, 2.0), fmi2OK);
  }
  const long calls = hostAllocator().calls, blocks = hostAllocator().liveBlocks;
  host.clear();
  ASSERT_EQ(unit.fmi2SetFMUstate(target, state), fmi2OK);
  EXPECT_EQ(hostAllocator().calls, calls) << "no integrator set up";
  EXPECT_EQ(hostAllocator().liveBlocks, blocks);
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
  EXPECT_TRUE(textsAt(fmi2Error).empty());

  // Everything an image holds is the state's (the getters answer only after initialisation):
  // filter.T and u among them, which the same instance had changed.
  fmi2FMUstate now = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(target, &now), fmi2OK);
  EXPECT_TRUE(stateImage::sameStateImage(serialize(target, now), image));
  EXPECT_EQ(unit.fmi2FreeFMUstate(target, &now), fmi2OK);

  // Still to be initialised: stepping and input derivatives are refused, initialisation works.
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(target, 0.0, 0.5, fmi2True), fmi2Warning);
  const fmi2ValueReference input = model::u;
  const fmi2Integer order = 1;
  const fmi2Real slope = 1.0;
  EXPECT_EQ(unit.fmi2SetRealInputDerivatives(target, &input, 1, &order, &slope), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning),
            (std::vector<std::string>{"fmi2DoStep: Initialization must be finished before calling fmiDoStep",
                                      "fmi2SetRealInputDerivatives: fmi2EnterInitializationMode must be called "
                                      "before calling fmi2SetRealInputDerivatives"}));
  ASSERT_EQ(unit.fmi2EnterInitializationMode(target), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(target), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(target, 0.0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(lastTime(target), 0.5);

  if (GetParam().throughImage) {
    EXPECT_EQ(unit.fmi2FreeFMUstate(target, &state), fmi2OK);
  }
  EXPECT_EQ(unit.fmi2FreeFMUstate(source, &early), fmi2OK);
}

INSTANTIATE_TEST_SUITE_P(Ways, EarlyState,
                         ::testing::Values(EarlyCase{"SameInstance", false}, EarlyCase{"ThroughItsImage", true}),
                         quenzel_test::CaseName{});

// A state is made through the callbacks of the instance it is taken from, and so is its
// integrator copy: with two instances on two allocators, every block of A's state (taken,
// restored with and without an integrator in A, released) comes from A's allocator and goes back
// to it, the other allocator sees none of it, and A's messages reach A's logger only.
class TwoAllocators : public CoSimStateRestore {
 protected:
  void SetUp() override {
    CoSimStateRestore::SetUp();
    secondAllocator = SecondAllocator{};
  }

  // A's logger and callbacks, which outlive every instance the fixture frees.
  HostCallbacks hostA;
  const fmi2CallbackFunctions callbacksA{hostA.functions()->logger, secondAllocate, secondFree, nullptr,
                                         hostA.functions()->componentEnvironment};
};

TEST_F(TwoAllocators, AStateGoesThroughTheCallbacksOfItsInstance) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component a = running("A", &callbacksA);
  ASSERT_NE(a, nullptr);
  fmi2Component b = running("B");  // made after A: the unit's most recent callbacks are B's
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(unit.fmi2DoStep(b, 0.0, 0.5, fmi2True), fmi2OK);
  const long hostCalls = hostAllocator().calls, hostBlocks = hostAllocator().liveBlocks;
  host.clear();
  hostA.clear();

  ASSERT_EQ(unit.fmi2DoStep(a, 0.0, 0.5, fmi2True), fmi2OK);
  const long beforeState = secondAllocator.liveBlocks;
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(a, &state), fmi2OK);
  const long stateBlocks = secondAllocator.liveBlocks - beforeState;
  EXPECT_GT(stateBlocks, 15) << "the record, its arrays and blocks, and the integrator copy";

  ASSERT_EQ(unit.fmi2DoStep(a, 0.5, 0.5, fmi2True), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(a, state), fmi2OK);  // into A's integrator
  ASSERT_EQ(unit.fmi2Terminate(a), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(a, state), fmi2OK);  // into a new one, given the state's copy
  ASSERT_EQ(unit.fmi2DoStep(a, 0.5, 0.5, fmi2True), fmi2OK);
  const long beforeFree = secondAllocator.liveBlocks;
  ASSERT_EQ(unit.fmi2FreeFMUstate(a, &state), fmi2OK);
  EXPECT_EQ(secondAllocator.liveBlocks, beforeFree - stateBlocks);

  EXPECT_EQ(hostAllocator().calls, hostCalls) << "B's allocator was asked";
  EXPECT_EQ(hostAllocator().liveBlocks, hostBlocks);
  EXPECT_TRUE(host.log.empty()) << "B's logger heard of A: " << host.log.front().text;
  ASSERT_FALSE(hostA.log.empty());
  for (const LogRecord& r : hostA.log) EXPECT_EQ(r.instance, "A") << r.text;

  release(a);
  EXPECT_EQ(secondAllocator.liveBlocks, 0);
  EXPECT_EQ(secondAllocator.foreignFrees, 0);
}

}  // namespace
