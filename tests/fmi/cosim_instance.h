// A Co-Simulation instance of the model, made through the FMI layer's own functions with the
// test host's callbacks, for the integrator's parts that no fmi2 function shows directly.
#pragma once

#include <cvode/cvode.h>
#include <gtest/gtest.h>

#include "fmu_host.h"
#include "fmustate.h"
#include "guarded_call.h"
#include "initialize.h"
#include "instantiate.h"
#include "integrator.h"
#include "stepping.h"
#include "values.h"

// A new Co-Simulation instance in `*made`, through `callbacks`: consistent limits, a ramp that
// starts late, so that no root lies near, the input at `input` and tolerance 1e-6, ready for
// fmi2EnterInitializationMode.
inline void instantiateCoSimRun(const fmi2CallbackFunctions* callbacks, double input, ModelInstance** made) {
  auto parameter = [](unsigned index) -> fmi2ValueReference { return (1u << 24) | index; };
  *made = fmiInstantiate("cs", fmi2CoSimulation, "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}", "", callbacks, fmi2False,
                         fmi2False);
  ASSERT_NE(*made, nullptr);
  const fmi2ValueReference vr[] = {parameter(5), parameter(7), parameter(14)};
  const fmi2Real values[] = {-1.0, -1.0, 100.0};
  ASSERT_EQ(fmiSetReal(*made, vr, 3, values), fmi2OK);
  const fmi2ValueReference u = 5u << 24;
  ASSERT_EQ(fmiSetReal(*made, &u, 1, &input), fmi2OK);
  ASSERT_EQ(fmiSetupExperiment(*made, fmi2True, 1e-6, 0.0, fmi2False, 0.0), fmi2OK);
}

class CoSimInstanceTest : public ::testing::Test {
 protected:
  static constexpr fmi2ValueReference parameter(unsigned index) { return (1u << 24) | index; }

  void SetUp() override { start(); }

  void TearDown() override {
    if (instance) fmiFreeInstance(instance);
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << "blocks left with the host";
  }

  // A new instance in `instance`: consistent limits, and a ramp that starts late, so that no
  // root lies near. With `firstStep`, one step of 0.5 follows, after which CVODE has weights and
  // a step size; without, the instance is left just after initialisation. `beforeInitialisation`,
  // when given, receives an FMU state taken before fmi2EnterInitializationMode (the caller frees
  // it). With the input at its start value 1 the filters rest at their start values; another
  // input makes them move.
  void start(bool firstStep = true, ModelInstance** beforeInitialisation = nullptr, double input = 1.0) {
    EnsureRuntimeAttached();
    resetHostAllocator();
    ASSERT_NO_FATAL_FAILURE(instantiateCoSimRun(host.functions(), input, &instance));
    if (beforeInitialisation) {
      ASSERT_EQ(fmiGetFMUstate(instance, beforeInitialisation), fmi2OK);
    }
    ASSERT_EQ(fmiEnterInitializationMode(instance), fmi2OK);
    ASSERT_EQ(fmiExitInitializationMode(instance), fmi2OK);
    if (firstStep) {
      ASSERT_EQ(fmiDoStep(instance, 0.0, 0.5, fmi2True), fmi2OK);
    }
  }

  // CVODE's own counters: the internal steps since it was last started, and the time it has
  // integrated to (the start time right after a restart).
  long cvodeSteps() const {
    long steps = -1;
    EXPECT_EQ(CVodeGetNumSteps(instance->integrator->cvode.memory, &steps), CV_SUCCESS);
    return steps;
  }
  double cvodeTime() const {
    double t = -1.0;
    EXPECT_EQ(CVodeGetCurrentTime(instance->integrator->cvode.memory, &t), CV_SUCCESS);
    return t;
  }

  HostCallbacks host;
  ModelInstance* instance = nullptr;
};
