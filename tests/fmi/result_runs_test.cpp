// Result generation on real instances of the model, switched on through the instance record as
// nothing in the fmi2 interface does: the files of Co-Simulation and Model Exchange runs as SciPy
// reads them, the samples at the points of each kind, a restored FMU state, the numbered file of
// a second set-up, and nothing at all while it is off.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "case_names.h"
#include "fmustate.h"
#include "guarded_call.h"
#include "initialize.h"
#include "instantiate.h"
#include "modelexchange.h"
#include "reset.h"
#include "result_fixture.h"
#include "scipy_check.h"
#include "stepping.h"
#include "values.h"

namespace {

const char* const guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";
constexpr fmi2ValueReference parameter(unsigned index) { return (1u << 24) | index; }

// One matrix as the SciPy check prints it.
struct Loaded {
  std::string kind;
  int rows = 0, cols = 0;
  std::vector<double> values;
};

std::map<std::string, Loaded> ParseScipy(const std::string& output) {
  std::map<std::string, Loaded> matrices;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    Loaded m;
    fields >> name >> m.kind >> m.rows >> m.cols;
    for (double v; fields >> v;) m.values.push_back(v);
    matrices[name] = m;
  }
  return matrices;
}

std::vector<double> Codes(const std::string& text) { return std::vector<double>(text.begin(), text.end()); }

class ResultRun : public ::testing::Test {
 protected:
  void TearDown() override {
    if (instance) fmiFreeInstance(instance);
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << "blocks left with the host";
  }

  // The default scenario: consistent limits, the ramp starting at 2, the switch on the output.
  void start(fmi2Type type, const std::string& name, bool on) {
    EnsureRuntimeAttached();
    resetHostAllocator();
    instance = fmiInstantiate(name.c_str(), type, guid, "", host.functions(), fmi2False, fmi2False);
    ASSERT_NE(instance, nullptr);
    instance->resultGeneration = on ? 1 : 0;
    fileName = NextResultFileName(name + "_internal");
    initialise();
  }

  void initialise() {
    const fmi2ValueReference vr[] = {parameter(5), parameter(7), parameter(14), parameter(0)};
    const fmi2Real values[] = {-1.0, -1.0, 2.0, 2.0};
    ASSERT_EQ(fmiSetReal(instance, vr, 4, values), fmi2OK);
    ASSERT_EQ(fmiSetupExperiment(instance, instance->fmuType == fmi2CoSimulation, 1e-6, 0.0, fmi2False, 0.0),
              fmi2OK);
    ASSERT_EQ(fmiEnterInitializationMode(instance), fmi2OK);
    ASSERT_EQ(fmiExitInitializationMode(instance), fmi2OK);
  }

  void steps(double from, double to, double h, fmi2Boolean noSetPrior) {
    int n = static_cast<int>(std::lround((to - from) / h));
    for (int i = 0; i < n; ++i) ASSERT_EQ(fmiDoStep(instance, from + i * h, h, noSetPrior), fmi2OK) << "step " << i;
  }

  // The event iteration after the initialisation or an event, then continuous-time mode; the
  // number of fmi2NewDiscreteStates calls.
  int iterateEvents() {
    fmi2EventInfo info{};
    int calls = 0;
    do {
      EXPECT_EQ(fmiNewDiscreteStates(instance, &info), fmi2OK);
      ++calls;
    } while (info.newDiscreteStatesNeeded && calls < 30);
    EXPECT_EQ(fmiEnterContinuousTimeMode(instance), fmi2OK);
    return calls;
  }

  // Explicit Euler steps of h to `to`, each completed with noSetFMUStatePriorToCurrentPoint.
  void eulerSteps(double to, double h) {
    double x[2], dx[2];
    fmi2Boolean enterEvent = fmi2False, terminate = fmi2False;
    while (instance->time < to - h / 2) {
      ASSERT_EQ(fmiGetContinuousStates(instance, x, 2), fmi2OK);
      ASSERT_EQ(fmiGetDerivatives(instance, dx, 2), fmi2OK);
      ASSERT_EQ(fmiSetTime(instance, instance->time + h), fmi2OK);
      for (int i = 0; i < 2; ++i) x[i] += h * dx[i];
      ASSERT_EQ(fmiSetContinuousStates(instance, x, 2), fmi2OK);
      ASSERT_EQ(fmiCompletedIntegratorStep(instance, fmi2True, &enterEvent, &terminate), fmi2OK);
    }
  }

