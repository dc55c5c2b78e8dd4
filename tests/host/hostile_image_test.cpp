// State images a broken or hostile host passes: every field that steers a loop, a count, an index
// or a time holds a value no instance of the unit makes. Such an image is refused with fmi2Error
// and no state, and the receiving instance is left exactly as it was. Images carry no address of the writing process.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "modeldata.h"
#include "state_fixture.h"

namespace {

using stateImage::modelDataOffset;
using stateImage::put;
using stateImage::read;
using stateImage::solverIntsOffset;
constexpr size_t solverRealsOffset = 582;  // SolverReals[k] at 582 + 8 k

size_t field(size_t offset) { return modelDataOffset + offset; }

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct HostileImage {
  const char* name;
  std::function<void(std::vector<char>&)> mutate;
};

// The image is of a Co-Simulation instance stepped to 1 s.
const HostileImage hostileImages[] = {
    {"next time event NaN", [](auto& i) { put(i, solverRealsOffset + 16, nan); }},
    {"next time event infinite", [](auto& i) { put(i, solverRealsOffset + 16, inf); }},
    {"next time event negative", [](auto& i) { put(i, solverRealsOffset + 16, -1.0); }},
    {"next time event hugely negative", [](auto& i) { put(i, solverRealsOffset + 16, -2.8e305); }},
    {"next time event before the state's time", [](auto& i) { put(i, solverRealsOffset + 16, 0.5); }},
    {"inline step size NaN", [](auto& i) { put(i, solverRealsOffset, nan); }},
    {"inline step size negative", [](auto& i) { put(i, solverRealsOffset, -0.001); }},
    {"step fraction infinite", [](auto& i) { put(i, solverRealsOffset + 8, inf); }},
    {"time scale NaN", [](auto& i) { put(i, solverRealsOffset + 24, nan); }},
    {"time scale negative", [](auto& i) { put(i, solverRealsOffset + 24, -1e-146); }},
    {"change counter negative", [](auto& i) { put<int32_t>(i, solverIntsOffset + 4 * solverIntChangeCounter, -1); }},
    {"step event flag 2", [](auto& i) { put<int32_t>(i, solverIntsOffset + 4 * solverIntStepEvent, 2); }},
    {"all-sections flag -1", [](auto& i) { put<int32_t>(i, solverIntsOffset + 4 * solverIntAllSections, -1); }},
    {"homotopy running with step 0",
     [](auto& i) {
       put<int32_t>(i, field(offsetof(ModelData, homotopyActive)), 1);
       put(i, field(offsetof(ModelData, lambdaStep)), 0.0);
     }},
    {"homotopy step negative", [](auto& i) { put(i, field(offsetof(ModelData, lambdaStep)), -0.1); }},
    {"homotopy running with lambda NaN",
     [](auto& i) {
       put<int32_t>(i, field(offsetof(ModelData, homotopyActive)), 1);
       put(i, field(offsetof(ModelData, lambda)), nan);
     }},
    {"homotopy running from a huge negative lambda with a vanishing step",
     [](auto& i) {
       put<int32_t>(i, field(offsetof(ModelData, homotopyActive)), 1);
       put(i, field(offsetof(ModelData, lambda)), -8.4e298);
       put(i, field(offsetof(ModelData, lambdaStep)), 2.6e-206);
     }},
    {"homotopy lambda beyond 1", [](auto& i) { put(i, field(offsetof(ModelData, lambda)), 1.5); }},
    {"homotopy step below what halving reaches", [](auto& i) { put(i, field(offsetof(ModelData, lambdaStep)), 1e-9); }},
    {"homotopy flag 7", [](auto& i) { put<int32_t>(i, field(offsetof(ModelData, homotopyActive)), 7); }},
    {"model time infinite", [](auto& i) { put(i, field(offsetof(ModelData, time)), inf); }},
    {"start time NaN", [](auto& i) { put(i, field(offsetof(ModelData, startTime)), nan); }},
    {"iteration counter past the limit",
     [](auto& i) { put<int32_t>(i, field(offsetof(ModelData, iterationCounter)), 1000); }},
    {"iteration counter negative", [](auto& i) { put<int32_t>(i, field(offsetof(ModelData, iterationCounter)), -5); }},
    {"extra iteration 9", [](auto& i) { put<int32_t>(i, field(offsetof(ModelData, extraIteration)), 9); }},
};

class HostileImages : public StateTest {
 protected:
  fmi2Component steppedCoSimulation() {
    fmi2Component c = startIn(fmi2CoSimulation, startRunning);
    EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
    return c;
  }
  std::vector<char> imageOf(fmi2Component c) {
    fmi2FMUstate state = nullptr;
    EXPECT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    std::vector<char> image = serialize(c, state);
    EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
    return image;
  }
};

TEST_F(HostileImages, AreRefusedAndLeaveTheInstanceAsItWas) {
  fmi2Component c = steppedCoSimulation();
  const std::vector<char> valid = imageOf(c);
  ASSERT_EQ(valid.size(), stateImage::imageSize);
  for (const HostileImage& h : hostileImages) {
    SCOPED_TRACE(h.name);
    std::vector<char> image = valid;
    h.mutate(image);
    host.clear();
    fmi2FMUstate state = nullptr;
    EXPECT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2Error);
    EXPECT_EQ(textsAt(fmi2Error), std::vector<std::string>{"fmi2DeSerializeFMUstate: tpl_unpack failed"});
    EXPECT_EQ(state, nullptr) << "a refused image hands back no state";
    EXPECT_EQ(imageOf(c), valid) << "the receiving instance changed";
  }
  // And it still steps.
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0, 0.5, fmi2True), fmi2OK);
}

