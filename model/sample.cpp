// The generated form of the runtime's sample clock. It differs from Sample in that it recomputes
// the counter whenever the sample was not registered in the evaluation, always takes the
// computed counter when mode is nonzero, and advances the starting counter itself.
#include <cmath>

#include "clocale.h"
#include "globalcontext.h"
#include "messages.h"
#include "model.h"
#include "timeevents.h"

int modelSample(ModelData* record, double t, double start, double interval, int index, int mode,
                int evaluate) {
  // Only the record's own sample tables are touched. A clock without a positive interval
  // never ticks (its tick loop would never end).
  if (index < 0 || index + 1 >= 2 * modelSamples || !(interval > 0)) return 0;
  double* counters = record->sampleCounters;
  double* scale = GetSolverReals();
  if (mode != 0 || (evaluate != 0 && record->sampleActive[index] == 0)) {
    if (scale && scale[solverRealTimeScale] < std::fabs(start))
      scale[solverRealTimeScale] = std::fabs(start);
    const double c = SampleCounter(std::fmax(t, start), start, interval);
    if (mode != 0 || c > counters[index]) counters[index] = c;
  }
  if (evaluate == 0) return 0;

  double next = start + (counters[index] - 1) * interval;
  const double tol = 5e-14 * (std::fabs(t) + (scale ? scale[solverRealTimeScale] : 0.0));
  bool passed = false;
  while (t + tol >= next) {
    // Past 2^53 ticks the counter no longer advances by one; stop rather than loop for ever.
    const double advanced = counters[index] + 1;
    if (advanced == counters[index]) break;
    counters[index] = advanced;
    next = start + (counters[index] - 1) * interval;
    passed = true;
  }
  counters[index + 1] = counters[index];
  record->sampleActive[index + 1] = 1;
  RegisterTimeEvent(next, record);

  const int fired = passed && record->iterationCounter == 1;
  const int flags = GetLogFlags();
  if (fired && (flags & logFlagEvents) && (mode == 0 || (flags & logFlagInitialization))) {
    char clock[64];
    char text[100];
    sprintf_c(clock, "sample(%g,%g)", start, interval);
    sprintf_c(text, "Sample event (%.60s) at time:", clock);
    LogMessageReal(text, record->time);
  }
  return fired;
}
