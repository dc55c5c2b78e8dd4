// Helpers of the FMU-state and directional-derivative tests: images of states, and a Model
// Exchange instance in continuous-time mode at a given time and states.
#pragma once

#include <vector>

#include "unit_fixture.h"

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
