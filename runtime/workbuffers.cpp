#include "workbuffers.h"

#include <cstdint>

#include "errors.h"

namespace {

const char negativeCountText[] = "n>=0";
const char negativeCountMessage[] = "A negative number of elements was requested from a work buffer.";

const char realMessage[] =
    "Out of memory for reals\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can change the memory size by setting the variable "
    "Advanced.RealBufferSize.";
const char integerMessage[] =
    "Out of memory for integers\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Integerbuffer' in "
    "velmar/source/matrixop.";
const char sizeMessage[] =
    "Out of memory for array dimensions\nIt could due to too many matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Sizebuffer' in velmar/source/matrixop.";
const char stringMessage[] =
    "Out of memory for strings\nIt could due to too large matrices, infinite recursion, or "
    "uninitialized variables.\nYou can increase the size of 'Stringbuffer' in "
    "velmar/source/matrixop.";

// One pointer increment and one comparison. The place is advanced before the check, so a failed
// request leaves it beyond the end; the arithmetic runs on addresses so that such a place is never
// formed by pointer arithmetic outside the buffer.
template <typename T>
T* bumpAllocate(T** place, T* end, int n, const char* conditionText, const char* message) {
  AssertCondition(n >= 0, negativeCountText, negativeCountMessage);
  T* result = *place;
  const uintptr_t next = reinterpret_cast<uintptr_t>(result) + static_cast<uintptr_t>(n) * sizeof(T);
  *place = reinterpret_cast<T*>(next);
  AssertCondition(next < reinterpret_cast<uintptr_t>(end), conditionText, message);
  return result;
}

// The calling thread's block with its buffers, created when missing. An evaluation always has a
// block (its error-jump frame holds it); the buffers may still fail to come into being.
ThreadBlock* blockWithBuffers(void) {
  ThreadBlock* block = GetThreadBlock();
  AssertCondition(block != nullptr, "GetThreadBlock()!=NULL",
                  "Out of memory for the runtime's thread block.");
  if (!block->EndRealbuffer) InitThreadBuffers();
  AssertCondition(block->EndRealbuffer != nullptr, "EndRealbuffer!=NULL",
                  "Out of memory for the work buffers of this thread.");
  return block;
}

double realPool[realPoolSize];
int32_t integerPool[integerPoolSize];
int32_t sizePool[sizePoolSize];
char* stringPool[stringPoolSize];

}  // namespace

double* AllocateReals(int n) {
  ThreadBlock* block = blockWithBuffers();
  return bumpAllocate(&block->currentMark.place.Realbuffer, block->EndRealbuffer, n,
                      "currentMark.place.Realbuffer<EndRealbuffer", realMessage);
}

int32_t* AllocateIntegers(int n) {
  ThreadBlock* block = blockWithBuffers();
  return bumpAllocate(&block->currentMark.place.Integerbuffer, block->EndIntegerbuffer, n,
                      "currentMark.place.Integerbuffer<EndIntegerbuffer", integerMessage);
}

int32_t* AllocateSizes(int n) {
  ThreadBlock* block = blockWithBuffers();
  return bumpAllocate(&block->currentMark.place.Sizebuffer, block->EndSizebuffer, n,
                      "currentMark.place.Sizebuffer<EndSizebuffer", sizeMessage);
}

char** AllocateStrings(int n) {
  ThreadBlock* block = blockWithBuffers();
  return bumpAllocate(&block->currentMark.place.Stringbuffer, block->EndStringbuffer, n,
                      "currentMark.place.Stringbuffer<EndStringbuffer", stringMessage);
}

SavedMarks MarkSave(void) {
  ThreadBlock* block = blockWithBuffers();
  SavedMarks marks = {block->currentMark, block->savedMark};
  block->savedMark = block->currentMark;
  return marks;
}

void MarkRestore(SavedMarks marks) {
  ThreadBlock* block = blockWithBuffers();
  block->currentMark = marks.current;
  block->savedMark = marks.saved;
}

void MarkGet(BufferMark* out) {
  SavedMarks marks = MarkSave();
  if (out) *out = marks.current;
}

void MarkRestoreSaved(void) {
  ThreadBlock* block = blockWithBuffers();
  block->currentMark = block->savedMark;
}

void MarkReset(void) {
  ThreadBlock* block = blockWithBuffers();
  block->currentMark = block->baseMark;
  block->savedMark = block->resetSavedMark;
  block->stringmark = block->stringBase;
}

BufferMark currentMarkNon = {{realPool, integerPool, sizePool, stringPool}};
double* const EndRealbufferNon = realPool + realPoolSize;
int32_t* const EndIntegerbufferNon = integerPool + integerPoolSize;
int32_t* const EndSizebufferNon = sizePool + sizePoolSize;
char** const EndStringbufferNon = stringPool + stringPoolSize;

double* AllocateRealsNon(int n) {
  return bumpAllocate(&currentMarkNon.place.Realbuffer, EndRealbufferNon, n,
                      "currentMarkNon.place.Realbuffer<EndRealbufferNon", realMessage);
}

int32_t* AllocateIntegersNon(int n) {
  return bumpAllocate(&currentMarkNon.place.Integerbuffer, EndIntegerbufferNon, n,
                      "currentMarkNon.place.Integerbuffer<EndIntegerbufferNon", integerMessage);
}

int32_t* AllocateSizesNon(int n) {
  return bumpAllocate(&currentMarkNon.place.Sizebuffer, EndSizebufferNon, n,
                      "currentMarkNon.place.Sizebuffer<EndSizebufferNon", sizeMessage);
}

char** AllocateStringsNon(int n) {
  return bumpAllocate(&currentMarkNon.place.Stringbuffer, EndStringbufferNon, n,
                      "currentMarkNon.place.Stringbuffer<EndStringbufferNon", stringMessage);
}
