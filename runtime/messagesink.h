// The message sink of the GlobalContext: writes to its streams or hands texts to its callback.
// Nothing in the unit sets an outlet, so what it is given (event-log errors, the linear solver's
// report) is discarded; runtime texts reach the host through messages.h only.
#pragma once

#include <cstdint>

void ContextMessageSink(int type, const char* text);
// Types 1 and 2 are preceded by "\n... Warning message from %s\n" or "\n... Error message from
// %s\n" and followed by "\n".
void ContextMessageHeaded(int type, const char* text);
// At most 998 characters of text, with "\n" appended, through ContextMessageHeaded.
void ContextMessageCounted(int* type, const char* text, int length);
int ContextInfoCounted(const char* text, int length);  // type 0; returns 0
void ContextPrint(const char* text);

// Texts given by a length and padded with blanks: trailing blanks are dropped (one character is
// always kept). Type 0 goes to LogMessage, other types to the sink followed by "\n".
void PaddedTextMessage(int type, const char* text, int length);
void PaddedTextMessageReal(int type, const char* text, const double* x, int length);  // " %G"
void PaddedTextMessageInteger(int type, const char* text, const int32_t* i, int length);  // " %d"
void PaddedTextLogInteger(const char* text, const int32_t* i, int length);  // always LogMessage
