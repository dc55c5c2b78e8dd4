// The frame that arms a thread's error jump for one evaluation. setjmp must run in a frame that
// stays alive for the whole evaluation, so the arming function calls it itself, through
// ERROR_JUMP_ARMED, between entering and leaving the frame:
//
//   ErrorJumpFrame frame;
//   if (!ErrorJumpEnter(&frame, modelData)) {   // no thread block: fail without evaluating
//     *qiErr = 1;
//     return 0;
//   }
//   if (ERROR_JUMP_ARMED(frame)) {
//     ... evaluate ...
//   } else {
//     ErrorJumpLanded(&frame);                  // a runtime error ended the evaluation
//     *qiErr = 1;
//   }
//   ErrorJumpLeave(&frame);
//
// Locals of the arming function that change after ERROR_JUMP_ARMED and are read after a jump must
// be volatile. Frames nest: an evaluation started inside another restores the outer one's jump
// when it ends, and a raise with no evaluation in progress never jumps.
#pragma once

#include <csetjmp>
#include <cstdint>

#include "threadblock.h"

struct ErrorJumpFrame {
  ThreadBlock* block;
  ModelData* previousModelData;
  FunctionStackNode* previousFunctionStack;
  int32_t previousFunctionStackTag;
  int32_t previousArmed;
  int32_t jumpRestored;
  jmp_buf previousJump;
};

// Binds the record to the calling thread (SetCurrentModelData) and arms its jump. Null, with
// nothing armed, when the thread has no block and none can be allocated.
ThreadBlock* ErrorJumpEnter(ErrorJumpFrame* frame, ModelData* modelData);

// True on arming; false when a runtime error jumped back.
#define ERROR_JUMP_ARMED(frame) (setjmp((frame).block->errorJump) == 0)

// First thing after a jump: drops the function-stack nodes of the frames the jump left and gives
// the jump back to the enclosing evaluation (or to none), so a raise from here on does not land
// here again.
void ErrorJumpLanded(ErrorJumpFrame* frame);

// Last thing of the arming function: gives the jump back as ErrorJumpLanded does and rebinds the
// record that was current before, so the thread keeps no pointer to a record it is done with.
void ErrorJumpLeave(ErrorJumpFrame* frame);

// Whether the calling thread has an evaluation in progress.
int ErrorJumpIsArmed(void);
