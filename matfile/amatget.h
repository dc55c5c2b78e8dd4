// Reading matrix files of either format: open with the class check, read the next matrix as the
// caller requires it, continue reading a row matrix whose file is still growing, close.
#pragma once

#include <stdint.h>

#include "amat.h"

extern "C" {

// Opens a file and checks its class matrix "Aclass" (or "class"): its first row must equal
// className, its second the version when one is given; "NoClass" skips the check. A fourth row
// "binTrans" marks the binary matrices that follow as stored transposed.
// 0 open; 1 the first matrix is empty, not text or does not match; 2 not a class matrix or
// another class; 3 another version; 4 a null argument or an early end of the file; 5 the file
// cannot be opened or read, storage is missing or the class matrix has fewer than 3 rows.
// On any failure the record ends closed.
int amatGetOpen(const char* fileName, const char* className, const char* version, AmatReadFile* file);

// Reads the next matrix. The caller presets in matrix what it requires: name (null: any), nrow
// and ncol (0 any, k exactly k, -k at most k), type (voidMatrix: as stored; preferredType then
// chooses realMatrix or doubleMatrix for stored floats) and data (null: the library allocates;
// otherwise storage for the preset sizes, filled in the preset type). position, the byte offset
// of the first row not yet read, continues a row matrix read earlier (capacity < 0: ring mode).
// trim drops trailing white space of binary character rows. 0 read; 1 no elements (name and type
// reported); 2 not what the caller requires; 3 end of file; 4 error. After 2, 3 and 4 the
// caller's record is as it was and the file should be closed.
int amatGetMatrix(AmatReadFile* file, Amatrix* matrix, int32_t preferredType, const int64_t* position,
                  int32_t trim);
// The next matrix, whatever it is: amatGetMatrix with preferred type 0, no position, trimming.
int amatGetNext(AmatReadFile* file, Amatrix* matrix);
void amatGetClose(AmatReadFile* file);

}  // extern "C"
