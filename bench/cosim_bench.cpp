// Co-Simulation of the default scenario (10 s in steps of 1 ms) through fmi2DoStep, beside a
// bare CVODE loop over the same two filter equations with the same settings and the same ten
// root functions; the same run with a state taken before every step, beside the run that takes
// none; and fmi2GetReal of a value already computed, beside reading a double. The
// ratios are printed after the runs.
#include <benchmark/benchmark.h>
#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fmi2.h"
#include "default_scenario.h"
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
// as a host does that may have to repeat any step), or a plain copy of as many bytes as the
// state's image, which is the share of taking a state that copying its data costs.
enum class Keep { nothing, state, bytes };

constexpr size_t stateImageBytes = 882590;

void doSteps(benchmark::State& state, Keep keep) {
  static char source[stateImageBytes], copy[stateImageBytes];
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

// The model's equations for the default scenario, written out.
struct BareModel {
  double u = 1.0, k = 1.0, T = 1.0;
  double uMax = 1.0, uMin = -1.0, startTime = 2.0, threshold = 1.0, alternative = 1500.0;
  double eps = 1e-10;
  bool rampOn = false;
  bool above = false;  // greaterThreshold.y
  double limited() const { return u > uMax ? uMax : u < uMin ? uMin : u; }
  double ramp(double t) const { return rampOn ? t - startTime : 0.0; }
  double output() const { return above ? u : alternative; }
};

extern "C" int bareRhs(double, N_Vector y, N_Vector ydot, void* data) {
  auto* m = static_cast<BareModel*>(data);
  const double* x = N_VGetArrayPointer(y);
  double* dx = N_VGetArrayPointer(ydot);
  dx[0] = (m->k * m->u - x[0]) / m->T;
  dx[1] = (m->k * m->limited() - x[1]) / m->T;
  return 0;
}

// Two crossing functions per relation, as the model reports them.
extern "C" int bareRoots(double t, N_Vector, double* g, void* data) {
  auto* m = static_cast<BareModel*>(data);
  const double values[] = {m->u - m->uMax, m->u - m->uMin, m->u - m->uMax, m->u - m->uMin};
  for (int r = 0; r < 4; ++r) {
    g[2 * r] = values[r] - m->eps;
    g[2 * r + 1] = values[r] + m->eps;
  }
  g[8] = g[9] = m->ramp(t) - m->threshold;
  return 0;
}

void BareCvode(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    BareModel model;
    SUNContext context = nullptr;
    SUNContext_Create(nullptr, &context);
    N_Vector y = N_VNew_Serial(2, context);
    N_VConst(1.0, y);
    void* memory = CVodeCreate(CV_BDF, context);
    CVodeInit(memory, bareRhs, 0.0, y);
    CVodeSetUserData(memory, &model);
    CVodeSStolerances(memory, tolerance, tolerance);
    CVodeSetNonlinConvCoef(memory, 0.1);
    CVodeRootInit(memory, 10, bareRoots);
    SUNMatrix matrix = SUNDenseMatrix(2, 2, context);
    SUNLinearSolver solver = SUNLinSol_Dense(y, matrix, context);
    CVodeSetLinearSolver(memory, solver, matrix);
    CVodeSetMaxNumSteps(memory, 100000);
    CVodeSetMaxNonlinIters(memory, 3);
    CVodeSetMaxErrTestFails(memory, 15);
    state.ResumeTiming();

    double t = 0.0;
    double output = 0.0;
    for (int i = 1; i <= stepCount; ++i) {
      double tout = i * stepSize;
      for (;;) {
        output = model.output();  // the outputs before each integration call, as the driver fetches them
        int flag = CVode(memory, tout, y, &t, CV_NORMAL);
        if (flag == CV_ROOT_RETURN) {
          model.above = model.ramp(t) > model.threshold;
          CVodeReInit(memory, t, y);
          if (t < tout) continue;
        } else if (flag < 0) {
          fprintf(stderr, "CVode failed at t = %g\n", t);
          exit(1);
        }
        break;
      }
      // The time event of the ramp at a communication point.
      if (!model.rampOn && t >= model.startTime - 1e-12) {
        model.rampOn = true;
        CVodeReInit(memory, t, y);
      }
    }
    benchmark::DoNotOptimize(output);

    state.PauseTiming();
    CVodeFree(&memory);
    SUNLinSolFree(solver);
    SUNMatDestroy(matrix);
    N_VDestroy(y);
    SUNContext_Free(&context);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * stepCount);
}
BENCHMARK(BareCvode)->Unit(benchmark::kMillisecond);

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
                                     {"QuenzelGetReal", "BareRead"}});
}
