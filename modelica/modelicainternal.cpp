#include "modelicainternal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clocale.h"
#include "directory.h"
#include "errors.h"
#include "filecache.h"
#include "modelicautilities.h"
#include "platform.h"
#include "threadblock.h"
#include "workbuffers.h"

namespace {

// A line is read first into this many characters and read again when it is longer.
enum { firstReadLength = 200 };

enum LineRead { lineRead, lineAtEnd, lineNoRoom, lineRepositionFailed, lineShortRead };

// Reads the next line of stream (up to a newline or the end, without the newline and one carriage
// return right before it) into a new string of the area.
LineRead ReadLine(FILE* stream, const char** line) {
  fpos_t start;
  const bool havePosition = fgetpos(stream, &start) == 0;
  char first[firstReadLength];
  size_t length = 0;
  int c;
  int last = EOF;
  while ((c = fgetc(stream)) != EOF && c != '\n') {
    if (length < firstReadLength) first[length] = static_cast<char>(c);
    ++length;
    last = c;
  }
  if (length == 0 && c == EOF) return lineAtEnd;
  const bool newline = c == '\n';
  const size_t read = length;
  if (last == '\r') --length;
  char* string = ModelicaAllocateStringWithErrorReturn(length);
  if (!string) return lineNoRoom;
  if (read <= firstReadLength) {
    memcpy(string, first, length);
  } else {
    if (!havePosition || fsetpos(stream, &start) != 0) return lineRepositionFailed;
    const size_t covered = read + (newline ? 1 : 0);
    if (fread(string, 1, length, stream) != length) return lineShortRead;
    for (size_t rest = length; rest < covered; ++rest)
      if (fgetc(stream) == EOF) return lineShortRead;
  }
  string[length] = '\0';
  *line = string;
  return lineRead;
}

// Paths taken from the environment get the separator the Modelica functions use on every
// platform; the text is changed in place.
void ConvertToUnixSeparators(char* text) {
  for (char* p = text; *p; ++p)
    if (*p == '\\') *p = '/';
}

[[noreturn]] void DirectoryFailed(const char* directory, int error) {
  ModelicaFormatError("Not possible to get file names of \"%s\":\n%s", directory, strerror(error));
}

void SetAllEmpty(StringArray a) {
  const int32_t n = StringNrElements(a);
  for (int32_t i = 0; i < n; ++i) a.data[i] = const_cast<char*>("");
}

}  // namespace

extern "C" {

void ModelicaInternal_readDirectory(const char* directory, int nFiles, const char** files) {
  DirectoryStream* stream = DirectoryOpen(directory);
  if (!stream)
    ModelicaFormatError("1: Not possible to get file names of \"%s\":\n%s", StringOrEmpty(directory),
                        strerror(errno));
  int count = 0;
  DirectoryEntry* entry;
  // DirectoryRead clears errno itself right before the system's read, so what it leaves is that
  // read's outcome alone.
  while ((entry = DirectoryRead(stream)) != nullptr) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    if (count >= nFiles) {
      DirectoryClose(stream);
      ModelicaFormatError(
          "Not possible to get file names of \"%s\":\nMore files in this directory as reported by "
          "nFiles (= %i)",
          directory, nFiles);
    }
    errno = 0;
    char* copy = ModelicaAllocateStringWithErrorReturn(strlen(name));
    if (!copy) {
      const int error = errno;
      DirectoryClose(stream);
      if (error) DirectoryFailed(directory, error);
      ModelicaFormatError("Not possible to get file names of \"%s\":\nNot enough storage", directory);
    }
    strcpy(copy, name);
    files[count++] = copy;
  }
  const int error = errno;
  if (error) {
    DirectoryClose(stream);
    DirectoryFailed(directory, error);
  }
  if (count < nFiles) {
    DirectoryClose(stream);
    ModelicaFormatError(
        "Not possible to get file names of \"%s\":\nLess files (= %d) found as defined by argument "
        "nNames (= %d)",
        directory, count, nFiles);
  }
  if (DirectoryClose(stream) != 0)
    ModelicaFormatError("Not possible to get file names of \"%s\":\n", directory);
}

int ModelicaInternal_countLines(const char* fileName) {
  FILE* stream = FileCacheOpen(fileName, 0);
  int lines = 0;
  int previous = '\n';
  int c;
  while ((c = fgetc(stream)) != EOF) {
    if (previous == '\n') ++lines;
    previous = c;
  }
  fclose(stream);
  return lines;
}