  void finish() {
    ASSERT_EQ(fmiTerminate(instance), fmi2OK);
    fmiFreeInstance(instance);
    instance = nullptr;
  }

  std::vector<float> times() { return ResultTimes(folder.file(fileName)); }
  bool logged(const std::string& part) const { return host.contains(part); }

  ScratchWorkingFolder folder;
  HostCallbacks host;
  ModelInstance* instance = nullptr;
  std::string fileName;
};

std::vector<float> Grid(int first, int last, double h) {
  std::vector<float> out;
  for (int k = first; k <= last; ++k) out.push_back(static_cast<float>(k * h));
  return out;
}

TEST_F(ResultRun, CoSimulationWritesAFileScipyReads) {
  start(fmi2CoSimulation, "cs", true);
  steps(0.0, 4.0, 0.1, fmi2True);
  finish();
  EXPECT_EQ(folder.files(), std::vector<std::string>{fileName});
  std::map<std::string, Loaded> m = ParseScipy(ScipyLoaded(folder.file(fileName)));
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m["name"].values, Codes("Time"));
  EXPECT_EQ(m["description"].values, Codes("Time in seconds"));
  EXPECT_EQ(m["dataInfo"].kind, "i4");
  EXPECT_EQ(m["dataInfo"].values, (std::vector<double>{0, 1, 0, -1}));
  // data_1: the start time and 1e-9, as float32; a reader sees the file's transposed layout.
  EXPECT_EQ(m["data_1"].kind, "f4");
  EXPECT_EQ(m["data_1"].rows, 1);
  EXPECT_EQ(m["data_1"].values, (std::vector<double>{0.0, static_cast<double>(1e-9f)}));
  EXPECT_EQ(m["Aclass"].rows, 4);
  // data_2: the first sample, one per communication point, and two at each event: before and
  // after the time event's iteration at 2 (a communication point, so three rows there) and
  // before and after the iteration at the threshold's root in (3, 3.1).
  std::vector<float> t = times();
  ASSERT_EQ(m["data_2"].rows, 1);
  ASSERT_EQ(m["data_2"].values.size(), t.size());
  for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(m["data_2"].values[i], t[i]);
  ASSERT_EQ(t.size(), 41u + 2 + 2);
  std::vector<float> expected = Grid(0, 20, 0.1);
  expected.insert(expected.end(), {2.0f, 2.0f});
  std::vector<float> tail = Grid(21, 30, 0.1);
  expected.insert(expected.end(), tail.begin(), tail.end());
  expected.insert(expected.end(), {t[33], t[33]});
  tail = Grid(31, 40, 0.1);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(t, expected);
  EXPECT_GE(t[33], 3.0f);
  EXPECT_LT(t[33], 3.1f);
  EXPECT_FALSE(logged("Result generation"));
}

TEST_F(ResultRun, ModelExchangeSamplesAtTheEventsAndTheCompletedSteps) {
  start(fmi2ModelExchange, "me", true);
  int iterations = iterateEvents();
  eulerSteps(1.0, 0.1);
  finish();
  // The set-up's sample, one per fmi2NewDiscreteStates and one entering continuous time, all at
  // 0, then one per completed step; terminate at the newest time adds none.
  std::vector<float> expected(static_cast<size_t>(iterations) + 2, 0.0f);
  for (int k = 1; k <= 10; ++k) expected.push_back(static_cast<float>(0.1 * k));
  std::vector<float> t = times();
  ASSERT_EQ(t.size(), expected.size());
  for (size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], expected[i], 1e-6) << i;
  std::map<std::string, Loaded> m = ParseScipy(ScipyLoaded(folder.file(fileName)));
  EXPECT_EQ(m["data_2"].values.size(), t.size());
  EXPECT_EQ(m["name"].values, Codes("Time"));
}

// Which calls store a sample, and which of them write the ring out: each call once, after the
// initialisation (and for Model Exchange the event iteration it needs), on a ring that holds
// samples and has written none.
struct SamplePointCase {
  const char* name;
  fmi2Type type;
  void (*prepare)(ModelInstance*);
  fmi2Status (*call)(ModelInstance*);
  fmi2Status status;
  int stored;    // samples the call added, in the ring or in the file
  bool flushed;  // the ring written out and empty after the call
};

void PrintTo(const SamplePointCase& c, std::ostream* os) { *os << c.name; }

