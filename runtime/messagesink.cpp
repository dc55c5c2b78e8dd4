#include "messagesink.h"

#include <cstdio>
#include <cstring>

#include "globalcontext.h"
#include "messages.h"

namespace {

void writePrefixed(FILE* stream, const char* text) {
  const char* name = globalContext.messageSourceName ? globalContext.messageSourceName : "";
  fprintf(stream, "%s | ", name);
  for (const char* c = text; *c; ++c) {
    fputc(*c, stream);
    if (*c == '\n' && c[1] != '\0') fprintf(stream, "%s | ", name);
  }
}

size_t boundedLength(const char* text, int length) {
  if (!text || length <= 0) return 0;
  return strnlen(text, static_cast<size_t>(length));
}

// Copies the first n characters of text (n from boundedLength, so text may be null only when n is 0).
void copyBounded(char* out, const char* text, size_t n) {
  if (n) memcpy(out, text, n);
}

// Copies at most limit characters of the padded text into out (limit + 1 bytes at least) and drops
// trailing blanks, keeping at least one character.
void copyTrimmed(char* out, const char* text, int length, int limit) {
  size_t n = boundedLength(text, length < limit ? length : limit);
  copyBounded(out, text, n);
  while (n > 1 && out[n - 1] == ' ') --n;
  out[n] = '\0';
}

void paddedWithInteger(char* line, size_t size, const char* text, const int32_t* i, int length) {
  copyTrimmed(line, text, length, 183);
  if (i) snprintf(line + strlen(line), size - strlen(line), " %d", *i);
}

void sendPadded(int type, const char* text) {
  if (type == 0) {
    LogMessage(text);
    return;
  }
  ContextMessageSink(type, text);
  ContextMessageSink(type, "\n");
}

}  // namespace

void ContextMessageSink(int type, const char* text) {
  if (!text) return;
  if (globalContext.messageCallback) {
    globalContext.messageCallback(type, text);
    return;
  }
  const bool warning = type == 1 || type == 2;
  FILE* stream = warning ? globalContext.warningStream : globalContext.infoStream;
  if (!stream) return;
  if (globalContext.linePrefix) {
    writePrefixed(stream, text);
    return;
  }
  fputs(text, stream);
  FILE* console = type == 0 ? stdout : stderr;
  if (stream != console) fputs(text, console);
}

void ContextMessageHeaded(int type, const char* text) {
  const char* name = globalContext.messageSourceName ? globalContext.messageSourceName : "";
  char header[512];
  if (type == 1) {
    snprintf(header, sizeof header, "\n... Warning message from %s\n", name);
    ContextMessageSink(1, header);
  } else if (type == 2) {
    snprintf(header, sizeof header, "\n... Error message from %s\n", name);
    ContextMessageSink(2, header);
  }
  ContextMessageSink(type, text);
  if (type != 0) ContextMessageSink(type, "\n");
}

void ContextMessageCounted(int* type, const char* text, int length) {
  char copy[1000];
  size_t n = boundedLength(text, length < 998 ? length : 998);
  copyBounded(copy, text, n);
  copy[n] = '\n';
  copy[n + 1] = '\0';
  ContextMessageHeaded(type ? *type : 0, copy);
}

int ContextInfoCounted(const char* text, int length) {
  int type = 0;
  ContextMessageCounted(&type, text, length);
  return 0;
}

void ContextPrint(const char* text) {
  if (!text) return;
  if (globalContext.messageCallback) {
    globalContext.messageCallback(0, text);
    return;
  }
  size_t length = strlen(text);
  ContextInfoCounted(text, length > 998 ? 998 : static_cast<int>(length));
}

void PaddedTextMessage(int type, const char* text, int length) {
  char line[200];
  copyTrimmed(line, text, length, 198);
  sendPadded(type, line);
}

void PaddedTextMessageReal(int type, const char* text, const double* x, int length) {
  char line[200];
  copyTrimmed(line, text, length, 178);
  if (x) snprintf(line + strlen(line), sizeof line - strlen(line), " %G", *x);
  sendPadded(type, line);
}

void PaddedTextMessageInteger(int type, const char* text, const int32_t* i, int length) {
  char line[200];
  paddedWithInteger(line, sizeof line, text, i, length);
  sendPadded(type, line);
}

void PaddedTextLogInteger(const char* text, const int32_t* i, int length) {
  char line[200];
  paddedWithInteger(line, sizeof line, text, i, length);
  LogMessage(line);
}
