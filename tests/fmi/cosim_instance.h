// A Co-Simulation instance of the model, made through the FMI layer's own functions with the
// test host's callbacks, for the integrator's parts that no fmi2 function shows directly.
#pragma once

#include <gtest/gtest.h>

#include "fmu_host.h"
#include "guarded_call.h"
#include "initialize.h"
#include "instantiate.h"
#include "stepping.h"
#include "values.h"

class CoSimInstanceTest : public ::testing::Test {
 protected:
  static constexpr fmi2ValueReference parameter(unsigned index) { return (1u << 24) | index; }

  // Consistent limits; the ramp starts late, so that no root lies near. After one step of 0.5,
  // CVODE has weights and a step size.
  void SetUp() override {
    EnsureRuntimeAttached();
    resetHostAllocator();
    instance = fmiInstantiate("cs", fmi2CoSimulation, "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}", "", host.functions(),
                              fmi2False, fmi2False);
    ASSERT_NE(instance, nullptr);
    const fmi2ValueReference vr[] = {parameter(5), parameter(7), parameter(14)};
    const fmi2Real values[] = {-1.0, -1.0, 100.0};
    ASSERT_EQ(fmiSetReal(instance, vr, 3, values), fmi2OK);
    ASSERT_EQ(fmiSetupExperiment(instance, fmi2True, 1e-6, 0.0, fmi2False, 0.0), fmi2OK);
    ASSERT_EQ(fmiEnterInitializationMode(instance), fmi2OK);
    ASSERT_EQ(fmiExitInitializationMode(instance), fmi2OK);
    ASSERT_EQ(fmiDoStep(instance, 0.0, 0.5, fmi2True), fmi2OK);
  }

  void TearDown() override {
    if (instance) fmiFreeInstance(instance);
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << "blocks left with the host";
  }

  HostCallbacks host;
  ModelInstance* instance = nullptr;
};
