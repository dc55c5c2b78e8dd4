#include "atraj.h"

#include <stdlib.h>
#include <string.h>

#include "amatput.h"
#include "clocale.h"

namespace {

// Written before "dataInfo" in text files; the writer ends it with a newline.
const char dataInfoComment[] =
    "\n"
    "# Matrix with 4 columns defining the data of the signals:\n"
    "#\n"
    "# dataInfo(i,1)=    j: name i data is stored in matrix \"data_j\".\n"
    "#                      (1,1)=0 means that name(1) is the abscissa of\n"
    "#                      all data matrices.\n"
    "#\n"
    "# dataInfo(i,2)=    k: name i data is stored in column abs(k) of matrix\n"
    "#                      data_j, and the sign of k is used as its sign.\n"
    "#\n"
    "# dataInfo(i,3)=    0: Linear interpolation of the column data\n"
    "#              = 1..4: Piecewise convex hermite spline interpolation\n"
    "#                      of the column data; the curve is differentiable up\n"
    "#                      to order 1..4. The spline is defined by a polygon\n"
    "#                      which it touches in the middle of every segment and\n"
    "#                      at the first and the last point. Between such points\n"
    "#                      the spline is convex and the polygon is its convex\n"
    "#                      envelope.\n"
    "#\n"
    "# dataInfo(i,4)=   -1: name i is not defined outside of the defined time range\n"
    "#              =    0: Keep first/last value outside of time range\n"
    "#              =    1: Linear interpolation through first/last two points outside\n"
    "#                      of the defined time range.\n"
    "#";

int NullPointer() {
  amatSetMessage("Unexpected null-pointer");
  return 1;
}

int NoStorage() {
  amatSetMessage("Not possible to allocate enough storage for a trajectory:\n%.400s\n", amatSystemError());
  return 1;
}

int Negative(const char* argument, int32_t value, const char* function) {
  amatSetMessage("Input argument %.400s=%d of function %.400s must be >= 0.\n", argument, value, function);
  return 1;
}

bool NameMatrix(Amatrix* m, const char* name, AmatType type, int32_t ncol) {
  char* copy = amatCopyText(name);
  amatSetMatrix(copy, 0, ncol, type, nullptr, m);
  return copy != nullptr;
}

// The data matrix type of a precision code, voidMatrix for a code outside 0 ... 3.
AmatType PrecisionType(int32_t precision) {
  static const AmatType types[] = {realMatrix, doubleMatrix, realRowMatrix, doubleRowMatrix};
  return precision >= 0 && precision <= 3 ? types[precision] : voidMatrix;
}

// Fails after the file was opened: the file is closed, its failure message kept.
int CloseFailed(AmatWriteFile* file) {
  char message[amatMessageSize];
  memcpy(message, amatMessage, sizeof message);
  amatPutClose(file);
  memcpy(amatMessage, message, sizeof message);
  return 1;
}

}  // namespace

int atrajInit(AtrajObject* traj, int32_t nData, int32_t precision) {
  if (!traj) return 0;
  *traj = AtrajObject{};
  traj->version = 201;
  amatInitMatrix(&traj->nameMatrix);
  amatInitMatrix(&traj->descriptionMatrix);
  amatInitMatrix(&traj->dataInfoMatrix);
  if (nData < 0) return Negative("nData", nData, "atrajInit");
  if (!NameMatrix(&traj->nameMatrix, "name", charMatrix, 0) ||
      !NameMatrix(&traj->descriptionMatrix, "description", charMatrix, 0) ||
      !NameMatrix(&traj->dataInfoMatrix, "dataInfo", integerMatrix, 4)) {
    NoStorage();
    atrajFree(traj);
    return 1;
  }
  if (atrajResize(traj, nData, precision) != 0) {
    atrajFree(traj);
    return 1;
  }
  return 0;
}

