// Runs continued from a restored state: in this process, in a new process started with the
// replay program, and Co-Simulation instances whose integrator must be made or restarted by the
// restore.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "state_replay.h"
#include "state_fixture.h"

namespace {

constexpr double t1 = 2.5, t2 = 4.0, tolerance = 1e-6;

class StateReplay : public StateTest {
 protected:
  // The image at t1 of a run from 0, and the outputs of that run continued to t2.
  std::vector<char> runAndContinue(fmi2Type kind, double h, std::vector<double>* continued) {
    fmi2Component c = instantiate(kind, "first", fmi2False);
    double nextEvent = INFINITY;
    std::vector<double> before;
    if (kind == fmi2ModelExchange) {
      EXPECT_TRUE(replay::startModelExchange(unit, c, &nextEvent));
      EXPECT_TRUE(replay::runModelExchange(unit, c, 0.0, t1, h, &nextEvent, &before));
      // The ramp's time event lies behind t1, so the replay needs nothing of the host's own.
      EXPECT_TRUE(std::isinf(nextEvent));
    } else {
      EXPECT_TRUE(replay::configure(unit, c, tolerance));
      EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
      EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
      EXPECT_TRUE(replay::runCoSimulation(unit, c, 0.0, t1, h, &before));
    }
    fmi2FMUstate state = nullptr;
    EXPECT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    std::vector<char> image = serialize(c, state);
    EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
    bool ok = kind == fmi2ModelExchange ? replay::runModelExchange(unit, c, t1, t2, h, &nextEvent, continued)
                                        : replay::runCoSimulation(unit, c, t1, t2, h, continued);
    EXPECT_TRUE(ok);
    return image;
  }

  // What the replay program prints for the image; empty when it fails.
  std::string replayInNewProcess(const char* kind, const std::vector<char>& image, double h) {
    char path[] = "/tmp/quenzel-state-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "";
    close(fd);
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    std::string command = std::string(QUENZEL_STATE_REPLAY_PATH) + " " + kind + " " + path + " " +
                          std::to_string(t1) + " " + std::to_string(t2) + " " + std::to_string(h) + " " +
                          std::to_string(tolerance);
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char line[256];
      while (fgets(line, sizeof line, pipe)) output += line;
      if (pclose(pipe) != 0) output.clear();
    }
    unlink(path);
    return output;
  }
};

TEST_F(StateReplay, ModelExchangeContinuesBitForBitInANewProcess) {
  REQUIRE_EXPORTED(fmi2NewDiscreteStates);
  const double h = 0.01;
  std::vector<double> continued;
  std::vector<char> image = runAndContinue(fmi2ModelExchange, h, &continued);
  ASSERT_EQ(continued.size(), 150u);
  EXPECT_NE(continued.front(), continued.back());
  EXPECT_EQ(replayInNewProcess("me", image, h), replay::format(continued));
}

TEST_F(StateReplay, CoSimulationReplaysAgreeAndFollowTheUninterruptedRun) {
  REQUIRE_EXPORTED(fmi2DoStep);
  const double h = 0.1;
  std::vector<double> continued, here;
  std::vector<char> image = runAndContinue(fmi2CoSimulation, h, &continued);
  ASSERT_TRUE(replay::replayImage(unit, host.functions(), fmi2CoSimulation, image, t1, t2, h, tolerance, &here));
  ASSERT_EQ(here.size(), continued.size());
  EXPECT_EQ(replayInNewProcess("cs", image, h), replay::format(here));
  // The image holds no integrator history: the replay restarts CVODE at t1 and agrees with the
  // uninterrupted run within the integration tolerance.
  for (size_t k = 0; k < here.size(); ++k) EXPECT_NEAR(here[k], continued[k], 20 * tolerance) << k;
}

// ---- Co-Simulation integrators made or restarted by a restore ----------------------------------

