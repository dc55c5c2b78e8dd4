// The integrator's share of FMU states: what a saved state carries, the booking of the work a
// restore throws away, restores without integrator data on either side, and allocation
// failures. The FMU state here is a bare record of the instance's layout holding what the
// FMU-state functions would have copied (the states and the time).
#include <cstring>

#include "cosim_instance.h"
#include "integrator.h"

namespace {

class IntegratorStates : public CoSimInstanceTest {
 protected:
  void SetUp() override {
    CoSimInstanceTest::SetUp();
    if (HasFatalFailure()) return;
    state.functions = instance->functions;
    state.instanceName = instance->instanceName;
    state.nx = instance->nx;
    state.nu = instance->nu;
    state.ny = instance->ny;
  }

  void TearDown() override {
    integratorFreeState(instance, &state);
    CoSimInstanceTest::TearDown();
  }

  void save() {
    memcpy(savedStates, instance->states, sizeof savedStates);
    savedTime = instance->time;
    savedMode = instance->mode;
    ASSERT_EQ(integratorSaveState(instance, &state), fmi2OK);
  }

  // What fmi2SetFMUstate does before handing over to the integrator.
  fmi2Status restore() {
    memcpy(instance->states, savedStates, sizeof savedStates);
    instance->time = savedTime;
    instance->mode = savedMode;
    instance->levelReached = 0;
    return integratorRestoreState(&state, instance);
  }

  fmi2Status step(double h) { return fmiDoStep(instance, instance->time, h, fmi2True); }
  const IntegratorStatistics& statistics() const { return instance->integrator->statistics; }

  ModelInstance state{};
  double savedStates[2] = {};
  double savedTime = 0.0;
  int32_t savedMode = 0;
};

TEST_F(IntegratorStates, SaveCopiesTheDataButNoCvodeMemory) {
  save();
  ASSERT_NE(state.integrator, nullptr);
  EXPECT_EQ(state.integrator->cvode.memory, nullptr);
  EXPECT_EQ(state.integrator->lastOutputTime, instance->integrator->lastOutputTime);
  EXPECT_EQ(state.integrator->lastOutputs[0], instance->integrator->lastOutputs[0]);
  EXPECT_EQ(N_VGetArrayPointer(state.integrator->absoluteTolerances)[1],
            N_VGetArrayPointer(instance->integrator->absoluteTolerances)[1]);
  EXPECT_EQ(state.integrator->statistics.externalSteps, statistics().externalSteps);
}

// Restore, step on, and restore the same state again: both discarded stretches count as
// rejected, and the instance goes on from the state's counts.
TEST_F(IntegratorStates, RestoresBookTheDiscardedWork) {
  save();
  int external = statistics().externalSteps;
  int rhs = statistics().rhsCalls;
  ASSERT_EQ(step(0.5), fmi2OK);
  ASSERT_EQ(step(0.5), fmi2OK);
  int firstDiscard = statistics().rhsCalls - rhs;
  ASSERT_EQ(restore(), fmi2OK);
  EXPECT_EQ(statistics().externalSteps, external);
  EXPECT_EQ(statistics().rejectedExternalSteps, 2);
  EXPECT_EQ(statistics().rejectedRhsCalls, firstDiscard);
  EXPECT_EQ(instance->time, savedTime);

  ASSERT_EQ(step(0.5), fmi2OK);
  int secondDiscard = statistics().rhsCalls - rhs;
  ASSERT_EQ(restore(), fmi2OK);
  EXPECT_EQ(statistics().rejectedExternalSteps, 3);
  EXPECT_EQ(statistics().rejectedRhsCalls, firstDiscard + secondDiscard);
  EXPECT_GT(statistics().rejectedInternalSteps, 0);
  // The replayed step gives what the first run gave from the same restart.
  ASSERT_EQ(step(0.5), fmi2OK);
}

// A state without integrator data (taken before initialisation, or deserialised): the instance
// keeps its own record and restarts at the restored time and states.
TEST_F(IntegratorStates, StateWithoutDataKeepsTheInstancesRecord) {
  save();
  integratorFree(instance, &state);
  ASSERT_EQ(step(0.5), fmi2OK);
  CoSimIntegrator* own = instance->integrator;
  int external = statistics().externalSteps;
  ASSERT_EQ(restore(), fmi2OK);
  EXPECT_EQ(instance->integrator, own);
  EXPECT_EQ(statistics().externalSteps, external);
  ASSERT_EQ(step(0.5), fmi2OK);
  EXPECT_EQ(instance->time, savedTime + 0.5);
}

// After terminate released the integrator, restoring a stepping state sets up a new one, so
// that stepping goes on from the restored point.
TEST_F(IntegratorStates, RestoreIntoAnInstanceWithoutIntegratorSetsUpANewOne) {
  save();
  integratorFree(instance, instance);
  ASSERT_EQ(restore(), fmi2OK);
  ASSERT_NE(instance->integrator, nullptr);
  EXPECT_NE(instance->integrator->cvode.memory, nullptr);
  EXPECT_EQ(statistics().rejectedExternalSteps, 0);
  EXPECT_EQ(statistics().externalSteps, state.integrator->statistics.externalSteps);
  EXPECT_EQ(step(0.5), fmi2OK);
}

// Saving from an instance without integrator releases what the state held from an earlier save.
TEST_F(IntegratorStates, SaveWithoutIntegratorReleasesTheStatesCopy) {
  save();
  integratorFree(instance, instance);
  ASSERT_EQ(integratorSaveState(instance, &state), fmi2OK);
  EXPECT_EQ(state.integrator, nullptr);
}

// Each allocation of a copy failing in turn (the record, the two input arrays while input
// derivatives are valid, the outputs): "memory allocation failed", the error exit, and nothing
// left behind.
class FailingSave : public IntegratorStates, public ::testing::WithParamInterface<long> {};

TEST_P(FailingSave, Terminates) {
  const fmi2ValueReference u = 5u << 24;
  const fmi2Integer order = 1;
  const fmi2Real slope = 1.0;
  ASSERT_EQ(fmiSetRealInputDerivatives(instance, &u, 1, &order, &slope), fmi2OK);
  host.clear();
  hostAllocator().failAt = hostAllocator().calls + GetParam();
  fmi2Status status = integratorSaveState(instance, &state);
  hostAllocator().failAt = 0;
  EXPECT_EQ(status, fmi2Error);
  EXPECT_TRUE(host.contains("memory allocation failed"));
  EXPECT_EQ(state.integrator, nullptr);
  EXPECT_EQ(instance->mode, modeTerminated);
  EXPECT_EQ(instance->integrator, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Allocations, FailingSave, ::testing::Values(1, 2, 3, 4));

}  // namespace
