// The two file formats underneath the reading and writing interfaces: the MAT-file version 4
// binary matrices and the "#1" text format. Private to the library.
#pragma once

#include <stdint.h>

#include "amat.h"

// ---- Sizes from files ------------------------------------------------------------------------
// Whether count elements of the given width can still be in the file: sizes come from headers
// that may be damaged or hostile, so nothing larger than what the file holds is ever allocated.
bool amatFitsFile(FILE* stream, int64_t count, int64_t bytesPerElement);
// The allocation message of a numeric matrix ("... %d numeric elements"), result 4.
int amatNumericStorageError(const AmatReadFile* file, const Amatrix* matrix);
// The allocation message of character data ("... %d characters"), result 4.
int amatCharStorageError(const AmatReadFile* file, const Amatrix* matrix, int64_t size);
// Allocates the storage of the delivered type for the header just read (the stored kind given):
// 0, or 4 with the allocation message (also for sizes the file cannot hold) or a stop request.
int amatPrepareStorage(AmatReadFile* file, Amatrix* matrix, AmatType storedType);
// The header just read (stored name, nrow, ncol and kind) against what the caller requires (type,
// nrow and ncol as amatGetMatrix takes them): 0; 1 no elements; 2 another kind or size; 4 a
// negative dimension.
int amatCheckHeader(const AmatReadFile* file, const Amatrix* header, const Amatrix* required);
// Element count and the row slot used by the row-by-row readers.
int64_t amatRowEnd(const Amatrix* matrix);
int64_t amatRowSlot(const Amatrix* matrix, int64_t row);
// Stores value at (row, column) of the storage of matrix->type, converted to that type.
void amatStoreValue(const Amatrix* matrix, int64_t row, int64_t column, double value);

// Element (i, j) of a matrix being written: column-major storage or row pointers.
template <typename T>
struct amatColumns {
  const T* data;
  int32_t nrow;
  T at(int64_t i, int64_t j) const { return data[i + j * nrow]; }
};
template <typename T>
struct amatRows {
  T* const* rows;
  T at(int64_t i, int64_t j) const { return rows[i][j]; }
};

// ---- Row-wise writing ------------------------------------------------------------------------
// The messages of the record's row-wise matrix (rowName): a failed header or dimensions update
// ("... row-wise to file ..."), and a row (numbered from 1) that could not be written. Both 1.
int amatRowWiseError(const AmatWriteFile* file);
int amatRowWriteError(const AmatWriteFile* file, int32_t row);

// ---- Binary ----------------------------------------------------------------------------------
// Reads a header into current (nrow, ncol, the stored kind as type: integerMatrix, realMatrix,
// doubleMatrix or charMatrix) and the precision digit into file->pendingPrecision. Without a
// preset name current->name receives the stored name (heap); with one the stored name must equal
// it. 0, 2 (other name), 3 (end of file), 4.
int amatGetBinHeader(AmatReadFile* file, Amatrix* current, const char* presetName);
// Read the data of the header just read into matrix (its delivered type and prepared storage):
// stored int32, float32 or float64 values, converted to the delivered type on the way. 0 or 4.
int amatGetBinInteger(AmatReadFile* file, Amatrix* matrix);
int amatGetBinReal(AmatReadFile* file, Amatrix* matrix);
int amatGetBinDouble(AmatReadFile* file, Amatrix* matrix);
// Reads stored characters of the precision digit (0 one float64 each, 5 bytes) into row texts
// without their trailing white space (trim) or trailing NULs; ncol becomes the longest row. 0 or 4.
int amatGetBinChar(AmatReadFile* file, Amatrix* matrix, int precision, int trim);
// Reads the data of the header just read with the reader of its stored type.
int amatGetBinData(AmatReadFile* file, Amatrix* matrix, AmatType storedType, int trim);

int amatPutBinInteger(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const int32_t* data);
int amatPutBinReal(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const float* data);
int amatPutBinDouble(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const double* data);
int amatPutBinRealRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, float* const* rows);
int amatPutBinDoubleRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, double* const* rows);
int amatPutBinChar(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, char* const* rows, char pad);
// Starts the record's row-wise matrix (rowName, rowType, rowNcol): remembers its position in
// rowHeaderPos and writes its header with no rows, kept in file->header, and its name. 0, or 1
// with the row-wise message.
int amatPutRinitBin(AmatWriteFile* file);
// Writes file->header at file->rowHeaderPos, leaving the stream at the end: 0, or 1 with the
// row-wise message.
int amatPutRdimsBin(AmatWriteFile* file);

// ---- Text "#1" -------------------------------------------------------------------------------
// Skips white space and "#" comment lines: 0, 3 at the end of the file, 4 on a read error.
int amatSkipComments(AmatReadFile* file);
// Reads a declaration; current and the preset name as for amatGetBinHeader.
int amatGetTextHeader(AmatReadFile* file, Amatrix* current, const char* presetName);
int amatGetTextNumeric(AmatReadFile* file, Amatrix* matrix);
int amatGetTextChar(AmatReadFile* file, Amatrix* matrix);
// Reads the values or the row texts of the declaration just read with the reader of the delivered
// type (matrix->type): 0, 3 (end of file among the values) or 4.
int amatGetTextData(AmatReadFile* file, Amatrix* matrix);

// Row names (one text per row, or null) are written after each row's values: with
// nameColumn > 0 as a comment, otherwise directly.
int amatPutTextInteger(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const int32_t* data,
                       const char* comment, char* const* rowNames, int32_t nameColumn);
int amatPutTextReal(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const float* data,
                    const char* comment, char* const* rowNames, int32_t nameColumn);
int amatPutTextRealRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, float* const* rows,
                       const char* comment, char* const* rowNames, int32_t nameColumn);
int amatPutTextDouble(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, const double* data,
                      const char* comment, char* const* rowNames, int32_t nameColumn);
int amatPutTextDoubleRow(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, double* const* rows,
                         const char* comment, char* const* rowNames, int32_t nameColumn);
int amatPutTextChar(AmatWriteFile* file, const char* name, int32_t nrow, int32_t ncol, char* const* rows,
                    const char* comment);
// Starts the record's row-wise matrix: the type word and the name, then at rowHeaderPos the
// dimensions (0, rowNcol) with room for the row counts to come. 0, or 1 with the row-wise message.
int amatPutRinitText(AmatWriteFile* file);
// Appends one row of rowNcol values, counts it, brings the dimensions up to date and flushes: 0,
// or 1 with the row message when the values cannot be written.
int amatPutRrowText(AmatWriteFile* file, const float* row);
// Writes "(rows,ncol) " over the blank before the declared dimensions and returns to the end: 0,
// or 1 with the row-wise message.
int amatPutRdimsText(AmatWriteFile* file);
// The longest name the text reader accepts.
enum { amatTextNameLimit = 100 };