class CoSimRestore : public StateTest {
 protected:
  fmi2Component running(const char* name = "cs", fmi2Boolean loggingOn = fmi2False) {
    fmi2Component c = instantiate(fmi2CoSimulation, name, loggingOn);
    EXPECT_TRUE(replay::configure(unit, c, tolerance));
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    return c;
  }

  double stepAndRead(fmi2Component c, double t, double h) {
    EXPECT_EQ(unit.fmi2DoStep(c, t, h, fmi2True), fmi2OK) << "at " << t;
    return get(c, replay::y);
  }

  // The count after `label` in the "Rejected count" report of fmi2Terminate.
  int rejected(const std::string& label) {
    for (const LogRecord& r : host.log) {
      if (r.text.rfind("Rejected count", 0) != 0) continue;
      size_t at = r.text.find(label);
      if (at == std::string::npos) return -1;
      return std::atoi(r.text.c_str() + r.text.find(':', at) + 1);
    }
    return -1;
  }
};

TEST_F(CoSimRestore, AStateTakenBeforeInitialisationLeavesTheInstanceAbleToStepAgain) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component c = instantiate(fmi2CoSimulation, "cs", fmi2False);
  ASSERT_TRUE(replay::configure(unit, c, tolerance));
  fmi2FMUstate early = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &early), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  double first = stepAndRead(c, 0.0, 0.5);

  ASSERT_EQ(unit.fmi2SetFMUstate(c, early), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2Warning);  // back before initialisation
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  EXPECT_NEAR(stepAndRead(c, 0.0, 0.5), first, 20 * tolerance);
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &early), fmi2OK);
}

TEST_F(CoSimRestore, AStateRestoredAfterTerminateGetsANewIntegrator) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component c = running();
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  double first = stepAndRead(c, 0.0, 0.5);
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_NEAR(stepAndRead(c, 0.0, 0.5), first, 20 * tolerance);
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
}

TEST_F(CoSimRestore, ADeserialisedStateStepsInAnInstanceThatWasNeverInitialised) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component source = running("source");
  double ignored = stepAndRead(source, 0.0, 0.5);
  (void)ignored;
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(source, &state), fmi2OK);
  std::vector<char> image = serialize(source, state);
  double expected = stepAndRead(source, 0.5, 0.5);

  fmi2Component fresh = instantiate(fmi2CoSimulation, "fresh", fmi2False);
  ASSERT_EQ(unit.fmi2SetupExperiment(fresh, fmi2True, tolerance, 0.0, fmi2False, 0.0), fmi2OK);
  fmi2FMUstate copy = nullptr;
  ASSERT_EQ(unit.fmi2DeSerializeFMUstate(fresh, image.data(), image.size(), &copy), fmi2OK);
  ASSERT_EQ(unit.fmi2SetFMUstate(fresh, copy), fmi2OK);
  EXPECT_NEAR(stepAndRead(fresh, 0.5, 0.5), expected, 20 * tolerance);
  EXPECT_EQ(unit.fmi2FreeFMUstate(source, &state), fmi2OK);
  EXPECT_EQ(unit.fmi2FreeFMUstate(fresh, &copy), fmi2OK);
}

// Each restore restarts CVODE and books the work it throws away: restoring twice after a step
// each time rejects both steps.
TEST_F(CoSimRestore, RestoresRestartTheIntegratorAndBookTheDiscardedWork) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component c = running("cs", fmi2True);
  fmi2FMUstate state = nullptr;
  ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
  double first = stepAndRead(c, 0.0, 0.5);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_NEAR(stepAndRead(c, 0.0, 0.5), first, 20 * tolerance);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_NEAR(stepAndRead(c, 0.0, 0.5), first, 20 * tolerance);
  host.clear();
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  EXPECT_EQ(rejected("Number of external steps"), 2);
  EXPECT_GT(rejected("Number of internal steps"), 0);
  EXPECT_GT(rejected("Number of f function evaluations"), 0);
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
}

}  // namespace
