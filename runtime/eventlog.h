// The event log: "eventlog.txt" in the working directory, lines of ";"-separated fields that
// record the details of event iterations for reading in a spreadsheet. It is written only
// while the registered LogFlags ask for events, in the "C" locale, opened once per process and
// flushed after every record so that nothing is lost when the process ends abruptly.
#pragma once

// What EventLogRecord is asked to do (its code argument). Codes from 1 up set the current
// iteration number.
enum EventLogCode {
  eventLogRecordCode = -1,      // a record of the type given
  eventLogEndOfEvent = -2,      // end of an event, with time and event type
  eventLogInitialization = -3,  // initialisation, with time; the "(off)" form for kind 0
  eventLogTermination = -4      // termination, with time
};

// Record types of eventLogRecordCode.
enum EventLogType {
  eventLogTimeEvent = 1,    // kind 1: a named time event (text), any other kind: a time event
  eventLogUTimeEvent = 2,
  eventLogExpression = 4,   // an expression and its result
  eventLogStateSelect = 8
};

// Result kinds of an expression record; any other kind is a Boolean ("true" when nonzero).
enum EventLogResultKind {
  eventLogResultValue = 2,     // the value by "%.16g"
  eventLogResultZero = 3,      // " == 0"
  eventLogResultPositive = 4,  // " > 0"
  eventLogResultNegative = 5   // " < 0"
};

extern const char eventLogFileName[];  // "eventlog.txt"

// Writes one record (or sets the iteration number); see the codes above.
void EventLogRecord(int code, double time, int type, const char* text, int kind, double value);

// Opens the log once per process and writes its header.
void EventLogOpen(void);

// Copies source into destination (which holds at least as many characters) without its line
// breaks.
void RemoveNewlines(char* destination, const char* source);
