#include "messages.h"

#include <cstdio>
#include <cstring>

#include "bridge.h"

namespace {

// A fixed text buffer that never writes beyond its end.
struct TextBuffer {
  char* text;
  size_t capacity;  // bytes, terminator included
  size_t length;
};

void textClear(TextBuffer* buffer) {
  buffer->length = 0;
  buffer->text[0] = '\0';
}

void textAppend(TextBuffer* buffer, const char* part) {
  size_t room = buffer->capacity - 1 - buffer->length;
  size_t n = strlen(part);
  if (n > room) n = room;
  memcpy(buffer->text + buffer->length, part, n);
  buffer->length += n;
  buffer->text[buffer->length] = '\0';
}

const char* orEmpty(const char* text) { return text ? text : ""; }

}  // namespace

void LogMessage(const char* text) { RuntimeBridgeMessage(text, 1, messageInfo); }

void LogWithLevel(int level, const char* text) { RuntimeBridgeMessage(text, 1, level); }

void LogInfo(const char* text) { RuntimeBridgeMessage(text, 0, messageInfo); }

void LogRealWithLevel(int level, const char* text, double x) {
  char line[200];
  snprintf(line, sizeof line, "%.160s %.16G", orEmpty(text), x);
  LogWithLevel(level, line);
}

void LogMessageReal(const char* text, double x) { LogRealWithLevel(messageInfo, text, x); }

int LogMessageTimeValue(const char* text, double x) {
  LogMessageReal(text, x);
  return 0;
}

void LogMessageInteger(const char* text, int i) {
  char line[200];
  snprintf(line, sizeof line, "%.160s %i", orEmpty(text), i);
  LogMessage(line);
}

void LogMessageMatrixElement(const char* name, int i, int j, double x) {
  char line[256];
  snprintf(line, sizeof line, "  %.160s[%i, %i] = %G", orEmpty(name), i, j, x);
  LogMessage(line);
}

void LogMessageVector(const char* name, const double* v, int n) {
  char storage[2000];
  TextBuffer line = {storage, sizeof storage, 0};
  char head[200];
  snprintf(head, sizeof head, "%.160s = {", orEmpty(name));
  textClear(&line);
  textAppend(&line, head);
  if (!v) n = 0;
  for (int i = 0; i < n; ++i) {
    char element[100];
    snprintf(element, sizeof element, "%G", v[i]);
    const char* separator = i > 0 ? ", " : "";
    // Keep room for the separator, the closing brace and the terminator; a vector that does not
    // fit goes out in pieces, each ending after a separator.
    if (line.length + strlen(separator) + strlen(element) + 3 > line.capacity) {
      textAppend(&line, separator);
      LogMessage(line.text);
      textClear(&line);
      separator = "";
    }
    textAppend(&line, separator);
    textAppend(&line, element);
  }
  textAppend(&line, "}");
  LogMessage(line.text);
}

void PrintRealMatrix(const char* name, const double* v, int rows, int cols, int lda) {
  char storage[300];
  TextBuffer line = {storage, sizeof storage, 0};
  char head[200];
  snprintf(head, sizeof head, "%.160s = {", orEmpty(name));
  LogMessage(head);
  LogMessage("");
  if (!v) rows = 0;
  for (int i = 1; i <= rows; ++i) {
    textClear(&line);
    textAppend(&line, "{");
    for (int j = 1; j <= cols; ++j) {
      if (j > 1) textAppend(&line, ", ");
      if (line.length > 200) {
        LogMessage(line.text);
        textClear(&line);
      }
      char element[100];
      snprintf(element, sizeof element, "%G", v[static_cast<long>(j - 1) * lda + i - 1]);
      textAppend(&line, element);
    }
    textAppend(&line, "}");
    if (i < rows) textAppend(&line, ", ");
    LogMessage(line.text);
  }
  LogMessage("");
  LogMessage("};");
}
