// fmi2SetTime of a model without continuous states after an event iteration: the call moves the
// instance into continuous-time mode only when it accepts the time.
#include <gtest/gtest.h>

#include <cmath>

#include "instance_fixture.h"
#include "modelexchange.h"

namespace {

class SetTimeWithoutStates : public InstanceTest {
 protected:
  void SetUp() override {
    instance->fmuType = fmi2ModelExchange;
    instance->nx = 0;
    instance->mode = modeEventDone;
  }
};

TEST_F(SetTimeWithoutStates, RefusedTimeLeavesTheModeAlone) {
  for (double time : {NAN, INFINITY, -INFINITY}) {
    EXPECT_EQ(fmiSetTime(instance, time), fmi2Warning) << time;
    EXPECT_EQ(instance->mode, modeEventDone) << time;
    EXPECT_EQ(instance->time, 0.0) << time;
  }
}

TEST_F(SetTimeWithoutStates, AcceptedTimeEntersContinuousTimeMode) {
  EXPECT_EQ(fmiSetTime(instance, 1.5), fmi2OK);
  EXPECT_EQ(instance->mode, modeContinuousTime);
  EXPECT_EQ(instance->time, 1.5);
}

}  // namespace
