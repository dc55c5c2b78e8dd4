#include "errors.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "globalcontext.h"
#include "messages.h"
#include "threadblock.h"
#include "workbuffers.h"

namespace {

[[noreturn]] void endEvaluation(void) {
  *GetStatusPointer() = 1;
  ThreadBlock* block = PeekThreadBlock();
  if (block && block->errorJumpArmed) longjmp(block->errorJump, 1);
  // Returning would run the code after a failed check (an allocator would hand out storage beyond
  // its buffer); with no evaluation to end, stopping here is the only safe way out.
  fputs("Quenzel runtime: an error was raised with no evaluation in progress\n", stderr);
  abort();
}

}  // namespace

void AssertConditionFailed(const char* conditionText, const char* message) {
  LogWithLevel(messageError, conditionText);
  RaiseError(message);
}

void AssertConditionLevel(int condition, const char* conditionText, const char* message, int level,
                          int32_t* once) {
  if (condition) return;
  if (level != messageWarning) AssertConditionFailed(conditionText, message);
  if (once) {
    if (*once == 1) return;
    *once = 1;
  }
  LogWithLevel(messageWarning, conditionText);
  ReportError(message, messageWarning);
}

double RaiseError(const char* message) {
  ReportError(message, messageError);
  // ReportError ends the evaluation for every level but the warning level.
  abort();
}

double ReportError(const char* message, int level) {
  if (!(GetLogFlags() & logFlagQuiet)) {
    LogRealWithLevel(level,
                     level == messageWarning ? "The following was detected at time:"
                                             : "The following error was detected at time:",
                     GetModelTime());
    LogWithLevel(level, message);
    ThreadBlock* block = PeekThreadBlock();
    if (block && block->functionStack) {
      LogWithLevel(level, "The stack of functions is:");
      while (block->functionStack) {
        LogWithLevel(level, block->functionStack->name);
        block->functionStack = block->functionStack->next;
      }
    }
  }
  if (level == messageWarning) return 0.0;
  endEvaluation();
}

double DivisionByZero(const char* numeratorText, double numerator, const char* denominatorText,
                      double denominator) {
  char text[1000];
  snprintf(text, sizeof text, "\nModel error - division by zero: (%.400s) / (%.400s) = (%g) / (%g)\n",
           numeratorText ? numeratorText : "", denominatorText ? denominatorText : "", numerator,
           denominator);
  RaiseError(text);
}

void TerminateModel(const char* message) {
  int* status = GetStatusPointer();
  if (*status == qiErrTerminate) return;
  LogMessage("Simulation successfully terminated");
  LogMessage(message);
  *status = qiErrTerminate;
}

void SetStatusStopped(void) { *GetStatusPointer() = qiErrStopped; }

void ResetFunctionStack(void) {
  MarkReset();
  ThreadBlock* block = PeekThreadBlock();
  block->functionStack = nullptr;
  block->functionStackTag = 0;
}
