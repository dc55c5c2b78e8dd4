// Delay buffers: creation, the interpolating read, the update that adds, replaces and drops
// end points, and the release of every buffer of the process.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "delays.h"
#include "errors.h"
#include "saturate.h"

DelayTables delayTables = {{}, {}, -1, -1, 0, 0};

namespace {

// ---- Ring arithmetic ----------------------------------------------------------------------

int RingNext(const DelayBuffer* b, int i) { return i + 1 == b->size ? 0 : i + 1; }
int RingPrev(const DelayBuffer* b, int i) { return i == 0 ? b->size - 1 : i - 1; }

// Interpolated value at p. The search starts where the last one ended; the left end (rightEnd 0)
// takes the right neighbour of a point it lands on, the right end the left one.
double RingRead(DelayBuffer* b, double p, int rightEnd) {
  const double* t = b->times;
  const double* v = b->values;
  int i = b->current;
  if (rightEnd == 0) {
    while (p >= t[i] && i != b->last) i = RingNext(b, i);
    for (;;) {
      const int j = RingPrev(b, i);
      if (j == b->first || p > t[j]) break;
      i = j;
    }
  } else {
    while (p > t[i] && i != b->last) i = RingNext(b, i);
    for (;;) {
      const int j = RingPrev(b, i);
      if (j == b->first || p >= t[j]) break;
      i = j;
    }
  }
  b->current = i;
  const int k = RingPrev(b, i);
  if (t[k] >= p) return v[k];
  if (p >= t[i]) return v[i];
  return v[k] + (v[i] - v[k]) * (p - t[k]) / (t[i] - t[k]);
}

// New point (x + 1, in1) at the right end.
void RingUpdateRight(DelayBuffer* b, double in1, double x) {
  double* t = b->times;
  double* v = b->values;
  const int n = b->size;
  const double p = x + 1;
  int k = b->last;
  int q = RingPrev(b, b->last);
  if (t[b->last] >= p) {
    // The end moved left: drop the points beyond p, keeping at least the first two.
    if (t[b->last] > p && b->last != b->first) {
      for (;;) {
        if (t[q] <= p) break;
        if (RingPrev(b, q) == b->first) {
          t[q] = x + 0.999999999;
          break;
        }
        if (b->current == k) b->current = q;
        k = q;
        q = RingPrev(b, q);
        if (k == b->first) break;
      }
    }
  } else if (!(std::fabs(t[q] - p) < 1.4 / n)) {
    // The end moved right far enough for a point of its own.
    const int added = RingNext(b, b->last);
    if (added != b->first) {
      k = added;
    } else if (!(0.7 * std::fabs(in1 - v[b->first]) / n >
                 std::fabs(in1 - v[q]) + std::fabs(in1 - v[b->last]))) {
      // Full ring: the oldest point makes room unless the new value changes so little that
      // replacing the last point loses less.
      const int oldFirst = b->first;
      k = oldFirst;
      b->first = RingNext(b, oldFirst);
      if (b->current == oldFirst) b->current = b->first;
    }
  }
  b->last = k;
  t[k] = p;
  v[k] = in1;
}

// New point (x, in0) at the left end: the mirror image of RingUpdateRight.
void RingUpdateLeft(DelayBuffer* b, double in0, double x) {
  double* t = b->times;
  double* v = b->values;
  const int n = b->size;
  int k = b->first;
  int q = RingNext(b, b->first);
  if (x >= t[b->first]) {
    if (x > t[b->first] && b->first != b->last) {
      for (;;) {
        if (x <= t[q]) break;
        if (RingNext(b, q) == b->last) {
          t[q] = x + 1e-8;
          break;
        }
        if (b->current == k) b->current = q;
        k = q;
        q = RingNext(b, q);
        if (k == b->last) break;
      }
    }
  } else if (!(std::fabs(t[q] - x) < 1.4 / n)) {
    const int added = RingPrev(b, b->first);
    if (added != b->last) {
      k = added;
    } else if (!(0.7 * std::fabs(in0 - v[b->last]) / n >
                 std::fabs(in0 - v[q]) + std::fabs(in0 - v[b->first]))) {
      const int oldLast = b->last;
      k = oldLast;
      b->last = RingPrev(b, oldLast);
      if (b->current == oldLast) b->current = b->last;
    }
  }
  b->first = k;
  t[k] = x;
  v[k] = in0;
}

}  // namespace

// ---- Tables -------------------------------------------------------------------------------

