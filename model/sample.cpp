// The generated form of the runtime's sample clock. It differs from Sample in that it recomputes
// the starting counter whenever the sample was not registered in the evaluation (not only while
// the counter is 0), has no mode 2 (any nonzero mode recomputes and replaces the counter), and
// advances the starting counter itself past every tick it passes. The tick count, the time
// event, the first-pass rule, the time-scale update and the messages are Sample's.
#include <cmath>

#include "globalcontext.h"
#include "model.h"
#include "timeevents.h"

int modelSample(ModelData* record, double t, double start, double interval, int index, int mode,
                int evaluate) {
  // Only the record's own sample tables are touched. A clock without a positive interval
  // never ticks.
  if (index < 0 || index + 1 >= 2 * modelSamples || !(interval > 0)) return 0;
  double* counters = record->sampleCounters;
  if (mode == 0 && evaluate != 0 && record->sampleActive[index] == 0) {
    double* scale = GetSolverReals();
    if (scale && scale[solverRealTimeScale] < std::fabs(start))
      scale[solverRealTimeScale] = std::fabs(start);
    const double c = SampleCounter(std::fmax(t, start), start, interval);
    if (c > counters[index]) counters[index] = c;
  }
  const int fired = Sample(record, t, start, interval, index, mode != 0 ? 1 : 0, evaluate);
  if (evaluate != 0) counters[index] = counters[index + 1];
  return fired;
}
