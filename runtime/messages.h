// Runtime texts to the host: each call hands one text to RuntimeBridgeMessage (bridge.h) with a
// level of 0 (information, fmi2OK), 1 (warning) or 2 (error). Numbers are formatted in the
// process's current locale; inserted names and texts are capped at 160 characters.
#pragma once

enum MessageLevel { messageInfo = 0, messageWarning = 1, messageError = 2 };

void LogMessage(const char* text);                  // flushed, information
void LogWithLevel(int level, const char* text);     // flushed, at level
void LogInfo(const char* text);                     // appended to the pending text, information
void LogRealWithLevel(int level, const char* text, double x);  // "%.160s %.16G"
void LogMessageReal(const char* text, double x);    // LogRealWithLevel at information level
int LogMessageTimeValue(const char* text, double x);  // LogMessageReal; returns 0
void LogMessageInteger(const char* text, int i);    // "%.160s %i"
void LogMessageMatrixElement(const char* name, int i, int j, double x);  // "  %.160s[%i, %i] = %G"
// name = {v0, v1, ...} by "%G"; a text that would not fit 2,000 characters goes in pieces.
void LogMessageVector(const char* name, const double* v, int n);
// A column-major matrix with leading dimension lda, row by row: "name = {", "", one text per row
// ("{1, 2}, " ... "{3, 4}"; long rows in pieces), "", "};".
void PrintRealMatrix(const char* name, const double* v, int rows, int cols, int lda);
