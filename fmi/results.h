// Result generation of one instance: the result file "<instance name>_internal.mat" and the ring
// of samples before it. Samples stay in the ring, in host memory, until they can no longer be
// taken back: when the host says it will not restore an earlier state, when the ring is full,
// and at the end of the run. A sample earlier than the newest buffered one (the host restored an
// earlier FMU state) drops the buffered samples after it.
//
// Everything here runs only while the instance's resultGeneration is 1, which no fmi2 call sets;
// every call on an instance without a buffer does nothing.
#pragma once

#include <cstdint>

#include "instance.h"
#include "resultwriter.h"

constexpr int32_t resultSlotCount = 384;
// The ring grows, and is written when full, in chunks of this many slots.
constexpr int32_t resultSlotChunk = 64;

// One sample: its time and copies of the instance's values, each array as long as the
// instance's count of its kind.
struct ResultSlot {
  double time;
  double* parameters;
  double* states;
  double* derivatives;
  double* outputs;
  double* inputs;
  double* auxiliaries;
};

// The instance's record, its slots and their arrays come from the host's allocateMemory; the
// writer's storage from the C heap.
struct ResultBuffer {
  ResultWriter writer;
  double newestTime;       // of the newest buffered sample; -1.0 for none
  double lastWrittenTime;  // of the newest sample in the file; -1.0 for none
  double lastWarnedTime;   // lastWrittenTime at the last duplicate warning; -1.0 for none
  ResultSlot** slots;      // [resultSlotCount]
  int32_t slotsWithArrays;  // slots 0 ... slotsWithArrays - 1 have value arrays; a multiple of 64
  int32_t oldest;           // slot of the oldest buffered sample; a multiple of 64
  int32_t next;             // slot of the next sample: (oldest + used) mod resultSlotCount
  int32_t used;             // buffered samples
  int32_t fullWarned;
};

// Numbers the result files of the process: raised by every set-up, a failed one included.
extern int32_t resultSetupCount;

// At the end of a successful initialisation: the buffer, the file (data_1 and the header
// matrices written) and the first sample. A failure logs "Failed to setup result generation,
// skipping it", releases everything and switches result generation off for the instance; the
// initialisation goes on. A buffer left from an earlier run is written and closed first.
void resultSetup(ModelInstance* instance);

// A sample at the instance's time. Unforced samples within 0.001 after the newest buffered one
// and at the last written time are skipped.
void resultSample(ModelInstance* instance, int force);

// Writes every buffered sample, oldest first.
void resultBufferFlush(ModelInstance* instance);

// The final sample (when the time is later than the newest buffered one), every buffered sample
// written, the file closed and everything released.
void resultFinish(ModelInstance* instance);

// ---- Inside the ring --------------------------------------------------------------------------

// Stores the instance's time and values into slot `next`, which must have value arrays.
void resultBufferAppend(ModelInstance* instance);
// Writes the 64 oldest samples. 0 when writing failed and result generation has stopped.
int resultBufferFlushOldest(ModelInstance* instance);
// Value arrays for the 64 slots from `next` on: 1, or 0 when the host had no memory for them
// (the ring keeps the slots it had).
int resultBufferExtend(ModelInstance* instance);
// Releases the value arrays of the slots from `next` to slotsWithArrays - 1.
void resultBufferFree(ModelInstance* instance);
