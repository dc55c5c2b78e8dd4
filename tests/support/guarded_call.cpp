#include "guarded_call.h"

#include <cstdlib>
#include <mutex>

#include "bridge.h"
#include "entry.h"
#include "errorjump.h"
#include "platform.h"

namespace {

std::mutex recorderLock;
RuntimeMessageRecorder* activeRecorder = nullptr;

void recordMessage(const char* text, int flush, int level) {
  std::lock_guard<std::mutex> hold(recorderLock);
  if (activeRecorder) activeRecorder->messages.push_back({text, flush, level});
}

std::vector<std::string> textsOf(const std::vector<RecordedMessage>& messages) {
  std::vector<std::string> texts;
  for (const RecordedMessage& m : messages) texts.push_back(m.text);
  return texts;
}

std::vector<int> levelsOf(const std::vector<RecordedMessage>& messages) {
  std::vector<int> levels;
  for (const RecordedMessage& m : messages) levels.push_back(m.level);
  return levels;
}

void detachAtExit(void) { RuntimeProcessDetach(); }

}  // namespace

RuntimeMessageRecorder::RuntimeMessageRecorder() {
  std::lock_guard<std::mutex> hold(recorderLock);
  outer_ = activeRecorder;
  previousBridge_ = GetRuntimeMessageBridge();
  activeRecorder = this;
  SetRuntimeMessageBridge(recordMessage);
}

RuntimeMessageRecorder::~RuntimeMessageRecorder() {
  std::lock_guard<std::mutex> hold(recorderLock);
  activeRecorder = outer_;
  SetRuntimeMessageBridge(previousBridge_);
}

std::vector<std::string> RuntimeMessageRecorder::texts() const { return textsOf(messages); }
std::vector<int> RuntimeMessageRecorder::levels() const { return levelsOf(messages); }
std::vector<std::string> GuardedCallResult::texts() const { return textsOf(messages); }
std::vector<int> GuardedCallResult::levels() const { return levelsOf(messages); }

void EnsureRuntimeAttached(void) {
  if (PlatformSlotCreated()) return;
  RuntimeProcessAttach();
  atexit(detachAtExit);
}

GuardedCallResult GuardedCall(void (*body)(void* context), void* context, ModelData* modelData) {
  EnsureRuntimeAttached();
  GuardedCallResult result;
  RuntimeMessageRecorder recorder;
  ErrorJumpFrame frame;
  if (ErrorJumpEnter(&frame, modelData)) {
    result.armed = true;
    if (ERROR_JUMP_ARMED(frame)) {
      body(context);
    } else {
      ErrorJumpLanded(&frame);
      result.jumped = true;
    }
    ErrorJumpLeave(&frame);
  }
  result.messages = recorder.messages;
  return result;
}
