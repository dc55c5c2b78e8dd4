// Trajectories: signals over time, kept in an AtrajObject and written as a matrix file of class
// "Atrajectory", version "1.1": the class matrix, "name" and "description" (one row per signal),
// "dataInfo" (int32, one row of 4 per signal: data matrix, signed column, interpolation,
// extrapolation) and the data matrices "data_1" ... "data_n". One data matrix may be written row
// by row while a simulation runs. Messages go to amatMessage.
#pragma once

#include <stdint.h>

#include "amat.h"

extern "C" {

// Buffers of trajectory evaluation; nothing here creates one, atrajFree releases it.
struct AtrajEvaluation {
  void* buffer1;  // heap or null
  void* buffer2;  // heap or null
};

struct AtrajObject {
  char* description;  // heap or null (written as " "); owned
  int32_t nData;
  Amatrix nameMatrix;         // "name", charMatrix
  Amatrix descriptionMatrix;  // "description", charMatrix
  Amatrix dataInfoMatrix;     // "dataInfo", integerMatrix with 4 columns
  Amatrix* dataMatrices;      // nData records "data_1" ... "data_<nData>"
  AtrajEvaluation* evaluation;
  int32_t version;  // 201 after atrajInit
};

// Precision codes of the data matrices: 0 realMatrix, 1 doubleMatrix, 2 realRowMatrix,
// 3 doubleRowMatrix; other codes are refused.

// Clears the trajectory, names the signal matrices and makes nData named data matrices of the
// precision: 0 ready, 1 failed (the trajectory is then empty). A null trajectory: 0.
int atrajInit(AtrajObject* traj, int32_t nData, int32_t precision);
// Makes nDataNew named data matrices in a trajectory that has none: 0 (also for nDataNew 0, which
// changes nothing), 1 failed.
int atrajResize(AtrajObject* traj, int32_t nDataNew, int32_t precision);
// Releases everything the trajectory holds, the signal tables and data included, with free:
// all of it must come from the C heap.
void atrajFree(AtrajObject* traj);

// Creates the file (format 0 text, 1 binary) and writes the class matrix, the signal matrices and
// data matrices 1 ... min(nData, rowIndex). With 0 <= rowIndex < nData, data matrix rowIndex+1 is
// then started row-wise (atrajPutRow, atrajPutClose); otherwise every data matrix is written and
// the file closed. A negative rowIndex stores the matrices untransposed. 0, or 1 with the file
// closed.
int atrajPutOpen(const char* fileName, AtrajObject* traj, int32_t rowIndex, int32_t format, AmatWriteFile* file);
// One row of the row-wise data matrix: its ncol float32 values. As amatPutRrow.
int atrajPutRow(AmatWriteFile* file, const float* row);
// Ends the row-wise matrix, writes the data matrices after it and closes the file. The data of
// data matrices 1 ... rowIndex+1 are then released (storage the user supplied included); their
// records keep only their names. 0, or 1 with the file closed.
int atrajPutClose(AmatWriteFile* file, AtrajObject* traj, int32_t rowIndex);

}  // extern "C"
