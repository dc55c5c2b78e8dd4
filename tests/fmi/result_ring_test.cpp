// The sample ring of result generation on a hand-built instance: which samples are stored,
// skipped, taken back and written, and in which order; the ring full and grown; its set-up and
// its failures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "case_names.h"
#include "result_fixture.h"

namespace {

std::vector<float> Range(int first, int last) {
  std::vector<float> out;
  for (int i = first; i <= last; ++i) out.push_back(static_cast<float>(i));
  return out;
}

std::vector<float> Joined(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- Which samples are kept ------------------------------------------------------------------

struct Step {
  enum Kind { sample, flush } kind;
  double time;
  int force;
};
constexpr Step Sample(double t) { return {Step::sample, t, 0}; }
constexpr Step Forced(double t) { return {Step::sample, t, 1}; }
constexpr Step Flush() { return {Step::flush, 0.0, 0}; }

struct SampleCase {
  const char* name;
  std::vector<Step> steps;  // after the set-up at t = 0, which stores a sample at 0
  double finish;
  std::vector<float> written;
  int duplicateWarnings;
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

class ResultSamples : public ResultInstanceTest, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(ResultSamples, KeepTakeBackAndWrite) {
  const SampleCase& c = GetParam();
  setUpAt(0.0);
  for (const Step& s : c.steps) {
    if (s.kind == Step::flush)
      resultBufferFlush(instance);
    else
      sampleAt(s.time, s.force);
  }
  finishAt(c.finish);
  EXPECT_EQ(times(), c.written);
  EXPECT_EQ(warnings("Result generation:: duplicate sample point"), c.duplicateWarnings);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ResultSamples,
    ::testing::Values(
        SampleCase{"ForcedAtTheLastWrittenTimeIsStored", {Flush(), Forced(0)}, 0, Floats({0, 0}), 0},
        SampleCase{"UnforcedAtTheLastWrittenTimeIsDroppedWithOneWarning",
                   {Flush(), Sample(0), Sample(0)}, 0, Floats({0}), 1},
        SampleCase{"TheDuplicateWarningComesAgainOnlyWhenTheLastWrittenTimeMoved",
                   {Flush(), Sample(0), Forced(1), Flush(), Sample(0.5), Forced(0.7), Sample(1)},
                   1, Floats({0, 1}), 2},
        SampleCase{"UnforcedCloserThanAThousandthIsSkipped", {Sample(0.0005), Sample(0.002)}, 0.002,
                   Floats({0, 0.002}), 0},
        SampleCase{"ForcedCloserThanAThousandthIsStored", {Forced(0.0005)}, 0.0005, Floats({0, 0.0005}), 0},
        SampleCase{"AnEarlierSampleTakesBackTheLaterOnes",
                   {Sample(1), Sample(2), Sample(3), Sample(4), Sample(5), Sample(2.5), Sample(3.5)}, 3.5,
                   Floats({0, 1, 2, 2.5, 3.5}), 0},
        SampleCase{"AForcedSampleAtAKeptTimeFollowsIt", {Sample(1), Sample(2), Sample(3), Forced(2)}, 2,
                   Floats({0, 1, 2, 2}), 0},
        SampleCase{"AnUnforcedSampleAtAKeptTimeOnlyTakesBack", {Sample(1), Sample(2), Sample(3), Sample(2)}, 2,
                   Floats({0, 1, 2}), 0},
        SampleCase{"WrittenSamplesAreNeverTakenBack", {Sample(1), Sample(2), Flush(), Forced(1.5)}, 2,
                   Floats({0, 1, 2}), 1},
        SampleCase{"FinishAfterTheNewestAddsAFinalSample", {Sample(1)}, 1.5, Floats({0, 1, 1.5}), 0},
        SampleCase{"FinishAtTheNewestAddsNothing", {Sample(1)}, 1, Floats({0, 1}), 0},
        SampleCase{"FinishBeforeTheNewestTakesNothingBack", {Sample(1), Sample(2)}, 1.5, Floats({0, 1, 2}), 0},
        SampleCase{"FlushesWriteInTimeOrder", {Sample(1), Flush(), Sample(2), Sample(3), Flush(), Sample(4)}, 4,
                   Floats({0, 1, 2, 3, 4}), 0}),
    quenzel_test::CaseName{});

TEST_F(ResultInstanceTest, TheDuplicateWarningNamesTheSampleAndTheLastWrittenTime) {
  setUpAt(0.0);
  sampleAt(2.0, 1);
  resultBufferFlush(instance);
  sampleAt(1.25, 1);
  EXPECT_EQ(warnings("Result generation:: duplicate sample point at t = 1.2500 (and others at t < 2.000000) "
                     "neglected."),
            1);
  ASSERT_FALSE(host.log.empty());
  EXPECT_EQ(host.log.back().instance, "inst");
  EXPECT_EQ(host.log.back().category, "");
}

// ---- A full ring -----------------------------------------------------------------------------

struct FullRingCase {
  const char* name;
  fmi2Type type;
  int fullWarnings;
};

void PrintTo(const FullRingCase& c, std::ostream* os) { *os << c.name; }

class ResultFullRing : public ResultInstanceTest, public ::testing::WithParamInterface<FullRingCase> {};

// 384 samples fill the ring; the next writes the 64 oldest first. Only a Co-Simulation instance,
// whose host could have avoided it, is warned, and only once.
TEST_P(ResultFullRing, WritesTheOldestChunkAndWarnsCoSimulationOnce) {
  instance->fmuType = GetParam().type;
  setUpAt(1.0);
  for (int t = 2; t <= 384; ++t) sampleAt(t, 0);
  sampleAt(385, 0);
  EXPECT_EQ(times(), Range(1, 64));
  for (int t = 386; t <= 448; ++t) sampleAt(t, 0);
  // Full again, the ring now wrapped: a flush writes everything in time order.
  resultBufferFlush(instance);
  EXPECT_EQ(times(), Range(1, 448));
  for (int t = 449; t <= 449 + 384; ++t) sampleAt(t, 0);
  EXPECT_EQ(times(), Range(1, 448 + 64));
  EXPECT_EQ(warnings("buffer full"), GetParam().fullWarnings);
  if (GetParam().fullWarnings) {
    EXPECT_EQ(warnings("Result generation:: buffer full at t = 385.0000, forcing file output for interval t = "
                       "1.0000 ... 64.0000. To avoid this for FMI 2, set SetFMUStatePriorToCurrentPoint = fmiTrue "
                       "in fmiDoStep. Will not warn about this again."),
              1);
  }
  finishAt(449 + 384);
  EXPECT_EQ(times(), Range(1, 449 + 384));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ResultFullRing,
                         ::testing::Values(FullRingCase{"CoSimulation", fmi2CoSimulation, 1},
                                           FullRingCase{"ModelExchange", fmi2ModelExchange, 0}),
                         quenzel_test::CaseName{});

struct FullRollbackCase {
  const char* name;
  int lastSample;    // samples 1 ... lastSample, unforced
  double backTo;     // then one at this time
  std::vector<float> written;  // after finishing there
};

void PrintTo(const FullRollbackCase& c, std::ostream* os) { *os << c.name; }

class ResultFullRollback : public ResultInstanceTest, public ::testing::WithParamInterface<FullRollbackCase> {};

// The scan covers every buffered sample, the oldest included, across the ring's wrap.
TEST_P(ResultFullRollback, TakesBackEverySampleAfterTheRestoredTime) {
  const FullRollbackCase& c = GetParam();
  setUpAt(1.0);
  for (int t = 2; t <= c.lastSample; ++t) sampleAt(t, 0);
  sampleAt(c.backTo, 0);
  sampleAt(1000, 0);
  finishAt(1000);
  EXPECT_EQ(times(), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, ResultFullRollback,
    ::testing::Values(
        FullRollbackCase{"FullBeforeTheOldest", 384, 0.5, Floats({0.5, 1000})},
        FullRollbackCase{"FullIntoItsMiddle", 384, 200.5, Joined(Range(1, 200), Floats({200.5, 1000}))},
        FullRollbackCase{"WrappedIntoItsOlderPart", 448, 100.5, Joined(Range(1, 100), Floats({100.5, 1000}))},
        FullRollbackCase{"WrappedIntoItsNewerPart", 448, 420.5, Joined(Range(1, 420), Floats({420.5, 1000}))}),
    quenzel_test::CaseName{});

// ---- Growing the ring ------------------------------------------------------------------------

struct ExtensionCase {
  const char* name;
  long failingCall;  // counted from the first allocation after the set-up
  const char* warning;
};

void PrintTo(const ExtensionCase& c, std::ostream* os) { *os << c.name; }

class ResultExtension : public ResultInstanceTest, public ::testing::WithParamInterface<ExtensionCase> {};

// A failed extension writes the oldest chunk; the samples go on into slots that have arrays, the
// kept ones can still be taken back, and a later extension grows the ring.
TEST_P(ResultExtension, FailureWritesTheOldestAndTheRingGoesOn) {
  setUpAt(1.0);
  hostAllocator().failAt = hostAllocator().calls + GetParam().failingCall;
  for (int t = 2; t <= 250; ++t) sampleAt(t, 0);
  EXPECT_EQ(warnings("buffer extension failed"), 1);
  EXPECT_EQ(warnings(GetParam().warning), 1);
  EXPECT_EQ(warnings("buffer full"), 0);
  sampleAt(180.5, 0);
  finishAt(180.5);
  EXPECT_EQ(times(), Joined(Range(1, 180), Floats({180.5})));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ResultExtension,
    ::testing::Values(ExtensionCase{"FirstArrayOfTheSecondChunk", 1,
                                    "Result generation:: buffer extension failed at t = 65.0000, forcing file output "
                                    "for interval t = 1.0000 ... 64.0000"},
                      ExtensionCase{"WithinTheThirdChunk", 6 * 64 + 100,
                                    "Result generation:: buffer extension failed at t = 129.0000, forcing file "
                                    "output for interval t = 1.0000 ... 128.0000"}),
    quenzel_test::CaseName{});

// ---- Set-up ----------------------------------------------------------------------------------

TEST_F(ResultInstanceTest, SetUpAsksTheHostForTheRingAndTheName) {
  long first = hostAllocator().calls;
  setUpAt(0.0);
  const auto& r = hostAllocator().requests;
  ASSERT_EQ(static_cast<long>(r.size()), first + 2 + resultSlotCount + 6 * resultSlotChunk + 2);
  EXPECT_EQ(r[first], std::make_pair(size_t{1}, sizeof(ResultBuffer)));
  EXPECT_EQ(r[first + 1], std::make_pair(size_t{resultSlotCount}, sizeof(ResultSlot*)));
  EXPECT_EQ(r[first + 2], std::make_pair(size_t{1}, sizeof(ResultSlot)));
  // Per slot: parameters, states, derivatives, outputs, inputs, auxiliaries.
  const size_t counts[] = {modelParameters, modelStates, modelStates, modelOutputs, modelInputs, modelAuxiliaries};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(r[first + 2 + resultSlotCount + k], std::make_pair(counts[k], sizeof(double)));
  // The base "inst_internal" and the file name's copy.
  EXPECT_EQ(r[r.size() - 2], std::make_pair(sizeof "inst_internal", size_t{1}));
  EXPECT_EQ(r.back().second, size_t{1});
  EXPECT_TRUE(host.contains("Setting up result generation"));
  EXPECT_EQ(folder.files(), std::vector<std::string>{fileName});
}

struct SetUpFailureCase {
  const char* name;
  long failingCall;  // counted from the set-up's first allocation
};

void PrintTo(const SetUpFailureCase& c, std::ostream* os) { *os << c.name; }

class ResultSetUpFailure : public ResultInstanceTest, public ::testing::WithParamInterface<SetUpFailureCase> {};

// Whatever is missing, the set-up releases what it made and switches result generation off.
TEST_P(ResultSetUpFailure, ReleasesEverythingAndSwitchesOff) {
  int32_t count = resultSetupCount;
  hostAllocator().failAt = hostAllocator().calls + GetParam().failingCall;
  instance->time = 0.0;
  resultSetup(instance);
  EXPECT_EQ(instance->resultBuffer, nullptr);
  EXPECT_EQ(instance->resultGeneration, 0);
  EXPECT_EQ(resultSetupCount, count + 1);
  EXPECT_EQ(warnings("Failed to setup result generation, skipping it"), 1);
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
  EXPECT_EQ(folder.files(), std::vector<std::string>{});
  // Nothing runs afterwards.
  sampleAt(1.0, 1);
  resultBufferFlush(instance);
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
}

constexpr long firstArray = 2 + resultSlotCount + 1;
INSTANTIATE_TEST_SUITE_P(
    MissingMemory, ResultSetUpFailure,
    ::testing::Values(SetUpFailureCase{"Record", 1}, SetUpFailureCase{"SlotTable", 2},
                      SetUpFailureCase{"FirstSlot", 3}, SetUpFailureCase{"LastSlot", 2 + resultSlotCount},
                      SetUpFailureCase{"FirstValueArray", firstArray},
                      SetUpFailureCase{"LastValueArray", firstArray + 6 * resultSlotChunk - 1},
                      SetUpFailureCase{"BaseName", firstArray + 6 * resultSlotChunk},
                      SetUpFailureCase{"FileNameCopy", firstArray + 6 * resultSlotChunk + 1}),
    quenzel_test::CaseName{});

// A kind of value the instance has none of is asked for as zero values per slot: a host that
// gives nothing for that fails the set-up, one that gives a block does not.
const fmi2CallbackFunctions* zeroRefusingTarget = nullptr;
extern "C" void* refuseZero(size_t nobj, size_t size) {
  return nobj == 0 ? nullptr : zeroRefusingTarget->allocateMemory(nobj, size);
}

TEST_F(ResultInstanceTest, ZeroValuesOfAKindAreAskedForAsZero) {
  instance->nu = 0;
  for (bool refusing : {true, false}) {
    SCOPED_TRACE(refusing ? "host refuses zero" : "host gives a block");
    const fmi2CallbackFunctions* given = host.functions();
    zeroRefusingTarget = given;
    fmi2CallbackFunctions callbacks = {given->logger, refusing ? refuseZero : given->allocateMemory,
                                       given->freeMemory, given->stepFinished, given->componentEnvironment};
    instance->functions = &callbacks;
    instance->resultGeneration = 1;
    host.clear();
    long first = hostAllocator().calls;
    instance->time = 0.0;
    resultSetup(instance);
    if (!refusing) {
      EXPECT_EQ(hostAllocator().requests[first + 2 + resultSlotCount + 4], std::make_pair(size_t{0}, sizeof(double)));
    }
    EXPECT_EQ(instance->resultBuffer == nullptr, refusing);
    EXPECT_EQ(warnings("Failed to setup result generation, skipping it"), refusing ? 1 : 0);
    finishAt(1.0);
    EXPECT_EQ(hostAllocator().liveBlocks, 0);
    instance->functions = host.functions();
  }
}

// The model's declaration routine writes start values into what it is given.
TEST_F(ResultInstanceTest, SetUpLeavesTheInstanceValuesAlone) {
  for (size_t i = 0; i < parameters.size(); ++i) parameters[i] = 100.0 + i;
  states[0] = 5.0;
  states[1] = 6.0;
  std::vector<double> p = parameters, x = states;
  setUpAt(0.0);
  sampleAt(1.0, 1);
  resultBufferFlush(instance);
  EXPECT_EQ(parameters, p);
  EXPECT_EQ(states, x);
}

TEST_F(ResultInstanceTest, ASecondSetUpFinishesTheFirstAndTakesTheNextNumber) {
  setUpAt(0.0);
  sampleAt(1.0, 0);
  std::string first = fileName;
  setUpAt(2.0);
  EXPECT_EQ(ResultTimes(folder.file(first)), Floats({0, 1}));
  EXPECT_NE(fileName, first);
  finishAt(3.0);
  EXPECT_EQ(times(), Floats({2, 3}));
}

// ---- File names ------------------------------------------------------------------------------

struct NameCase {
  const char* name;
  std::string instanceName;
  int32_t earlierSetUps;
  const char* fileName;  // null: the set-up fails
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class ResultFileNames : public ResultInstanceTest, public ::testing::WithParamInterface<NameCase> {
 protected:
  void TearDown() override {
    resultSetupCount = saved;
    ResultInstanceTest::TearDown();
  }
  int32_t saved = resultSetupCount;
};

TEST_P(ResultFileNames, FromTheInstanceNameAndTheProcessCount) {
  const NameCase& c = GetParam();
  std::string name = c.instanceName;
  instance->instanceName = name.data();
  resultSetupCount = c.earlierSetUps;
  instance->time = 0.0;
  resultSetup(instance);
  if (!c.fileName) {
    EXPECT_EQ(instance->resultBuffer, nullptr);
    EXPECT_EQ(warnings("Failed to setup result generation, skipping it"), 1);
    EXPECT_EQ(folder.files(), std::vector<std::string>{});
    instance->instanceName = unit.name;
    return;
  }
  finishAt(1.0);
  instance->instanceName = unit.name;
  EXPECT_EQ(folder.files(), std::vector<std::string>{c.fileName});
  EXPECT_EQ(ResultTimes(folder.file(c.fileName)), Floats({0, 1}));
}

const std::string x242(242, 'x'), x243(243, 'x'), x240(240, 'x'), x241(241, 'x');
const std::string y240 = x240 + "_internal10.mat";
const std::string n242 = x242 + "_internal.mat";

INSTANTIATE_TEST_SUITE_P(
    Names, ResultFileNames,
    ::testing::Values(NameCase{"FirstOfTheProcess", "pump", 0, "pump_internal.mat"},
                      NameCase{"SecondOfTheProcess", "pump", 1, "pump_internal2.mat"},
                      NameCase{"Twelfth", "pump", 11, "pump_internal12.mat"},
                      NameCase{"EmptyName", "", 0, "dres_internal.mat"},
                      NameCase{"EmptyNameLater", "", 2, "dres_internal3.mat"},
                      NameCase{"SlashesBecomeUnderscores", "a/b//c", 0, "a_b__c_internal.mat"},
                      NameCase{"Longest", x242, 0, n242.c_str()},
                      NameCase{"OneTooLong", x243, 0, nullptr},
                      NameCase{"LongestWithANumber", x240, 9, y240.c_str()},
                      NameCase{"OneTooLongWithANumber", x241, 9, nullptr}),
    quenzel_test::CaseName{});

// ---- A file that stops taking rows -----------------------------------------------------------

// File size limits belong to the process: the run goes in a child, which exits 0 when a failed
// row stopped result generation with one warning and left the rows before it in the file.
TEST_F(ResultInstanceTest, AFailedRowWarnsOnceAndStopsResultGeneration) {
  setUpAt(0.0);
  std::string path = folder.file(fileName);
  fflush(instance->resultBuffer->writer.file.stream);
  size_t header = ReadBytes(path).size();
  auto run = [&] {
    signal(SIGXFSZ, SIG_IGN);
    rlim_t bytes = header + 5 * sizeof(float);
    rlimit limit = {bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    for (int t = 1; t <= 9; ++t) {
      sampleAt(t, 1);
      resultBufferFlush(instance);
    }
    resultFinish(instance);
    bool ok = instance->resultBuffer == nullptr && instance->resultGeneration == 0 &&
              warnings("Result generation: writing the result file " + fileName +
                       " failed at t = 5.0000, stopping result generation.") == 1 &&
              ResultTimes(path) == Floats({0, 1, 2, 3, 4});
    if (!ok)
      for (const LogRecord& r : host.log) fprintf(stderr, "%d %s\n", r.status, r.text.c_str());
    _exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