class ResultSamplePoints : public ResultRun, public ::testing::WithParamInterface<SamplePointCase> {};

TEST_P(ResultSamplePoints, StoreAndWriteWhereTheCallSays) {
  const SamplePointCase& c = GetParam();
  start(c.type, "points", true);
  c.prepare(instance);
  ResultBuffer* b = instance->resultBuffer;
  ASSERT_NE(b, nullptr);
  ASSERT_GT(b->used, 0);
  // Rows in the file so far; its header matrices may still wait in the stream.
  auto written = [&] {
    fflush(b->writer.file.stream);
    return static_cast<int>(times().size());
  };
  ASSERT_EQ(written(), 0);
  int before = b->used;
  EXPECT_EQ(c.call(instance), c.status);
  ASSERT_EQ(instance->resultBuffer, b);
  EXPECT_EQ(b->used + written() - before, c.stored);
  EXPECT_EQ(b->used == 0, c.flushed);
}

void asInitialised(ModelInstance*) {}
void eventIterated(ModelInstance* instance) {
  fmi2EventInfo info{};
  for (int calls = 0; calls < 30; ++calls) {
    ASSERT_EQ(fmiNewDiscreteStates(instance, &info), fmi2OK);
    if (!info.newDiscreteStatesNeeded) return;
  }
  FAIL() << "the event iteration does not end";
}
void inContinuousTime(ModelInstance* instance) {
  eventIterated(instance);
  ASSERT_EQ(fmiEnterContinuousTimeMode(instance), fmi2OK);
}
fmi2Status newDiscreteStates(ModelInstance* instance) {
  fmi2EventInfo info{};
  return fmiNewDiscreteStates(instance, &info);
}
fmi2Status completedAfter(ModelInstance* instance, double h, fmi2Boolean noSetPrior) {
  fmi2Boolean enterEvent = fmi2False, terminate = fmi2False;
  if (fmiSetTime(instance, instance->time + h) != fmi2OK) return fmi2Fatal;
  return fmiCompletedIntegratorStep(instance, noSetPrior, &enterEvent, &terminate);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ResultSamplePoints,
    ::testing::Values(
        SamplePointCase{"NewDiscreteStatesInEventMode", fmi2ModelExchange, asInitialised, newDiscreteStates, fmi2OK,
                        1, false},
        SamplePointCase{"NewDiscreteStatesRefusedStillSamplesOnEntry", fmi2ModelExchange, inContinuousTime,
                        newDiscreteStates, fmi2Warning, 1, false},
        SamplePointCase{"NewDiscreteStatesOfCoSimulation", fmi2CoSimulation, asInitialised, newDiscreteStates, fmi2OK,
                        0, false},
        SamplePointCase{"EnterContinuousTimeModeLeavingEventMode", fmi2ModelExchange, eventIterated,
                        fmiEnterContinuousTimeMode, fmi2OK, 1, false},
        SamplePointCase{"EnterContinuousTimeModeRefused", fmi2ModelExchange, asInitialised,
                        fmiEnterContinuousTimeMode, fmi2Warning, 0, false},
        SamplePointCase{"CompletedStepKeepsItsSample", fmi2ModelExchange, inContinuousTime,
                        [](ModelInstance* i) { return completedAfter(i, 0.1, fmi2False); }, fmi2OK, 1, false},
        SamplePointCase{"CompletedStepWithoutRestoreWrites", fmi2ModelExchange, inContinuousTime,
                        [](ModelInstance* i) { return completedAfter(i, 0.1, fmi2True); }, fmi2OK, 1, true},
        SamplePointCase{"CompletedStepCloserThanAThousandth", fmi2ModelExchange, inContinuousTime,
                        [](ModelInstance* i) { return completedAfter(i, 0.0005, fmi2False); }, fmi2OK, 0, false},
        SamplePointCase{"DoStepOfSizeZero", fmi2CoSimulation, asInitialised,
                        [](ModelInstance* i) { return fmiDoStep(i, 0.0, 0.0, fmi2True); }, fmi2OK, 0, false},
        SamplePointCase{"DoStepKeepsItsSample", fmi2CoSimulation, asInitialised,
                        [](ModelInstance* i) { return fmiDoStep(i, 0.0, 0.1, fmi2False); }, fmi2OK, 1, false},
        SamplePointCase{"DoStepWithoutRestoreWrites", fmi2CoSimulation, asInitialised,
                        [](ModelInstance* i) { return fmiDoStep(i, 0.0, 0.1, fmi2True); }, fmi2OK, 1, true},
        SamplePointCase{"DoStepWritesOnlyForTrue", fmi2CoSimulation, asInitialised,
                        [](ModelInstance* i) { return fmiDoStep(i, 0.0, 0.1, 2); }, fmi2OK, 1, false}),
    quenzel_test::CaseName{});

