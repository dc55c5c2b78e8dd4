// Time-event requests and periodic samples.
#include <cfloat>
#include <cmath>

#include "clocale.h"
#include "errors.h"
#include "globalcontext.h"
#include "messages.h"
#include "timeevents.h"

void RegisterTimeEvent(double t, ModelData* modelData) {
  if (!modelData) modelData = &modelDataTemplate;
  double* r = GetModelSolverReals(modelData);
  if (!r) return;  // no solver block anywhere: nothing to lower
  double& next = r[solverRealNextTimeEvent];
  const double tol = 6 * DBL_EPSILON * (std::fabs(t) + r[solverRealTimeScale]);
  if (next >= 1e30) modelData->earliestTimeEvent = next;  // first request since the reset
  if (t >= next + tol) return;  // after the event already known
  if (t < modelData->earliestTimeEvent) {
    modelData->earliestTimeEvent = t;
    if (next > t + tol) next = t;  // a known event within tol above t stays
  } else if (t <= modelData->earliestTimeEvent + tol && t > next) {
    next = t;  // requests within tol of the earliest merge into the later one
  }
}

void RegisterTimeEventDefault(double t) { RegisterTimeEvent(t, &modelDataTemplate); }

double SampleCounter(double t, double start, double interval) {
  return std::ceil((t - start) / interval) + 1;
}

void SampleRecount(ModelData* modelData, double t, double start, double interval, int index,
                   int replace) {
  double* scale = GetSolverReals();
  if (scale && scale[solverRealTimeScale] < std::fabs(start))
    scale[solverRealTimeScale] = std::fabs(start);
  double* counters = modelData->sampleCounters;
  const double c = SampleCounter(std::fmax(t, start), start, interval);
  if (replace || c > counters[index]) counters[index] = c;
}

namespace {

// The ticks from the starting counter on, shared by Sample, SampleFactorShift and SampleTicks; a
// plain sample passes subSampled false.
int passTicks(ModelData* md, double t, double start, double interval, bool subSampled, int shift,
              int factor, int index, int mode) {
  double* counters = md->sampleCounters;
  const double* scale = GetSolverReals();
  double next = start + (counters[index] - 1) * interval;
  const double tol = 5e-14 * (std::fabs(t) + (scale ? scale[solverRealTimeScale] : 0.0));
  bool passed = false;
  counters[index + 1] = counters[index];
  while (t + tol >= next) {
    // Past 2^53 ticks the counter no longer advances by one; stop rather than loop for ever.
    const double advanced = counters[index + 1] + 1;
    if (advanced == counters[index + 1]) break;
    counters[index + 1] = advanced;
    next = start + (counters[index + 1] - 1) * interval;
    passed = true;
  }
  if (subSampled) {
    // Only every factor-th tick counts, shifted by `shift` ticks.
    const double c1 = counters[index + 1];
    const double o = static_cast<double>(factor) - 1 - shift;
    const double m = std::floor((0.1 + c1 - 2 - o) / factor);
    const double l = m * factor + o;
    passed = passed && l == c1 - 2 && m >= 0;
    next = start + (l + factor) * interval;
  }
  md->sampleActive[index + 1] = 1;
  RegisterTimeEvent(next, md);

  const int fired = passed && md->iterationCounter == 1;
  const int flags = GetLogFlags();
  if (fired && (flags & logFlagEvents) && (mode == 0 || (flags & logFlagInitialization))) {
    char clock[64];
    char text[100];
    sprintf_c(clock, "sample(%g,%g)", start, interval);
    sprintf_c(text, "Sample event (%.60s) at time:", clock);
    LogMessageReal(text, md->time);
  }
  return fired;
}

// The steps of Sample and SampleFactorShift.
int SampleTick(ModelData* md, double t, double start, double interval, bool subSampled, int shift,
               int factor, int index, int mode, int evaluate) {
  // A NaN interval is not positive either.
  if (!(interval > 0) || (subSampled && factor <= 0)) {
    RaiseError("Sample did not have positive sample interval");
  }
  if (mode != 0 || (evaluate != 0 && md->sampleCounters[index] == 0)) {
    if (mode == 2) return 0;
    SampleRecount(md, t, start, interval, index, mode != 0);
  }
  if (evaluate == 0) return 0;
  return passTicks(md, t, start, interval, subSampled, shift, factor, index, mode);
}

}  // namespace

int SampleTicks(ModelData* modelData, double t, double start, double interval, int index, int mode,
                int evaluate) {
  if (evaluate == 0 || !(interval > 0)) return 0;
  return passTicks(modelData, t, start, interval, false, 0, 1, index, mode);
}

int Sample(ModelData* modelData, double t, double start, double interval, int index, int mode,
           int evaluate) {
  return SampleTick(modelData, t, start, interval, false, 0, 1, index, mode, evaluate);
}

int SampleFactorShift(ModelData* modelData, double t, double start, double interval, int shift,
                      int factor, int index, int mode, int evaluate) {
  return SampleTick(modelData, t, start, interval, true, shift, factor, index, mode, evaluate);
}
