#include "threadblock.h"

#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace {

ThreadMemoryAllocator memoryAllocator = nullptr;

void* allocateZeroed(size_t count, size_t size) {
  return memoryAllocator ? memoryAllocator(count, size) : calloc(count, size);
}

}  // namespace

void SetThreadMemoryAllocator(ThreadMemoryAllocator allocator) { memoryAllocator = allocator; }

ThreadBlock* PeekThreadBlock(void) { return static_cast<ThreadBlock*>(PlatformSlotGet()); }

ThreadBlock* GetThreadBlock(void) {
  ThreadBlock* block = PeekThreadBlock();
  if (block) return block;
  // Without a slot there is nowhere to keep a block; don't allocate one that would be lost.
  if (!PlatformSlotCreated()) return nullptr;
  block = static_cast<ThreadBlock*>(allocateZeroed(1, sizeof(ThreadBlock)));
  if (!block) return nullptr;
  if (PlatformSlotSet(block) != 0) {
    free(block);
    return nullptr;
  }
  return block;
}

ThreadBlock* SetCurrentModelData(ModelData* modelData) {
  ThreadBlock* block = GetThreadBlock();
  if (block) block->currentModelData = modelData;
  return block;
}

void ClearCurrentModelData(void) {
  ThreadBlock* block = PeekThreadBlock();
  if (!block) return;
  block->currentModelData = nullptr;
  block->functionStackTag = 0;
}

void ReleaseCurrentModelData(const ModelData* modelData) {
  ThreadBlock* block = PeekThreadBlock();
  if (block && modelData && block->currentModelData == modelData) block->currentModelData = nullptr;
}

void InitThreadBuffers(void) {
  ThreadBlock* block = PeekThreadBlock();
  if (!block || block->EndRealbuffer) return;
  double* reals = static_cast<double*>(allocateZeroed(realBufferSize, sizeof(double)));
  int32_t* integers = static_cast<int32_t*>(allocateZeroed(integerBufferSize, sizeof(int32_t)));
  int32_t* sizes = static_cast<int32_t*>(allocateZeroed(sizeBufferSize, sizeof(int32_t)));
  char** strings = static_cast<char**>(allocateZeroed(stringBufferSize, sizeof(char*)));
  char* area = static_cast<char*>(allocateZeroed(stringAreaSize, sizeof(char)));
  if (!reals || !integers || !sizes || !strings || !area) {
    free(reals);
    free(integers);
    free(sizes);
    free(strings);
    free(area);
    return;
  }
  BufferMark start = {{reals, integers, sizes, strings}};
  block->baseMark = start;
  block->resetSavedMark = start;
  block->currentMark = start;
  block->savedMark = start;
  block->EndRealbuffer = reals + realBufferSize;
  block->EndIntegerbuffer = integers + integerBufferSize;
  block->EndSizebuffer = sizes + sizeBufferSize;
  block->EndStringbuffer = strings + stringBufferSize;
  block->stringBase = area;
  block->stringmark = area;
  block->Endsimplestring = area + stringAreaSize;
}

void FreeThreadBuffers(ThreadBlock* block) {
  if (!block || !block->EndRealbuffer) return;
  free(block->baseMark.place.Realbuffer);
  free(block->baseMark.place.Integerbuffer);
  free(block->baseMark.place.Sizebuffer);
  free(block->baseMark.place.Stringbuffer);
  free(block->stringBase);
  const BufferMark none = {};
  block->baseMark = none;
  block->resetSavedMark = none;
  block->currentMark = none;
  block->savedMark = none;
  block->EndRealbuffer = nullptr;
  block->EndIntegerbuffer = nullptr;
  block->EndSizebuffer = nullptr;
  block->EndStringbuffer = nullptr;
  block->stringmark = nullptr;
  block->stringBase = nullptr;
  block->Endsimplestring = nullptr;
}

void FreeCurrentThreadBuffers(void) { FreeThreadBuffers(PeekThreadBlock()); }

void ReleaseThreadBlock(void* block) {
  ThreadBlock* threadBlock = static_cast<ThreadBlock*>(block);
  if (!threadBlock) return;
  FreeThreadBuffers(threadBlock);
  free(threadBlock);
}

void FreeCurrentThreadBlock(void) {
  ReleaseThreadBlock(PeekThreadBlock());
  PlatformSlotSet(nullptr);
}