// A change counter at its largest is a count the unit can reach: the image is taken, and the
// counter stays there instead of overflowing at the next change.
TEST_F(HostileImages, AChangeCounterAtItsLargestStaysThere) {
  fmi2Component c = steppedCoSimulation();
  std::vector<char> image = imageOf(c);
  const size_t counter = solverIntsOffset + 4 * solverIntChangeCounter;
  put<int32_t>(image, counter, INT32_MAX);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  EXPECT_EQ(set(c, model::u, 0.25), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(read<int32_t>(imageOf(c), counter), INT32_MAX);
}

// An image of an instance that was never initialised, relabelled as one in event mode: every
// field is one the unit makes, but the model never computed its next time event, which stays at
// the start time. The step ends in an error at the first event iteration instead of iterating
// there for ever.
TEST_F(HostileImages, ATimeEventThatStaysWhereItIsEndsTheStepInAnError) {
  fmi2Component c = startIn(fmi2CoSimulation, startInstantiated);
  std::vector<char> image = imageOf(c);
  put<int32_t>(image, stateImage::modeOffset, 3);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2Error);
  EXPECT_TRUE(host.contains("fmi2DoStep: the next time event (t = 0) does not follow the time event at t = 0"));
}

TEST_F(HostileImages, ImagesCarryNoAddressOfTheWriter) {
  fmi2Component c = steppedCoSimulation();
  const std::vector<char> image = imageOf(c);
  const size_t pointerFields[] = {offsetof(ModelData, solverReals), offsetof(ModelData, solverInts),
                                  offsetof(ModelData, jacobianA),   offsetof(ModelData, jacobianB),
                                  offsetof(ModelData, jacobianC),   offsetof(ModelData, jacobianD)};
  for (size_t offset : pointerFields) EXPECT_EQ(read<uint64_t>(image, field(offset)), 0u) << offset;
  for (int k = 0; k < modelStringSlots; ++k)
    EXPECT_EQ(read<uint64_t>(image, field(offsetof(ModelData, stringTable) + 8 * k)), 0u) << "string slot " << k;
  for (int k = 0; k < modelExternalObjectCapacity; ++k) {
    const size_t slot = field(offsetof(ModelData, externalObjects) + k * sizeof(ExternalObjectSlot));
    EXPECT_EQ(read<uint64_t>(image, slot), 0u);
    EXPECT_EQ(read<uint64_t>(image, slot + 8), 0u);
  }
  EXPECT_EQ(read<uint64_t>(image, image.size() - 8), 0u) << "the blob record's word";
  // Writing the image left the instance's own pointers in place: it steps on and its states
  // round-trip.
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0, 0.5, fmi2True), fmi2OK);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  ASSERT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  EXPECT_EQ(imageOf(c), image);
}

}  // namespace
