// Named two-dimensional matrices in files: the matrix record and its storage types, the records of
// a file open for reading and for writing, the process-wide message buffer and stop request, and
// the record operations. Every operation returns a small integer code; a failure leaves its text
// in amatMessage. Nothing is locked: the library must not be used from several threads at once.
#pragma once

#include <stdint.h>
#include <stdio.h>

extern "C" {

// The storage type of a matrix. Numeric data are column-major: element (i, j) at i + j*nrow.
typedef int32_t AmatType;
enum {
  voidMatrix = 0,       // no data; on reading: whatever the file holds
  integerMatrix = 1,    // int32 elements
  realMatrix = 2,       // float32 elements
  doubleMatrix = 3,     // float64 elements
  charMatrix = 4,       // nrow pointers to NUL-terminated row texts (a null row is the empty text)
  realRowMatrix = 5,    // row pointers, each row ncol float32 values
  doubleRowMatrix = 6,  // row pointers, each row ncol float64 values
};

struct Amatrix {
  char* name;  // heap or null
  int32_t nrow;
  int32_t ncol;  // for a charMatrix the length of the longest row text
  AmatType type;
  void* data;  // heap or null, laid out as the type says
  // Row types only: row pointers allocated in data (negative: ring mode of continued reading),
  // and rows already read by the row-by-row readers.
  int32_t capacity;
  int32_t nextRow;
};

struct AmatReadFile {
  char* path;
  FILE* stream;  // null when closed
  int32_t format;      // 0 text "#1", 1 MAT-file version 4
  int32_t transposed;  // binary matrices after the class matrix are stored transposed
  Amatrix classMatrix;
  int32_t headerPending;
  int32_t pendingPrecision;  // precision digit of the header just read
  Amatrix current;
};

struct AmatWriteFile {
  char* path;    // null for standard output
  FILE* stream;  // null when closed
  int32_t format;   // 0 text, 1 binary
  int32_t bstruct;  // 0 binNormal, 1 binTrans
  int32_t ownsStream;
  int32_t header[5];  // type code, mrows, ncols, imagf, namlen of the last binary header
  char* rowName;
  // Byte offset of the row-wise matrix's header (binary) or dimensions (text); 0 after opening.
  int64_t rowHeaderPos;
  int32_t rowType;
  int32_t rowNcol;
  int32_t rowsWritten;
};

enum { amatMessageSize = 1500 };
// The text of the last failure, formatted in the "C" locale; initially "No message.".
extern char amatMessage[amatMessageSize];
// Polled, when set, while a row matrix is read: non-zero stops the read (result 4).
extern int (*amatStopRequest)(void);

void amatInitMatrix(Amatrix* matrix);
// Stores the values as given (no copies); capacity and nextRow become 0.
void amatSetMatrix(char* name, int32_t nrow, int32_t ncol, AmatType type, void* data, Amatrix* matrix);
// Releases the name and the data (for charMatrix and the row types the first nrow rows, then the
// row array) and clears the record. Everything must come from the C heap.
void amatFreeMatrix(Amatrix* matrix);
// Releases the first count rows (setting each to null), then the array.
void amatFreeRows(void** rows, int32_t count);

}  // extern "C"

// ---- Shared by the library's own files -------------------------------------------------------
// Formats into amatMessage, bounded, in the "C" locale.
void amatSetMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A heap copy of the text, or null when storage is missing.
char* amatCopyText(const char* text);
// "integer", "real", "double", "char" or "unknown".
const char* amatTypeWord(AmatType type);
// "voidMatrix" ... "doubleRowMatrix" or "unknown".
const char* amatTypeMember(AmatType type);
// The system's text of the last failed stream operation.
const char* amatSystemError(void);
// "End-Of-File reached." at the end of the stream, else the system's text.
const char* amatReadError(FILE* stream);
// Bytes between the position and the end of a seekable stream; INT64_MAX when unknown.
int64_t amatRemainingBytes(FILE* stream);
