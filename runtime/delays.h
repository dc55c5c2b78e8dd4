// Delay buffers: rings of (abscissa, value) points read back by linear interpolation, the
// storage behind Modelica's transport operators. A buffer spans a window [x, x + 1]; one end
// takes new values while the interpolated value leaves at the other.
#pragma once

#include <cstdint>

enum DelayLimits {
  delayTableCapacity = 2000,  // buffers per process: numbers 0 ... 1,999
  delayMinimumPoints = 2,     // a plain buffer starts with two points
  delayGridMinimumPoints = 4  // a grid needs its four fixed points besides the interior ones
};

// One buffer. `times` and `values` share one heap block of 2 * size doubles; `times` is null
// when the entry holds no buffer. The points run from `first` to `last` going forward with
// wrap-around, their abscissae increasing in that order.
struct DelayBuffer {
  double* times;
  double* values;  // times + size
  double maxDelay;
  int32_t size;
  int32_t first;    // smallest abscissa (left end)
  int32_t current;  // where the last read ended; the next read starts its search there
  int32_t last;     // largest abscissa (right end)
};

// The process-wide tables, shared by every instance and unguarded: only one evaluation at a time
// may create, update or read buffers. A buffer is named by its index in `delays`; `delays2` is
// filled by no operation and released with the first table.
struct DelayTables {
  DelayBuffer delays[delayTableCapacity];
  DelayBuffer delays2[delayTableCapacity];
  int32_t delayCount;   // number of the last buffer created; -1 for none
  int32_t delayCount2;  // the same for delays2
  int32_t resetCounter1;  // cleared at every initialisation, used by nothing else
  int32_t resetCounter2;
};

extern DelayTables delayTables;

// The two ends that DelayAddPointRecord returns.
struct DelayOutputs {
  double out0;
  double out1;
};

// Creates a buffer with the points (startTime - |maxDelay| - 1e6, startValue) and
// (startTime, startValue); returns its number. Fails through the error path when 2,000 buffers
// exist, when the size is not a usable point count or when no memory is left.
double DelayCreate(double maxDelay, double bufferSize, double startTime, double startValue);

// Creates a buffer whose points form a grid on [x0, x0 + 1], all with value v.
int DelayCreateGrid(double bufferSize, double x0, double v);

// rightEnd 0: in1 enters at the right end (abscissa x + 1) and out0 is read at x.
// rightEnd nonzero: in0 enters at the left end (abscissa x) and out1 is read at x + 1.
// The output of the entering end is the entering input itself. A number that names no buffer
// passes the inputs through.
void DelayRead(double in0, double in1, double x, int rightEnd, int number, double* out0,
               double* out1);

// Stores the entering input as the new end point; nothing for a number that names no buffer.
void DelayUpdate(double in0, double in1, double x, int rightEnd, int number);

// DelayUpdate when update is nonzero, then DelayRead, with the same arguments.
void DelayUpdateRead(double in0, double in1, double x, int rightEnd, int number, double* out0,
                     double* out1, int update);

// DelayUpdateRead at the negated abscissa -x; returns both outputs.
DelayOutputs DelayAddPointRecord(int number, double in0, double in1, double x, int rightEnd,
                                 int update);

// A grid buffer filled from n initial points x0 + points[k] with values[k] (points increasing),
// entered from the last to the first at the left end; a first point at exactly 0 gets a twin with
// its value 1e-13 to its right when the second point lies further away. n <= 0 gives a grid of
// zeros on [x0, x0 + 1]. This is the body of the Modelica-level initial history, which checks
// that its two arrays are vectors of one size before it hands over their elements.
int DelayInitialHistoryPoints(int bufferSize, double x0, const double* points,
                              const double* values, int n);

// Releases every buffer of the process; numbering starts again at 0.
void DelayFreeAll(void);

// Clears the two reset counters (at every initialisation).
void DelayResetCounters(void);

// The buffer behind a number, or null when the number names none.
const DelayBuffer* DelayFind(int number);
