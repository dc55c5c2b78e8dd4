// Co-Simulation of the default scenario (10 s in steps of 1 ms) through fmi2DoStep, beside a
// bare CVODE loop over the same two filter equations with the same settings and the same ten
// root functions; the same run with a state taken before every step, beside the run that takes
// none and beside its floor, the bare loop restarted every step with a copy of the bytes a state
// moves; and fmi2GetReal of a value already computed, beside reading a double. The ratios are
// printed after the runs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bare_cvode.h"
#include "default_scenario.h"
#include "fmi2.h"
#include "ratio_main.h"

namespace {

using scenario::stepSize;
using scenario::tolerance;
constexpr int stepCount = 10000;
constexpr fmi2ValueReference outputY = (1u << 28) | (4u << 24);

fmi2Component defaultScenario() {
  fmi2Component c =
      fmi2Instantiate("bench", fmi2CoSimulation, scenario::guid, "", &scenario::callbacks, fmi2False, fmi2False);
  fmi2SetReal(c, scenario::references, scenario::settings, scenario::values);
  fmi2SetupExperiment(c, fmi2True, tolerance, 0.0, fmi2False, 0.0);
  fmi2EnterInitializationMode(c);
  fmi2ExitInitializationMode(c);
  return c;
}

// What a host keeps before every step: nothing, the unit's state (taken into the same handle,
// as a host does that may have to repeat any step), or a plain copy of the bytes a state moves,
// which is the share of taking a state that copying its data costs (the rest is the restart).
enum class Keep { nothing, state, bytes };

void doSteps(benchmark::State& state, Keep keep) {
  static char source[scenario::stateBytes], copy[scenario::stateBytes];
  for (auto _ : state) {
    state.PauseTiming();
    fmi2Component c = defaultScenario();
    fmi2FMUstate saved = nullptr;
    state.ResumeTiming();
    double t = 0.0;
    for (int i = 0; i < stepCount; ++i) {
      if (keep == Keep::state && fmi2GetFMUstate(c, &saved) != fmi2OK) {
        fprintf(stderr, "fmi2GetFMUstate failed at t = %g\n", t);
        exit(1);
      }
      if (keep == Keep::bytes) {
        memcpy(copy, source, sizeof copy);
        benchmark::DoNotOptimize(copy);
      }
      if (fmi2DoStep(c, t, stepSize, fmi2True) != fmi2OK) {
        fprintf(stderr, "fmi2DoStep failed at t = %g\n", t);
        exit(1);
      }
      t += stepSize;
    }
    state.PauseTiming();
    fmi2Real y = 0.0;
    fmi2GetReal(c, &outputY, 1, &y);
    benchmark::DoNotOptimize(y);
    fmi2FreeFMUstate(c, &saved);
    fmi2Terminate(c);
    fmi2FreeInstance(c);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * stepCount);
}

void QuenzelDoStep(benchmark::State& state) { doSteps(state, Keep::nothing); }
BENCHMARK(QuenzelDoStep)->Unit(benchmark::kMillisecond);

void QuenzelDoStepTakingStates(benchmark::State& state) { doSteps(state, Keep::state); }
BENCHMARK(QuenzelDoStepTakingStates)->Unit(benchmark::kMillisecond);

void QuenzelDoStepCopyingStateBytes(benchmark::State& state) { doSteps(state, Keep::bytes); }
BENCHMARK(QuenzelDoStepCopyingStateBytes)->Unit(benchmark::kMillisecond);

// ---- The bare loop --------------------------------------------------------------------------

// CVODE alone over the same equations, with the same settings and root functions. Restarting
// every step and copying the bytes a state moves, it is the floor of a run that takes a state
// before every step: taking a Co-Simulation state restarts CVODE and copies the state's values.
void bareSteps(benchmark::State& state, bool restartAndCopy) {
  static char source[scenario::stateBytes], copy[scenario::stateBytes];
  for (auto _ : state) {
    state.PauseTiming();
    bare::Loop loop;
    if (bare::loopCreate(&loop, 1.0, tolerance)) {
      fprintf(stderr, "CVODE set-up failed\n");
      exit(1);
    }
    state.ResumeTiming();
    for (int i = 1; i <= stepCount; ++i) {
      if (restartAndCopy) {
        memcpy(copy, source, sizeof copy);
        benchmark::DoNotOptimize(copy);
      }
      if (bare::loopStep(&loop, i * stepSize, restartAndCopy)) {
        fprintf(stderr, "CVode failed at t = %g\n", loop.t);
        exit(1);
      }
    }
    benchmark::DoNotOptimize(loop.output);
    state.PauseTiming();
    bare::loopFree(&loop);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * stepCount);
}

void BareCvode(benchmark::State& state) { bareSteps(state, false); }
BENCHMARK(BareCvode)->Unit(benchmark::kMillisecond);

void BareCvodeRestartingAndCopyingStateBytes(benchmark::State& state) { bareSteps(state, true); }
BENCHMARK(BareCvodeRestartingAndCopyingStateBytes)->Unit(benchmark::kMillisecond);

// ---- One value read -------------------------------------------------------------------------

void QuenzelGetReal(benchmark::State& state) {
  fmi2Component c = defaultScenario();
  fmi2Real y = 0.0;
  fmi2GetReal(c, &outputY, 1, &y);  // computed once; later reads deliver the stored value
  for (auto _ : state) {
    fmi2GetReal(c, &outputY, 1, &y);
    benchmark::DoNotOptimize(y);
  }
  fmi2Terminate(c);
  fmi2FreeInstance(c);
}
BENCHMARK(QuenzelGetReal);

void BareRead(benchmark::State& state) {
  double stored[2] = {1500.0, 0.0};
  double y = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(stored);
    y = stored[0];
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BareRead);

}  // namespace

int main(int argc, char** argv) {
  return runWithRatios(argc, argv, {{"QuenzelDoStep", "BareCvode"},
                                     {"QuenzelDoStepTakingStates", "QuenzelDoStep"},
                                     {"QuenzelDoStepTakingStates", "QuenzelDoStepCopyingStateBytes"},
                                     {"QuenzelDoStepTakingStates", "BareCvodeRestartingAndCopyingStateBytes"},
                                     {"QuenzelGetReal", "BareRead"}});
}
