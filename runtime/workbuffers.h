// Bump allocation of temporaries from the calling thread's work buffers, the marks that release
// them in blocks, and the process-wide "Non" pools for storage that is never released.
//
// A request succeeds only while the place after it stays strictly before the buffer's end, so the
// last slot of a buffer is never handed out. A failed request ends the evaluation through
// AssertCondition and leaves the place advanced beyond the end: later requests fail as well until a
// mark is restored or reset. Storage is not cleared. Callers never free it; they move marks back:
//
//   SavedMarks marks = MarkSave();
//   double* scratch = AllocateReals(n);
//   ...
//   MarkRestore(marks);
#pragma once

#include <cstdint>

#include "threadblock.h"

double* AllocateReals(int n);
int32_t* AllocateIntegers(int n);
int32_t* AllocateSizes(int n);
char** AllocateStrings(int n);

// Each mark operation, like each allocator, first creates the thread's buffers when it has none.
SavedMarks MarkSave(void);
void MarkRestore(SavedMarks marks);
void MarkGet(BufferMark* out);  // MarkSave, then the current mark of that moment into out
void MarkRestoreSaved(void);
void MarkReset(void);           // releases every temporary of the thread, strings included

// Sizes of the "Non" pools, in elements.
enum NonPoolSizes {
  realPoolSize = 70000,
  integerPoolSize = 50000,
  sizePoolSize = 50000,
  stringPoolSize = 10000
};

// The pools' next free slots and ends. The pools only grow, for the whole process, and only one
// thread at a time may allocate from them.
extern BufferMark currentMarkNon;
extern double* const EndRealbufferNon;
extern int32_t* const EndIntegerbufferNon;
extern int32_t* const EndSizebufferNon;
extern char** const EndStringbufferNon;

double* AllocateRealsNon(int n);
int32_t* AllocateIntegersNon(int n);
int32_t* AllocateSizesNon(int n);
char** AllocateStringsNon(int n);