// A step repeated from an earlier state drops what the ring holds after it.
TEST_F(ResultRun, ARestoredStateDropsTheLaterSamples) {
  start(fmi2CoSimulation, "rollback", true);
  steps(0.0, 0.2, 0.1, fmi2False);
  ModelInstance* saved = nullptr;
  ASSERT_EQ(fmiGetFMUstate(instance, &saved), fmi2OK);
  steps(0.2, 0.5, 0.1, fmi2False);
  ASSERT_EQ(fmiSetFMUstate(instance, saved), fmi2OK);
  ASSERT_EQ(fmiDoStep(instance, 0.2, 0.05, fmi2False), fmi2OK);
  ASSERT_EQ(fmiDoStep(instance, 0.25, 0.1, fmi2False), fmi2OK);
  ASSERT_EQ(fmiFreeFMUstate(instance, &saved), fmi2OK);
  finish();
  EXPECT_EQ(times(), Floats({0, 0.1, 0.2, 0.25, 0.35}));
}

// The second set-up of an instance (after a reset) numbers its file from the process's count.
TEST_F(ResultRun, ASecondSetUpWritesTheNextNumberedFile) {
  start(fmi2CoSimulation, "again", true);
  std::string first = fileName;
  steps(0.0, 0.2, 0.1, fmi2True);
  ASSERT_EQ(fmiReset(instance), fmi2OK);
  fileName = NextResultFileName("again_internal");
  EXPECT_EQ(fileName, "again_internal" + std::to_string(resultSetupCount + 1) + ".mat");
  initialise();
  steps(0.0, 0.1, 0.1, fmi2True);
  finish();
  std::vector<std::string> expected = {first, fileName};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folder.files(), expected);
  EXPECT_EQ(ResultTimes(folder.file(first)), Floats({0, 0.1, 0.2}));
  EXPECT_EQ(times(), Floats({0, 0.1}));
  EXPECT_EQ(ParseScipy(ScipyLoaded(folder.file(fileName)))["data_2"].values, (std::vector<double>{0.0, 0.1f}));
}

// An instance freed without fmi2Terminate still completes its file.
TEST_F(ResultRun, FreeingWithoutTerminateCompletesTheFile) {
  start(fmi2CoSimulation, "freed", true);
  steps(0.0, 0.3, 0.1, fmi2False);
  fmiFreeInstance(instance);
  instance = nullptr;
  EXPECT_EQ(times(), Floats({0, 0.1, 0.2, 0.3}));
}

// A set-up that fails leaves the run as it would be without result generation.
TEST_F(ResultRun, AFailedSetUpLetsTheRunGoOn) {
  start(fmi2CoSimulation, std::string(300, 'n'), true);
  EXPECT_TRUE(logged("Failed to setup result generation, skipping it"));
  EXPECT_EQ(instance->resultGeneration, 0);
  EXPECT_EQ(instance->resultBuffer, nullptr);
  steps(0.0, 0.3, 0.1, fmi2True);
  finish();
  EXPECT_EQ(folder.files(), std::vector<std::string>{});
}

// Off, as every instance is after fmi2Instantiate: nothing is written or said.
TEST_F(ResultRun, OffByDefaultNothingRuns) {
  for (fmi2Type type : {fmi2CoSimulation, fmi2ModelExchange}) {
    SCOPED_TRACE(type == fmi2CoSimulation ? "Co-Simulation" : "Model Exchange");
    int32_t count = resultSetupCount;
    EnsureRuntimeAttached();
    resetHostAllocator();
    instance = fmiInstantiate("off", type, guid, "", host.functions(), fmi2False, fmi2True);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->resultGeneration, 0);
    initialise();
    if (type == fmi2CoSimulation) {
      steps(0.0, 0.5, 0.1, fmi2True);
    } else {
      iterateEvents();
      eulerSteps(0.5, 0.1);
    }
    finish();
    EXPECT_EQ(resultSetupCount, count);
    EXPECT_EQ(folder.files(), std::vector<std::string>{});
    EXPECT_FALSE(logged("esult generation"));
  }
}

}  // namespace
