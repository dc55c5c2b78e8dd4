// The integrator's share of FMU states: what a saved state carries, the booking of the work a
// restore throws away, restores without integrator data on either side, and allocation
// failures. The FMU state here is a bare record of the instance's layout holding what the
// FMU-state functions would have copied (the states and the time); the tests at the end go
// through fmi2GetFMUstate and fmi2SetFMUstate: CVODE's restart and the repeatability of a run.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "case_names.h"
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
    state.mode = instance->mode;  // as fmi2GetFMUstate copies it
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

  // A restore restarts CVODE itself: no steps since, at the restored time. (The solution alone
  // would not show it: interpolating the old history reproduces it.)
  void expectRestartedAt(double t) {
    EXPECT_EQ(cvodeSteps(), 0);
    EXPECT_EQ(cvodeTime(), t);
  }

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
  ASSERT_GT(cvodeSteps(), 0);
  ASSERT_EQ(restore(), fmi2OK);
  expectRestartedAt(savedTime);
  EXPECT_EQ(statistics().externalSteps, external);
  EXPECT_EQ(statistics().rejectedExternalSteps, 2);
  EXPECT_EQ(statistics().rejectedRhsCalls, firstDiscard);
  EXPECT_EQ(instance->time, savedTime);

  ASSERT_EQ(step(0.5), fmi2OK);
  int secondDiscard = statistics().rhsCalls - rhs;
  ASSERT_EQ(restore(), fmi2OK);
  expectRestartedAt(savedTime);
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
  expectRestartedAt(savedTime);
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
  expectRestartedAt(savedTime);
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
// derivatives are valid, the outputs): "memory allocation failed", fmi2Error, nothing left
// behind in the state, and the instance goes on as it was.
class FailingSave : public IntegratorStates, public ::testing::WithParamInterface<long> {};

TEST_P(FailingSave, LeavesTheInstanceAsItWas) {
  const fmi2ValueReference u = 5u << 24;
  const fmi2Integer order = 1;
  const fmi2Real slope = 1.0;
  ASSERT_EQ(fmiSetRealInputDerivatives(instance, &u, 1, &order, &slope), fmi2OK);
  const int32_t mode = instance->mode;
  CoSimIntegrator* own = instance->integrator;
  host.clear();
  hostAllocator().failAt = hostAllocator().calls + GetParam();
  int failed = integratorPrepareSave(instance, &state);
  hostAllocator().failAt = 0;
  EXPECT_EQ(failed, 1);
  EXPECT_TRUE(host.contains("memory allocation failed"));
  EXPECT_EQ(state.integrator, nullptr);
  EXPECT_EQ(instance->mode, mode);
  EXPECT_EQ(instance->integrator, own);
  // A later save gets through and the instance steps on.
  EXPECT_EQ(integratorPrepareSave(instance, &state), 0);
  EXPECT_EQ(integratorSaveState(instance, &state), fmi2OK);
  EXPECT_EQ(step(0.5), fmi2OK);
}

INSTANTIATE_TEST_SUITE_P(Allocations, FailingSave, ::testing::Values(1, 2, 3, 4), quenzel_test::AllocationName{});

// ---- Through fmi2GetFMUstate and fmi2SetFMUstate ---------------------------------------------------

class FmuStateRestart : public CoSimInstanceTest {
 protected:
  void TearDown() override {
    if (instance) fmiFreeFMUstate(instance, &state);
    CoSimInstanceTest::TearDown();
  }

  fmi2Status step(double h) { return fmiDoStep(instance, instance->time, h, fmi2True); }

  ModelInstance* state = nullptr;
};

// However the state was made, fmi2SetFMUstate leaves CVODE restarted at the state's time, after
// the instance had stepped on past it.
enum class Made { whileStepping, beforeInitialisation, deserialised };

struct RestoredState {
  const char* name;
  Made made;
  double time;
  int32_t mode;
};

void PrintTo(const RestoredState& c, std::ostream* os) { *os << c.name; }

class RestoredStates : public FmuStateRestart, public ::testing::WithParamInterface<RestoredState> {};