void ModelicaInternal_readFile(const char* fileName, const char** lines, int nLines) {
  FILE* stream = FileCacheOpen(fileName, 0);
  for (int i = 1; i <= nLines; ++i) {
    const char* line = nullptr;
    switch (ReadLine(stream, &line)) {
      case lineRead:
        break;
      case lineAtEnd:
        // A file shorter than announced gives empty lines for the rest.
        line = ModelicaAllocateStringWithErrorReturn(0);
        if (line) break;
        [[fallthrough]];
      case lineNoRoom:
        fclose(stream);
        ModelicaFormatError(
            "Not enough memory to allocate string for reading line %i from file\n\"%s\".\n(this file "
            "contains %i lines)\n",
            i, fileName, nLines);
      case lineRepositionFailed: {
        const int error = errno;
        fclose(stream);
        ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s\n", i, fileName,
                            strerror(error));
      }
      case lineShortRead:
        fclose(stream);
        ModelicaFormatError("Error when reading line %i from file\n\"%s\"\n", i, fileName);
    }
    lines[i - 1] = line;
  }
  fclose(stream);
}

const char* ModelicaInternal_readLine(const char* fileName, int lineNumber, int* endOfFile) {
  if (lineNumber < 1)
    ModelicaFormatError("Not possible to read line %i from file\n\"%s\":\nline numbers start at 1",
                        lineNumber, StringOrEmpty(fileName));
  FILE* stream = FileCacheOpen(fileName, lineNumber - 1);
  const char* line = nullptr;
  const LineRead outcome = ReadLine(stream, &line);
  if (outcome == lineAtEnd) {
    fclose(stream);
    FileCacheClose(fileName);
    *endOfFile = 1;
    return ModelicaAllocateString(0);
  }
  if (outcome != lineRead) {
    const int error = errno;
    fclose(stream);
    FileCacheClose(fileName);
    ModelicaFormatError("Error when reading line %i from file\n\"%s\":\n%s", lineNumber, fileName,
                        strerror(error));
  }
  FileCacheStore(stream, fileName, lineNumber);
  *endOfFile = 0;
  return line;
}

void ModelicaInternal_getenv(const char* name, int convertToSlash, const char** content, int* exist) {
  const char* value = name ? getenv(name) : nullptr;
  if (!value) {
    *content = ModelicaAllocateString(0);
    *exist = 0;
    return;
  }
  const size_t length = strlen(value);
  char* copy = ModelicaAllocateStringWithErrorReturn(length);
  if (!copy)
    ModelicaFormatError(
        "Not enough memory to allocate string for copying environment variable \"%s\".\n", name);
  memcpy(copy, value, length + 1);
  if (convertToSlash == 1) ConvertToUnixSeparators(copy);
  *exist = 1;
  *content = copy;
}

void ModelicaInternal_getTime(int* ms, int* sec, int* min, int* hour, int* mday, int* mon, int* year) {
  PlatformLocalTime now = {};
  PlatformLocalTimeNow(&now);
  *ms = now.millisecond;
  *sec = now.second;
  *min = now.minute;
  *hour = now.hour;
  *mday = now.day;
  *mon = now.month;
  *year = now.year;
}

int ModelicaInternal_getpid(void) { return PlatformProcessId(); }

ModelicaReadLineResult ModelicaWrap_readLine(const char* fileName, int lineNumber) {
  ModelicaReadLineResult result = {nullptr, 0};
  result.line = ModelicaInternal_readLine(fileName, lineNumber, &result.endOfFile);
  return result;
}

StringArray ModelicaWrap_readFile(const char* fileName) {
  const int nLines = ModelicaInternal_countLines(fileName);
  StringArray lines = StringNewVector(nLines);
  ModelicaInternal_readFile(fileName, const_cast<const char**>(lines.data), nLines);
  return lines;
}

ModelicaGetenvResult ModelicaWrap_getenv(const char* name, int convertToSlash) {
  ThreadBlock* block = GetThreadBlock();
  FunctionStackNode node = {"ModelicaInternal_getenv", block ? block->functionStack : nullptr};
  const int32_t savedTag = block ? block->functionStackTag : 0;
  if (block) block->functionStack = &node;
  ModelicaGetenvResult result = {"", 0};
  ModelicaInternal_getenv(name, convertToSlash, &result.content, &result.exist);
  if (block) {
    block->functionStack = node.next;
    block->functionStackTag = savedTag;
  }
  return result;
}

StringArray ModelicaWrap_readDirectory(const char* directory, int nFiles) {
  StringArray files = StringNewVector(nFiles);
  SetAllEmpty(files);
  SavedMarks marks = MarkSave();
  ModelicaInternal_readDirectory(directory, nFiles, const_cast<const char**>(files.data));
  MarkRestore(marks);
  return files;
}

}  // extern "C"
