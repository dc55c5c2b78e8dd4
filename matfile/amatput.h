// Writing matrix files of either format: open (with the "#1" line and the class matrix "Aclass"),
// whole matrices, a matrix that grows row by row while the file stays readable after every row,
// close.
#pragma once

#include <stdint.h>

#include "amat.h"

extern "C" {

// Creates the file (a null or empty name: standard output, which is flushed but never closed).
// format 0 text, 1 binary (other values are refused); bstruct 1 stores the binary matrices after
// the class matrix transposed and allows row-wise writing. Without a class name no class matrix
// is written. 0 opened, 1 failed (the record stays closed), 4 null record.
int amatPutOpen(const char* fileName, int32_t format, int32_t bstruct, const char* className, const char* version,
                const char* description, AmatWriteFile* file);
void amatPutClose(AmatWriteFile* file);
// amatPutClose that reports a failed close or flush (data lost at the end of the file): 0 or 1.
int amatPutCloseChecked(AmatWriteFile* file);

// Writes one matrix. comment (text files), row names with their name column (numeric matrices in
// text files) and the pad character (character matrices in binary files) are optional.
// 0 written, 1 failed, 4 null record, stream or name.
int amatPutMatrixFull(AmatWriteFile* file, Amatrix matrix, const char* comment, char* const* rowNames,
                      int32_t nameColumn, char pad);
int amatPutMatrixComment(AmatWriteFile* file, Amatrix matrix, const char* comment, char* const* rowNames,
                         int32_t nameColumn);
int amatPutMatrix(AmatWriteFile* file, Amatrix matrix);
int amatPutMatrixPad(AmatWriteFile* file, Amatrix matrix, char pad);
// One matrix as a file of its own: 0 written and closed, 1 failed.
int amatPutMatrixFile(const char* fileName, int32_t format, Amatrix matrix);

// Row-wise writing in a file opened with bstruct 1: realMatrix or doubleMatrix (the row types
// stand for them), ncol values per row. Each row arrives as float32 values; a doubleMatrix stores
// them widened. After every row the header (binary) or the declared dimensions (text) count the
// rows written and the file is flushed. A failed update of them leaves its message while the
// row's result stays 0; amatPutRclose updates them again and reports a failure.
int amatPutRinit(AmatWriteFile* file, const char* name, int32_t ncol, AmatType type);
int amatPutRrow(AmatWriteFile* file, const float* row);
int amatPutRclose(AmatWriteFile* file);

}  // extern "C"
