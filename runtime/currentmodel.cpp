// The record the calling thread is evaluating, with the template as fallback. Kept apart from the
// block's lifecycle so that attaching and detaching the library do not pull in the template.
#include "threadblock.h"

namespace {

ModelData* currentRecord(void) {
  ThreadBlock* block = PeekThreadBlock();
  return block && block->currentModelData ? block->currentModelData : &modelDataTemplate;
}

}  // namespace

double GetModelTime(void) { return currentRecord()->time; }

int* GetStatusPointer(void) { return &currentRecord()->status; }

void* GetCurrentRunRecord(void) { return currentRecord()->externalObjects; }
