// The C functions behind the Modelica Standard Library's file, directory, environment, time and
// process functions, under their published names, and the wrappers generated code calls when a
// function has several outputs. Results are strings of the calling thread's string area; every
// failure ends the evaluation through ModelicaFormatError.
#pragma once

#include "matrixop.h"

extern "C" {

// The names of the directory's entries without "." and ".." into exactly nFiles slots.
void ModelicaInternal_readDirectory(const char* directory, int nFiles, const char** files);
// Lines of the file: 0 for an empty file; a last line without a newline counts.
int ModelicaInternal_countLines(const char* fileName);
// The first nLines lines of the file, each without its newline and one carriage return before it.
void ModelicaInternal_readFile(const char* fileName, const char** lines, int nLines);
// Line lineNumber (from 1) through the file cache: reading lines in turn reads the file once.
// Past the last line: "" with endOfFile 1, and the cached stream is forgotten.
const char* ModelicaInternal_readLine(const char* fileName, int lineNumber, int* endOfFile);
// The variable's value (backslashes turned into slashes when convertToSlash is 1) and exist 1, or
// "" and exist 0 when it is not set.
void ModelicaInternal_getenv(const char* name, int convertToSlash, const char** content, int* exist);

// The local time: month 1-12, the full year.
void ModelicaInternal_getTime(int* ms, int* sec, int* min, int* hour, int* mday, int* mon, int* year);
int ModelicaInternal_getpid(void);

struct ModelicaReadLineResult {
  const char* line;
  int endOfFile;
};
struct ModelicaGetenvResult {
  const char* content;
  int exist;
};

ModelicaReadLineResult ModelicaWrap_readLine(const char* fileName, int lineNumber);
// A new String vector with every line of the file.
StringArray ModelicaWrap_readFile(const char* fileName);
// ModelicaInternal_getenv under the function name "ModelicaInternal_getenv" on the thread's stack.
ModelicaGetenvResult ModelicaWrap_getenv(const char* name, int convertToSlash);
// A new String vector of the nFiles entry names.
StringArray ModelicaWrap_readDirectory(const char* directory, int nFiles);

}  // extern "C"
