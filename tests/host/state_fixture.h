// Helpers of the FMU-state and directional-derivative tests: images of states, and a Model
// Exchange instance in continuous-time mode at a given time and states.
#pragma once

#include <cstddef>
#include <cstring>
#include <vector>

#include "unit_fixture.h"

namespace stateImage {
// The image of this model's states: offsets of the fields a test looks at.
constexpr size_t imageSize = 882590;
constexpr size_t parameterOffset = 154;  // p_i at 154 + 8 i
// The string item: this model has no string variables, so it is the table's one null entry, a
// uint32 0 (no characters follow), just before the time.
constexpr size_t stringsOffset = 538;
constexpr size_t levelOffset = 550, modeOffset = 554, timeOffset = 542;
constexpr size_t flagsOffset = 566;        // useStateSnapshots, inDirectionalDerivative, valuesChanged, ...
constexpr size_t solverIntsOffset = 614;   // SolverInts[k] at 614 + 4 k
constexpr size_t blobLengthOffset = 658;
constexpr size_t modelDataOffset = 662;

// Writes or reads a value at an offset of an image.
template <typename T>
void put(std::vector<char>& image, size_t offset, T value) {
  memcpy(image.data() + offset, &value, sizeof value);
}
template <typename T>
T read(const std::vector<char>& image, size_t offset) {
  T value;
  memcpy(&value, image.data() + offset, sizeof value);
  return value;
}

// Two images of the same state, wherever it is held: byte for byte the same, since an image
// carries no address of the record that held the state (its pointer words are written as 0).
inline ::testing::AssertionResult sameStateImage(const std::vector<char>& a, const std::vector<char>& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k] != b[k]) return ::testing::AssertionFailure() << "first difference at byte " << k;
  return ::testing::AssertionSuccess();
}
}  // namespace stateImage

// Skips a test whose scenario needs an fmi2 function the unit does not export yet.
#define REQUIRE_EXPORTED(function) \
  if (!unit.function) GTEST_SKIP() << #function " is not exported yet"

class StateTest : public UnitTest {
 protected:
  // The state's image, of the size the unit reports.
  std::vector<char> serialize(fmi2Component c, fmi2FMUstate state) {
    size_t size = 0;
    EXPECT_EQ(unit.fmi2SerializedFMUstateSize(c, state, &size), fmi2OK);
    std::vector<char> image(size);
    EXPECT_EQ(unit.fmi2SerializeFMUstate(c, state, image.data(), image.size()), fmi2OK);
    return image;
  }

  // A Model Exchange instance with consistent limits, past its first event iteration, in
  // continuous-time mode at time t with the states x0 and x1.
  fmi2Component continuousTime(double t, double x0, double x1) {
    fmi2Component c = startIn(fmi2ModelExchange, startRunning);
    fmi2EventInfo info{};
    EXPECT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
    EXPECT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2SetTime(c, t), fmi2OK);
    const double x[] = {x0, x1};
    EXPECT_EQ(unit.fmi2SetContinuousStates(c, x, 2), fmi2OK);
    host.clear();
    return c;
  }
};
