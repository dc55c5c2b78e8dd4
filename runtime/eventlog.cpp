#include "eventlog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clocale.h"
#include "globalcontext.h"
#include "messagesink.h"
#include "modeldata.h"

const char eventLogFileName[] = "eventlog.txt";

namespace {

// Process-wide and unguarded, like the rest of the runtime's process state: records of every
// instance go to one file.
struct EventLogState {
  int openTried;   // opening is tried once per process
  FILE* stream;    // null until opened; never closed
  int iteration;   // the iteration number written first in each record
};

EventLogState eventLog = {0, nullptr, 0};

const char eventLogHeader[] =
    "Event iteration details;;;;Time;Type(s) logged in dslog\n"
    "Iteration;Event type;Expression;Result\n\n";

// The text written for an expression's result.
const char* ResultText(int kind, double value, char* buffer) {
  switch (kind) {
    case eventLogResultValue:
      sprintf_c(buffer, "%.16g", value);
      return buffer;
    case eventLogResultZero:
      return " == 0";
    case eventLogResultPositive:
      return " > 0";
    case eventLogResultNegative:
      return " < 0";
    default:
      return kind ? "true" : "false";
  }
}

// A record of the type given. Texts are written without their line breaks so that a record
// stays on one line; when no copy can be made the text is written as it is.
void WriteRecord(int type, const char* text, int kind, double value) {
  char* copy = nullptr;
  if (text && ((type == eventLogTimeEvent && kind == 1) || type == eventLogExpression ||
               type == eventLogStateSelect)) {
    copy = static_cast<char*>(malloc(strlen(text) + 1));
    if (copy) RemoveNewlines(copy, text);
  }
  const char* line = copy ? copy : text;
  char number[32];
  switch (type) {
    case eventLogTimeEvent:
      if (kind != 1)
        fprintf_c(eventLog.stream, "%d;%d;Time event;\n", eventLog.iteration, eventLogTimeEvent);
      else if (line)
        fprintf_c(eventLog.stream, "%d;%d;%.400s;\n", eventLog.iteration, eventLogTimeEvent, line);
      break;
    case eventLogUTimeEvent:
      fprintf_c(eventLog.stream, "%d;%d;U time event;\n", eventLog.iteration, eventLogUTimeEvent);
      break;
    case eventLogExpression:
      if (line)
        fprintf_c(eventLog.stream, "%d;%d;%s;%s\n", eventLog.iteration, eventLogExpression, line,
                  ResultText(kind, value, number));
      break;
    case eventLogStateSelect:
      if (line) fprintf_c(eventLog.stream, ";%d;State select;%s\n", eventLogStateSelect, line);
      break;
    default:
      break;
  }
  free(copy);
}

}  // namespace

void RemoveNewlines(char* destination, const char* source) {
  for (; *source; ++source)
    if (*source != '\n') *destination++ = *source;
  *destination = '\0';
}

void EventLogOpen(void) {
  if (!(GetLogFlags() & (logFlagEvents | logFlagInitialization)) || eventLog.openTried) return;
  if (!eventLog.stream) eventLog.stream = fopen(eventLogFileName, "w");
  eventLog.openTried = 1;
  if (eventLog.stream) {
    fputs(eventLogHeader, eventLog.stream);
    fflush(eventLog.stream);
    return;
  }
  // File name and system text are both capped at 400 characters.
  char text[900];
  sprintf_c(text, "Could not write to file \"%.400s\": %.400s.\n", eventLogFileName,
            strerror(errno));
  ContextMessageHeaded(0, text);
}

void EventLogRecord(int code, double time, int type, const char* text, int kind, double value) {
  if (!(GetLogFlags() & logFlagEvents)) return;
  if (code >= 1) {
    eventLog.iteration = code;
    return;
  }
  if (!eventLog.openTried) EventLogOpen();
  if (!eventLog.stream) return;
  switch (code) {
    case eventLogTermination:
      fprintf_c(eventLog.stream, ";;;;%.16g;Termination\n\n", time);
      eventLog.iteration = 0;
      break;
    case eventLogInitialization:
      fprintf_c(eventLog.stream, kind ? ";;;;%.16g;Initialization\n\n"
                                      : ";;;;%.16g;Initialization (off)\n\n",
                time);
      eventLog.iteration = 0;
      break;
    case eventLogEndOfEvent:
      fprintf_c(eventLog.stream, ";;;;%.16g;%d\n\n", time, type);
      eventLog.iteration = 0;
      break;
    case eventLogRecordCode:
      WriteRecord(type, text, kind, value);
      break;
    default:
      return;
  }
  // Written at once: a record must survive an abrupt end of the host process.
  fflush(eventLog.stream);
}