int atrajResize(AtrajObject* traj, int32_t nDataNew, int32_t precision) {
  if (!traj) return NullPointer();
  if (nDataNew == 0) return 0;
  if (nDataNew < 0) return Negative("nDataNew", nDataNew, "atrajResize");
  if (traj->nData != 0) {
    amatSetMessage("traj->nData (=%d) of function %.400s must be zero.\n", traj->nData, "atrajResize");
    return 1;
  }
  AmatType type = PrecisionType(precision);
  if (type == voidMatrix) {
    amatSetMessage(
        "Input argument %.400s=%d of function %.400s must be 0 (realMatrix), 1 (doubleMatrix), 2 (realRowMatrix) "
        "or 3 (doubleRowMatrix).\n",
        "precision", precision, "atrajResize");
    return 1;
  }
  Amatrix* matrices = static_cast<Amatrix*>(calloc(static_cast<size_t>(nDataNew), sizeof(Amatrix)));
  if (!matrices) return NoStorage();
  traj->dataMatrices = matrices;
  traj->nData = nDataNew;
  for (int32_t i = 0; i < nDataNew; ++i) amatSetMatrix(nullptr, 0, 0, type, nullptr, &matrices[i]);
  for (int32_t i = 0; i < nDataNew; ++i) {
    char name[24];
    sprintf_c(name, "data_%d", i + 1);
    matrices[i].name = amatCopyText(name);
    if (!matrices[i].name) return NoStorage();
  }
  return 0;
}

void atrajFree(AtrajObject* traj) {
  if (!traj) return;
  free(traj->description);
  traj->description = nullptr;
  amatFreeMatrix(&traj->nameMatrix);
  amatFreeMatrix(&traj->descriptionMatrix);
  amatFreeMatrix(&traj->dataInfoMatrix);
  if (traj->evaluation) {
    free(traj->evaluation->buffer1);
    free(traj->evaluation->buffer2);
    free(traj->evaluation);
    traj->evaluation = nullptr;
  }
  if (traj->dataMatrices) {
    for (int32_t i = 0; i < traj->nData; ++i) amatFreeMatrix(&traj->dataMatrices[i]);
    free(traj->dataMatrices);
  }
  traj->nData = 0;
  traj->dataMatrices = nullptr;
}

int atrajPutOpen(const char* fileName, AtrajObject* traj, int32_t rowIndex, int32_t format, AmatWriteFile* file) {
  if (!traj || !file) return NullPointer();
  if (amatPutOpen(fileName, format, rowIndex >= 0 ? 1 : 0, "Atrajectory", "1.1", traj->description, file) != 0)
    return 1;
  // The signal names label the dataInfo rows of a text file; a name table shorter than dataInfo
  // labels none rather than reading past its end.
  char* const* rowNames = traj->nameMatrix.nrow >= traj->dataInfoMatrix.nrow
                              ? static_cast<char* const*>(traj->nameMatrix.data)
                              : nullptr;
  if (amatPutMatrix(file, traj->nameMatrix) != 0 || amatPutMatrix(file, traj->descriptionMatrix) != 0 ||
      amatPutMatrixComment(file, traj->dataInfoMatrix, dataInfoComment, rowNames, 4) != 0)
    return CloseFailed(file);
  bool streamed = rowIndex >= 0 && rowIndex < traj->nData;
  int32_t whole = streamed ? rowIndex : traj->nData;
  for (int32_t i = 0; i < whole; ++i)
    if (amatPutMatrix(file, traj->dataMatrices[i]) != 0) return CloseFailed(file);
  if (!streamed) return amatPutCloseChecked(file);
  const Amatrix& rows = traj->dataMatrices[rowIndex];
  if (amatPutRinit(file, rows.name, rows.ncol, rows.type) != 0) return CloseFailed(file);
  return 0;
}

int atrajPutRow(AmatWriteFile* file, const float* row) { return amatPutRrow(file, row); }

int atrajPutClose(AmatWriteFile* file, AtrajObject* traj, int32_t rowIndex) {
  if (!traj) {
    NullPointer();
    return CloseFailed(file);
  }
  // Only the row index of a streaming atrajPutOpen names a matrix that was started row-wise.
  if (rowIndex < 0 || rowIndex >= traj->nData) {
    amatSetMessage("Input argument %.400s=%d of function %.400s must be >= 0 and < traj->nData (=%d).\n",
                   "rowIndex", rowIndex, "atrajPutClose", traj->nData);
    return CloseFailed(file);
  }
  if (amatPutRclose(file) != 0) return CloseFailed(file);
  for (int32_t i = rowIndex + 1; i < traj->nData; ++i)
    if (amatPutMatrix(file, traj->dataMatrices[i]) != 0) return CloseFailed(file);
  for (int32_t i = 0; i <= rowIndex; ++i) {
    Amatrix* m = &traj->dataMatrices[i];
    char* name = m->name;
    m->name = nullptr;
    amatFreeMatrix(m);
    m->name = name;
  }
  return amatPutCloseChecked(file);
}
