// Co-Simulation of the default scenario (4 s in communication steps of 1 ms, the host giving up
// earlier states at every step, so that every sample is written at once) with result generation
// on, beside the same run with it off, and the run whose host keeps the right to go back (the
// samples wait in the ring and are written 64 at a time);
// both through the FMI layer's static library, since no fmi2 call switches result generation
// on. The ratio of their times is the cost of result generation per communication step. The
// result files go to a scratch folder, removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "default_scenario.h"
#include "entry.h"
#include "initialize.h"
#include "instantiate.h"
#include "ratio_main.h"
#include "stepping.h"
#include "values.h"

namespace {

using scenario::stepSize;
constexpr int stepCount = 4000;

// The default scenario; the ring's buffer-full warning, which the run keeping states is about,
// does not show.
ModelInstance* defaultScenario(bool results) {
  ModelInstance* c =
      fmiInstantiate("bench", fmi2CoSimulation, scenario::guid, "", &scenario::callbacks, fmi2False, fmi2False);
  if (!c) {
    fprintf(stderr, "fmi2Instantiate failed\n");
    exit(1);
  }
  c->resultGeneration = results ? 1 : 0;
  fmiSetReal(c, scenario::references, scenario::settings, scenario::values);
  fmiSetupExperiment(c, fmi2True, scenario::tolerance, 0.0, fmi2False, 0.0);
  fmiEnterInitializationMode(c);
  fmiExitInitializationMode(c);
  return c;
}

// The set-up, the terminate (which completes the file) and the removal of the file are outside
// the timing: what is timed is the stepping.
void doSteps(benchmark::State& state, bool results, fmi2Boolean noSetPrior = fmi2True) {
  for (auto _ : state) {
    state.PauseTiming();
    ModelInstance* c = defaultScenario(results);
    state.ResumeTiming();
    double t = 0.0;
    for (int i = 0; i < stepCount; ++i) {
      if (fmiDoStep(c, t, stepSize, noSetPrior) != fmi2OK) {
        fprintf(stderr, "fmi2DoStep failed at t = %g\n", t);
        exit(1);
      }
      t += stepSize;
    }
    state.PauseTiming();
    fmiTerminate(c);
    fmiFreeInstance(c);
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove(entry.path(), ignored);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * stepCount);
}

void ResultGenerationOn(benchmark::State& state) { doSteps(state, true); }
BENCHMARK(ResultGenerationOn)->Unit(benchmark::kMillisecond);

void ResultGenerationOnKeepingStates(benchmark::State& state) { doSteps(state, true, fmi2False); }
BENCHMARK(ResultGenerationOnKeepingStates)->Unit(benchmark::kMillisecond);

void ResultGenerationOff(benchmark::State& state) { doSteps(state, false); }
BENCHMARK(ResultGenerationOff)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (RuntimeProcessAttach() != 0) {
    fprintf(stderr, "the runtime could not be attached\n");
    return 1;
  }
  char previous[PATH_MAX];
  if (!getcwd(previous, sizeof previous)) return 1;
  std::string folder = (std::filesystem::temp_directory_path() / "quenzel-result-bench-XXXXXX").string();
  if (!mkdtemp(folder.data()) || chdir(folder.c_str()) != 0) {
    fprintf(stderr, "no scratch folder for the result files\n");
    return 1;
  }
  int result = runWithRatios(argc, argv, {{"ResultGenerationOn", "ResultGenerationOff"},
                                                      {"ResultGenerationOnKeepingStates", "ResultGenerationOff"}});
  if (chdir(previous) != 0) result = 1;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  RuntimeProcessDetach();
  return result;
}