namespace {

const char* const allocationFailure =
    "Failed to allocate memory for delay.\n You might decrease the number of delays\n  or the "
    "'double Buffersize=%d;' in velmar/source/dsblock5\n";

DelayBuffer* BufferOf(int number) {
  if (number < 0 || number >= delayTableCapacity) return nullptr;
  DelayBuffer* b = &delayTables.delays[number];
  return b->times ? b : nullptr;
}


// Creates a buffer of at least `minimum` points holding (startTime - |maxDelay| - 1e6,
// startValue) and (startTime, startValue) and returns its number.
int CreateBuffer(double maxDelay, double bufferSize, double startTime, double startValue,
                 int minimum) {
  DelayTables& d = delayTables;
  char message[512];
  if (d.delayCount >= delayTableCapacity - 1) {
    snprintf(message, sizeof message,
             "The maximum number of delays (= %d) is reached.\nNo more delay memory is available\n",
             static_cast<int>(delayTableCapacity));
    RaiseError(message);
  }
  // A ring too small for its starting points, or a negative, NaN or unrepresentable size, is
  // refused like a failed allocation, before a number is taken.
  const double requested = bufferSize + 0.1;
  if (!(requested >= minimum && requested < 2147483648.0)) {
    snprintf(message, sizeof message, allocationFailure, SaturatingInt(requested));
    RaiseError(message);
  }
  const int size = static_cast<int>(requested);
  const int number = ++d.delayCount;
  DelayBuffer* b = &d.delays[number];
  b->size = size;
  b->maxDelay = maxDelay;
  b->times = static_cast<double*>(calloc(2 * static_cast<size_t>(size), sizeof(double)));
  if (!b->times) {
    // The number stays taken and its entry holds no buffer.
    b->values = nullptr;
    snprintf(message, sizeof message, allocationFailure, size);
    RaiseError(message);
  }
  b->values = b->times + size;
  b->times[0] = startTime - std::fabs(maxDelay) - 1000000.0;
  b->times[1] = startTime;
  b->values[0] = b->values[1] = startValue;
  b->first = 0;
  b->current = 1;
  b->last = 1;
  return number;
}

}  // namespace

double DelayCreate(double maxDelay, double bufferSize, double startTime, double startValue) {
  return CreateBuffer(maxDelay, bufferSize, startTime, startValue, delayMinimumPoints);
}

int DelayCreateGrid(double bufferSize, double x0, double v) {
  const int number = CreateBuffer(1.0, bufferSize, x0 + 1, v, delayGridMinimumPoints);
  DelayBuffer* b = &delayTables.delays[number];
  // m + 4 <= size for every size of at least four points.
  const int m = b->size / 10;
  double* t = b->times;
  t[0] = x0;
  t[1] = x0 + 1e-9;
  for (int j = 0; j < m; ++j) t[j + 2] = x0 + (j + 0.5) / m;
  t[m + 2] = (x0 + 1) - 1e-9;
  t[m + 3] = x0 + 1;
  for (int j = 0; j <= m + 3; ++j) b->values[j] = v;
  b->last = m + 3;
  return number;
}

void DelayRead(double in0, double in1, double x, int rightEnd, int number, double* out0,
               double* out1) {
  DelayBuffer* b = BufferOf(number);
  *out0 = in0;
  *out1 = in1;
  if (!b) return;
  if (rightEnd == 0)
    *out0 = RingRead(b, x, 0);
  else
    *out1 = RingRead(b, x + 1, 1);
}

void DelayUpdate(double in0, double in1, double x, int rightEnd, int number) {
  DelayBuffer* b = BufferOf(number);
  if (!b) return;
  if (rightEnd == 0)
    RingUpdateRight(b, in1, x);
  else
    RingUpdateLeft(b, in0, x);
}

void DelayUpdateRead(double in0, double in1, double x, int rightEnd, int number, double* out0,
                     double* out1, int update) {
  if (update) DelayUpdate(in0, in1, x, rightEnd, number);
  DelayRead(in0, in1, x, rightEnd, number, out0, out1);
}

const DelayBuffer* DelayFind(int number) { return BufferOf(number); }

DelayOutputs DelayAddPointRecord(int number, double in0, double in1, double x, int rightEnd,
                                 int update) {
  DelayOutputs out;
  DelayUpdateRead(in0, in1, -x, rightEnd, number, &out.out0, &out.out1, update);
  return out;
}

int DelayInitialHistoryPoints(int bufferSize, double x0, const double* points,
                              const double* values, int n) {
  if (n <= 0) return DelayCreateGrid(bufferSize, x0, 0.0);
  // From the last point to the first, each entering at the left end.
  const int number = DelayCreateGrid(bufferSize, x0 + points[n - 1], values[n - 1]);
  double out0, out1;
  for (int k = n - 2; k >= 0; --k) {
    const double p = x0 + points[k];
    const double v = values[k];
    if (k == 0 && points[0] == 0 && n > 1 && points[1] > 1e-13)
      DelayUpdateRead(v, v, p + 1e-13, 1, number, &out0, &out1, 1);
    DelayUpdateRead(v, v, p, 1, number, &out0, &out1, 1);
  }
  return number;
}

void DelayFreeAll(void) {
  struct Table {
    DelayBuffer* entries;
    int32_t* count;
  } tables[] = {{delayTables.delays, &delayTables.delayCount},
                {delayTables.delays2, &delayTables.delayCount2}};
  for (const Table& table : tables) {
    const int last = *table.count < delayTableCapacity ? *table.count : delayTableCapacity - 1;
    for (int i = 0; i <= last; ++i) {
      free(table.entries[i].times);
      table.entries[i] = DelayBuffer{};
    }
    *table.count = -1;
  }
}

void DelayResetCounters(void) {
  delayTables.resetCounter1 = 0;
  delayTables.resetCounter2 = 0;
}
