// The per-thread block of the runtime: the stack of function names for error reports, the work
// buffers and their marks, the error jump and the ModelData being evaluated on the thread.
//
// A thread gets its block on first use (in practice its first evaluation) and its work buffers on
// its first allocation, mark or string operation; both are released when the thread ends, and the
// calling thread's at unload. Threads that never evaluate get neither.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>

#include "modeldata.h"

struct FunctionStackNode;

// The next free slot of each typed work buffer.
struct BufferPlace {
  double* Realbuffer;
  int32_t* Integerbuffer;
  int32_t* Sizebuffer;
  char** Stringbuffer;
};

struct BufferMark {
  BufferPlace place;
};

// What MarkSave returns and MarkRestore takes back: the current mark first, the saved one second.
struct SavedMarks {
  BufferMark current;
  BufferMark saved;
};

struct ThreadBlock {
  FunctionStackNode* functionStack;  // top of the stack of function names; null when empty
  int32_t functionStackTag;          // saved and restored with functionStack by wrappers
  BufferMark baseMark;               // start of each typed buffer
  BufferMark resetSavedMark;         // what MarkReset gives to savedMark
  BufferMark currentMark;            // next free slot of each typed buffer
  BufferMark savedMark;              // kept by MarkSave for MarkRestoreSaved
  char* stringmark;                  // next free character of the string area
  char* stringBase;
  char* Endsimplestring;             // one past the last character of the string area
  double* EndRealbuffer;             // non-null exactly while the work buffers exist
  int32_t* EndIntegerbuffer;
  int32_t* EndSizebuffer;
  char** EndStringbuffer;
  jmp_buf errorJump;                 // where a runtime error leaves the evaluation
  ModelData* currentModelData;       // record being evaluated; null means modelDataTemplate
  int32_t errorJumpArmed;            // errorJump belongs to an evaluation still in progress
};

// Sizes of the work buffers, in elements.
enum WorkBufferSizes {
  realBufferSize = 500000,
  integerBufferSize = 50000,
  sizeBufferSize = 50000,
  stringBufferSize = 10000,
  stringAreaSize = 10000
};

// The calling thread's block, created zero-filled on first use. Null when it cannot be allocated
// or the runtime has no thread slot (the library failed to attach).
ThreadBlock* GetThreadBlock(void);
// The calling thread's block if it has one; never creates it.
ThreadBlock* PeekThreadBlock(void);

// Binds the record being evaluated to the calling thread and returns the block (null as
// GetThreadBlock). The driver does this through its error-jump frame (errorjump.h), which also
// restores the previous record when the evaluation returns.
ThreadBlock* SetCurrentModelData(ModelData* modelData);
// What copying a record does: clears currentModelData and functionStackTag of the calling thread.
void ClearCurrentModelData(void);
// What releasing a record does: the calling thread stops referring to it.
void ReleaseCurrentModelData(const ModelData* modelData);

// The current record's time, the address of its status and of its external-object table; the
// template's when the thread is not evaluating a record.
double GetModelTime(void);
int* GetStatusPointer(void);
void* GetCurrentRunRecord(void);

// Creates the calling thread's work buffers, zero-filled; nothing when the block is missing or the
// buffers exist. When one of them cannot be allocated none is kept (EndRealbuffer stays null).
void InitThreadBuffers(void);
// Releases the block's buffers and clears its marks, ends and string pointers.
void FreeThreadBuffers(ThreadBlock* block);
void FreeCurrentThreadBuffers(void);

// Releases a thread's block with its buffers: the thread-exit callback of the thread slot.
void ReleaseThreadBlock(void* block);
// Releases the calling thread's block and clears its slot (process detach).
void FreeCurrentThreadBlock(void);

// Test hook: the allocator of blocks and buffers (calloc's contract). Null restores calloc.
typedef void* (*ThreadMemoryAllocator)(size_t count, size_t size);
void SetThreadMemoryAllocator(ThreadMemoryAllocator allocator);
