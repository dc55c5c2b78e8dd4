#include "errorjump.h"

#include <cstring>

ThreadBlock* ErrorJumpEnter(ErrorJumpFrame* frame, ModelData* modelData) {
  // Field by field: the saved jump buffer is written only when there is an outer jump to keep,
  // and clearing it on every evaluation would cost more than the rest of the entry.
  frame->block = nullptr;
  frame->jumpRestored = 0;
  ThreadBlock* block = GetThreadBlock();
  if (!block) return nullptr;
  frame->block = block;
  frame->previousModelData = block->currentModelData;
  frame->previousFunctionStack = block->functionStack;
  frame->previousFunctionStackTag = block->functionStackTag;
  frame->previousArmed = block->errorJumpArmed;
  if (block->errorJumpArmed) memcpy(frame->previousJump, block->errorJump, sizeof(jmp_buf));
  block->currentModelData = modelData;
  block->errorJumpArmed = 1;
  return block;
}

namespace {

void restoreJump(ErrorJumpFrame* frame) {
  if (frame->jumpRestored) return;
  ThreadBlock* block = frame->block;
  block->errorJumpArmed = frame->previousArmed;
  if (frame->previousArmed) memcpy(block->errorJump, frame->previousJump, sizeof(jmp_buf));
  frame->jumpRestored = 1;
}

}  // namespace

void ErrorJumpLanded(ErrorJumpFrame* frame) {
  if (!frame->block) return;
  // The nodes pushed since the evaluation began lived in the frames the jump has left; a quiet
  // report does not walk them, so they are dropped here.
  frame->block->functionStack = frame->previousFunctionStack;
  frame->block->functionStackTag = frame->previousFunctionStackTag;
  restoreJump(frame);
}

void ErrorJumpLeave(ErrorJumpFrame* frame) {
  if (!frame->block) return;
  restoreJump(frame);
  frame->block->currentModelData = frame->previousModelData;
}

int ErrorJumpIsArmed(void) {
  ThreadBlock* block = PeekThreadBlock();
  return block && block->errorJumpArmed;
}
