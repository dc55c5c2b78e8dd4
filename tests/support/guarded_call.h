// Test support for code that fails through the runtime's error jump: a recorder of the texts the
// runtime hands to the host, and a guarded call that runs a callback as an evaluation would.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "modeldata.h"

// One text as RuntimeBridgeMessage received it.
struct RecordedMessage {
  std::string text;
  int flush;
  int level;
};

// Records every runtime text while it lives (the bridge that was installed before comes back
// afterwards). Recorders nest; the innermost one records.
class RuntimeMessageRecorder {
 public:
  RuntimeMessageRecorder();
  ~RuntimeMessageRecorder();
  RuntimeMessageRecorder(const RuntimeMessageRecorder&) = delete;
  RuntimeMessageRecorder& operator=(const RuntimeMessageRecorder&) = delete;

  std::vector<RecordedMessage> messages;
  std::vector<std::string> texts() const;
  std::vector<int> levels() const;

 private:
  RuntimeMessageRecorder* outer_;
  void (*previousBridge_)(const char*, int, int);
};

// The outcome of one guarded call.
struct GuardedCallResult {
  bool armed = false;   // the thread had a block, so the jump could be armed and the callback ran
  bool jumped = false;  // the callback ended through the error jump
  std::vector<RecordedMessage> messages;  // every runtime text sent meanwhile, in order
  std::vector<std::string> texts() const;
  std::vector<int> levels() const;
};

// Attaches the runtime (thread slot) as loading the unit does, once per process; detached at exit.
void EnsureRuntimeAttached(void);

// Arms the calling thread's error jump with `modelData` as the record being evaluated (null: the
// template), records the runtime's texts and runs body(context). Frames between here and a raise
// are left by longjmp: the callback must hold no object with a non-trivial destructor.
GuardedCallResult GuardedCall(void (*body)(void* context), void* context,
                              ModelData* modelData = nullptr);

// The same for a callable object or a plain function. The copy it runs lives in this frame, which
// the jump does not leave.
template <typename Body>
GuardedCallResult GuardedCall(Body&& body, ModelData* modelData = nullptr) {
  using Callable = std::decay_t<Body>;
  Callable callable(std::forward<Body>(body));
  return GuardedCall([](void* context) { (*static_cast<Callable*>(context))(); }, &callable,
                     modelData);
}
