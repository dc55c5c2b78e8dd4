// The runtime's error path. A failed check reports the condition text and a time-stamped report
// with the stack of function names to the host, sets the model's status to 1 and leaves the
// evaluation through the calling thread's error jump (errorjump.h); nothing after the failing
// check runs. Code that a raise can cross holds no object with a non-trivial destructor.
//
// A raise on a thread with no evaluation in progress has nowhere to go: it reports as usual and
// then ends the process, since no caller of these functions expects them to return.
#pragma once

#include <cstdint>

// One name on a thread's function stack. Nodes live in the frames of the functions that push them:
// a wrapper saves functionStack and functionStackTag of its ThreadBlock, links its node on top,
// calls, and restores both on return.
struct FunctionStackNode {
  const char* name;
  FunctionStackNode* next;  // the node below
};

[[noreturn]] void AssertConditionFailed(const char* conditionText, const char* message);

// Nothing when condition is nonzero; else the condition text at error level, then RaiseError.
inline void AssertCondition(int condition, const char* conditionText, const char* message) {
  if (!condition) AssertConditionFailed(conditionText, message);
}

// Level 1 only warns, and with a non-null once flag only the first time; every other level fails
// as AssertCondition does.
void AssertConditionLevel(int condition, const char* conditionText, const char* message, int level,
                          int32_t* once);

// ReportError at error level; does not return.
[[noreturn]] double RaiseError(const char* message);

// Unless LogFlags has the quiet bit: "The following error was detected at time:" (level 1: "The
// following was detected at time:") with the model time, the message, and the function stack top
// first, all at `level`; the stack is empty afterwards. Level 1 then returns 0.0; every other level
// sets the model status to 1 and ends the evaluation.
double ReportError(const char* message, int level);

// "\nModel error - division by zero: (%.400s) / (%.400s) = (%g) / (%g)\n" through RaiseError.
[[noreturn]] double DivisionByZero(const char* numeratorText, double numerator,
                                   const char* denominatorText, double denominator);

// Once per evaluation: "Simulation successfully terminated" and the message, then status -999.
void TerminateModel(const char* message);
// Status -998.
void SetStatusStopped(void);

// MarkReset and an empty function stack: releases every temporary of the thread.
void ResetFunctionStack(void);
