// The generated form of the runtime's sample clock. It differs from Sample in that it recounts
// the starting counter whenever the sample was not registered in the evaluation (not when the
// counter is 0), has no mode 2 (any nonzero mode recounts and replaces the counter), and
// advances the starting counter itself past every tick it passes. The tick count, the time
// event, the first-pass rule, the time-scale update and the messages are Sample's.
#include "model.h"
#include "timeevents.h"

int modelSample(ModelData* record, double t, double start, double interval, int index, int mode,
                int evaluate) {
  // Only the record's own sample tables are touched. A clock without a positive interval
  // never ticks.
  if (index < 0 || index + 1 >= 2 * modelSamples || !(interval > 0)) return 0;
  if (mode != 0 || (evaluate != 0 && record->sampleActive[index] == 0))
    SampleRecount(record, t, start, interval, index, mode != 0);
  const int fired = SampleTicks(record, t, start, interval, index, mode, evaluate);
  if (evaluate != 0) record->sampleCounters[index] = record->sampleCounters[index + 1];
  return fired;
}