TEST_P(RestoredStates, RestartCvodeAtTheirTime) {
  const RestoredState& c = GetParam();
  if (c.made == Made::beforeInitialisation) {
    fmiFreeInstance(instance);
    instance = nullptr;
    start(true, &state);
    if (HasFatalFailure()) return;
  }
  ASSERT_EQ(step(0.5), fmi2OK);
  if (c.made != Made::beforeInitialisation) {
    ASSERT_EQ(fmiGetFMUstate(instance, &state), fmi2OK);
  }
  if (c.made == Made::deserialised) {
    size_t size = 0;
    ASSERT_EQ(fmiSerializedFMUstateSize(instance, state, &size), fmi2OK);
    std::vector<fmi2Byte> image(size);
    ASSERT_EQ(fmiSerializeFMUstate(instance, state, image.data(), size), fmi2OK);
    ASSERT_EQ(fmiFreeFMUstate(instance, &state), fmi2OK);
    ASSERT_EQ(fmiDeSerializeFMUstate(instance, image.data(), size, &state), fmi2OK);
    EXPECT_EQ(state->integrator, nullptr) << "an image holds no integrator data";
  }
  ASSERT_EQ(step(1.0), fmi2OK);
  ASSERT_EQ(step(1.0), fmi2OK);
  CoSimIntegrator* own = instance->integrator;
  ASSERT_GT(cvodeSteps(), 0);

  ASSERT_EQ(fmiSetFMUstate(instance, state), fmi2OK);
  EXPECT_EQ(instance->time, c.time);
  EXPECT_EQ(instance->mode, c.mode);
  if (c.made != Made::whileStepping) {
    EXPECT_EQ(instance->integrator, own) << "the instance keeps its record";
  }
  ASSERT_NE(instance->integrator, nullptr);
  EXPECT_EQ(cvodeSteps(), 0);
  EXPECT_EQ(cvodeTime(), c.time);
  if (c.mode == modeContinuousTime) {
    EXPECT_EQ(step(0.5), fmi2OK);
    EXPECT_EQ(instance->time, c.time + 0.5);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestoredStates,
    ::testing::Values(RestoredState{"WithIntegratorData", Made::whileStepping, 1.0, modeContinuousTime},
                      RestoredState{"TakenBeforeInitialisation", Made::beforeInitialisation, 0.0, modeInstantiated},
                      RestoredState{"Deserialised", Made::deserialised, 1.0, modeContinuousTime}),
    quenzel_test::CaseName{});

// Get, step, set, step: the run after a restore repeats bit for bit the one before it when the
// state was taken at a restart point (just after initialisation, or after an event iteration),
// where CVODE had no history either; from any state, two runs after restores repeat each other.
struct Repetition {
  const char* name;
  bool atInitialisation;  // else after the fixture's first step
  bool event;             // an event iteration (a zero step) before the state is taken
  bool restartPoint;
};

void PrintTo(const Repetition& c, std::ostream* os) { *os << c.name; }

class RepeatedRuns : public FmuStateRestart, public ::testing::WithParamInterface<Repetition> {
 protected:
  // Three steps of different sizes; after each, the time, states, derivatives and output as a host
  // reads them.
  std::vector<double> run() {
    static const fmi2ValueReference read[] = {2u << 24, (2u << 24) | 1, 3u << 24, (3u << 24) | 1, 4u << 24};
    std::vector<double> values;
    for (double h : {0.25, 1.0, 2.5}) {
      EXPECT_EQ(step(h), fmi2OK);
      double v[5];
      EXPECT_EQ(fmiGetReal(instance, read, 5, v), fmi2OK);
      values.push_back(instance->time);
      values.insert(values.end(), v, v + 5);
    }
    return values;
  }
};

TEST_P(RepeatedRuns, RepeatBitForBit) {
  const Repetition& c = GetParam();
  fmiFreeInstance(instance);
  instance = nullptr;
  start(!c.atInitialisation, nullptr, -0.5);  // an input that moves the filters
  if (HasFatalFailure()) return;
  if (c.event) {
    ASSERT_EQ(step(0.0), fmi2OK);
  }
  ASSERT_EQ(fmiGetFMUstate(instance, &state), fmi2OK);
  std::vector<double> first = run();
  ASSERT_EQ(fmiSetFMUstate(instance, state), fmi2OK);
  std::vector<double> second = run();
  ASSERT_EQ(fmiSetFMUstate(instance, state), fmi2OK);
  std::vector<double> third = run();

  ASSERT_EQ(second.size(), third.size());
  for (size_t i = 0; i < second.size(); ++i) EXPECT_EQ(second[i], third[i]) << "value " << i;
  if (c.restartPoint) {
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i], second[i]) << "value " << i;
  }
  // The runs compute something: the states move.
  EXPECT_NE(second[1], second[7]);
}

INSTANTIATE_TEST_SUITE_P(Table, RepeatedRuns,
                         ::testing::Values(Repetition{"AfterInitialisation", true, false, true},
                                           Repetition{"AfterAnEvent", false, true, true},
                                           Repetition{"WithCvodeHistory", false, false, false}),
                         quenzel_test::CaseName{});

}  // namespace
