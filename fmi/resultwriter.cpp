#include "resultwriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "amatput.h"
#include "model.h"

namespace {

// Texts the writer's tables point at; nothing writes through them and nothing releases them.
char defaultFileName[] = "dsres.mat";
char timeName[] = "Time";
char timeDescription[] = "Time in seconds";

constexpr int32_t dataMatrixCount = 2;
constexpr int32_t realPrecision = 0;  // float32 data matrices
constexpr int32_t streamedMatrix = 1;  // data_1 whole, data_2 row by row
constexpr int32_t binaryFormat = 1;
constexpr int32_t rowCounterWrap = 10;

// The writer's fatal conditions: the text goes to the standard error stream as it stands, and
// the request fails instead of ending the host's process.
int fail(const char* text) {
  fputs(text, stderr);
  return 1;
}

void* zeroed(size_t count, size_t size) { return calloc(count > 0 ? count : 1, size); }

struct Counts {
  int nx, nu, ny, nw, np;
};

Counts modelCounts() {
  Counts c{};
  getModelDimensions(&c.nx, nullptr, &c.nu, &c.ny, &c.nw, &c.np, nullptr, nullptr, nullptr);
  return c;
}

void bindIndexArrays(ResultWriter* w) {
  w->indexArraysRef = w->indexArrays;
  memcpy(w->boundIndexArrays, w->indexArrays, sizeof w->boundIndexArrays);
}

void unbind(ResultWriter* w) {
  memset(w->boundIndexArrays, 0, sizeof w->boundIndexArrays);
  memset(w->boundValueArrays, 0, sizeof w->boundValueArrays);
  w->currentRow = nullptr;
}

void bindRow(ResultWriter* w, float* row, double time, const double* const values[resultKindCount]) {
  bindIndexArrays(w);
  w->currentRow = row;
  row[0] = static_cast<float>(time);
  for (int k = 0; k < resultKindCount; ++k) w->boundValueArrays[k] = values[k];
}

int allocateFlags(ResultWriter* w) {
  *w = ResultWriter{};
  Counts c = modelCounts();
  w->auxiliaryFlags = static_cast<uint8_t*>(zeroed(c.nw, 1));
  w->stateFlags = static_cast<uint8_t*>(zeroed(c.nx, 1));
  w->derivativeFlags = static_cast<uint8_t*>(zeroed(c.nx, 1));
  w->parameterFlags = static_cast<uint8_t*>(zeroed(c.np, 1));
  if (!w->auxiliaryFlags || !w->stateFlags || !w->derivativeFlags || !w->parameterFlags) return fail("Out of memory");
  return 0;
}

int setDefaults(ResultWriter* w) {
  w->fileName = defaultFileName;
  w->fileOpen = 0;
  w->matricesAllocated = 0;
  w->data1SignalCount = 0;
  w->aliasSignalCount = 0;
  w->data2SignalCount = 0;
  Counts c = modelCounts();
  const int counts[resultKindCount] = {0, c.np, c.nx, c.nx, c.ny, c.nu, c.nw};
  bool complete = true;
  for (int k = resultParameters; k < resultKindCount; ++k) {
    if (!w->indexArrays[k]) w->indexArrays[k] = static_cast<int32_t*>(zeroed(counts[k], sizeof(int32_t)));
    complete = complete && w->indexArrays[k];
  }
  bindIndexArrays(w);
  return complete ? 0 : fail("Out of memory");
}

int declareMatrices(ResultWriter* w) {
  if (w->matricesAllocated || w->data1SignalCount < 0 || w->aliasSignalCount < 0 || w->data2SignalCount < 0)
    return fail("Internal error");
  int64_t signals = int64_t{w->data1SignalCount} + w->aliasSignalCount + w->data2SignalCount + 1;
  if (signals > INT32_MAX / 4) return fail("Out of memory");
  if (atrajInit(&w->trajectory, dataMatrixCount, realPrecision) != 0) return fail("Out of memory");
  w->signalCount = static_cast<int32_t>(signals);
  w->signalNames = static_cast<char**>(zeroed(w->signalCount, sizeof(char*)));
  w->signalDescriptions = static_cast<char**>(zeroed(w->signalCount, sizeof(char*)));
  w->signalDataInfo = static_cast<int32_t*>(zeroed(4 * static_cast<size_t>(w->signalCount), sizeof(int32_t)));
  int32_t data1Columns = w->data1SignalCount + 1, data2Columns = w->data2SignalCount + 1;
  w->data1Storage = static_cast<float*>(zeroed(2 * static_cast<size_t>(data1Columns), sizeof(float)));
  w->data2Row = static_cast<float*>(zeroed(data2Columns, sizeof(float)));
  if (!w->signalNames || !w->signalDescriptions || !w->signalDataInfo || !w->data1Storage || !w->data2Row)
    return fail("Out of memory");
  // The matrices keep the names atrajInit gave them.
  AtrajObject& t = w->trajectory;
  amatSetMatrix(t.nameMatrix.name, w->signalCount, 0, charMatrix, w->signalNames, &t.nameMatrix);
  amatSetMatrix(t.descriptionMatrix.name, w->signalCount, 0, charMatrix, w->signalDescriptions,
                &t.descriptionMatrix);
  amatSetMatrix(t.dataInfoMatrix.name, w->signalCount, 4, integerMatrix, w->signalDataInfo, &t.dataInfoMatrix);
  amatSetMatrix(t.dataMatrices[0].name, 2, data1Columns, realMatrix, w->data1Storage, &t.dataMatrices[0]);
  amatSetMatrix(t.dataMatrices[1].name, 1, data2Columns, realMatrix, w->data2Row, &t.dataMatrices[1]);
  w->matricesAllocated = 1;
  return 0;
}

int declareTime(ResultWriter* w) {
  if (!w->matricesAllocated) return fail("Internal error");
  bindIndexArrays(w);
  w->signalNames[0] = timeName;
  w->signalDescriptions[0] = timeDescription;
  // The abscissa of every data matrix, column 1, linear, undefined outside the time range.
  const int32_t timeInfo[4] = {0, 1, 0, -1};
  for (int j = 0; j < 4; ++j) w->signalDataInfo[j * w->signalCount] = timeInfo[j];
  w->declaredCount = 1;
  w->nameTable = w->signalNames;
  w->descriptionTable = w->signalDescriptions;
  w->dataInfoTable = w->signalDataInfo;
  return 0;
}

int openFile(ResultWriter* w, double time, double secondTime) {
  unbind(w);
  if (!w->matricesAllocated || w->fileOpen) return fail("Internal error");
  w->data1Storage[1] = static_cast<float>(secondTime);
  if (!w->fileName) return fail("Result file path is NULL");
  if (atrajPutOpen(w->fileName, &w->trajectory, streamedMatrix, binaryFormat, &w->file) != 0) {
    fprintf(stderr, "Failed to open result %s", w->fileName);
    return 1;
  }
  w->startTime = time;
  w->fileOpen = 1;
  w->rowCounter = 0;
  return 0;
}

int writeRow(ResultWriter* w) {
  unbind(w);
  if (!w->fileOpen) return fail("Internal error");
  w->rowCounter = w->rowCounter + 1 > rowCounterWrap ? 0 : w->rowCounter + 1;
  if (atrajPutRow(&w->file, w->data2Row) != 0) return 1;
  // The row writer reports its own write only; a row lost in the flush after it shows in the
  // stream's error indicator, and the header must not count it when the file is closed.
  if (ferror(w->file.stream)) {
    w->file.header[2] -= 1;
    return 1;
  }
  return 0;
}

// Every table the writer made, each once: the signal tables but not their strings, the
// trajectory's names and records, the row buffers unless closing the file has released them.
int closeAndRelease(ResultWriter* w) {
  int result = 0;
  AtrajObject& t = w->trajectory;
  if (w->fileOpen) {
    result = atrajPutClose(&w->file, &t, streamedMatrix);
    w->fileOpen = 0;
    if (t.dataMatrices && !t.dataMatrices[0].data) w->data1Storage = nullptr;
    if (t.dataMatrices && !t.dataMatrices[1].data) w->data2Row = nullptr;
  }
  free(t.description);
  free(t.nameMatrix.name);
  free(t.descriptionMatrix.name);
  free(t.dataInfoMatrix.name);
  for (int32_t i = 0; t.dataMatrices && i < t.nData; ++i) free(t.dataMatrices[i].name);
  free(t.dataMatrices);
  t = AtrajObject{};
  free(w->signalNames);
  free(w->signalDescriptions);
  free(w->signalDataInfo);
  free(w->data1Storage);
  free(w->data2Row);
  w->signalNames = w->signalDescriptions = nullptr;
  w->signalDataInfo = nullptr;
  w->data1Storage = w->data2Row = nullptr;
  for (int32_t*& table : w->indexArrays) {
    free(table);
    table = nullptr;
  }
  for (uint8_t** flags : {&w->auxiliaryFlags, &w->stateFlags, &w->derivativeFlags, &w->parameterFlags}) {
    free(*flags);
    *flags = nullptr;
  }
  unbind(w);
  memset(w->boundIndexArrays, 0, sizeof w->boundIndexArrays);
  w->indexArraysRef = nullptr;
  w->nameTable = w->descriptionTable = nullptr;
  w->dataInfoTable = nullptr;
  w->signalCount = 0;
  w->matricesAllocated = 0;
  w->lastRequest = resultRequestNone;
  return result;
}

}  // namespace

int resultFileRequest(int32_t request, ResultWriter* writer, double time, double secondTime, const double* p,
                      const double* x, const double* dx, const double* y, const double* u, const double* w) {
  if (!writer) return 0;
  writer->lastRequest = request;
  const double* const values[resultKindCount] = {nullptr, p, x, dx, y, u, w};
  switch (request) {
    case resultRequestAllocate:
      return allocateFlags(writer);
    case resultRequestDefaults:
      return setDefaults(writer);
    case resultRequestDeclare:
      return declareMatrices(writer);
    case resultRequestTime:
      return declareTime(writer);
    case resultRequestCheck:
      return writer->matricesAllocated && writer->declaredCount == writer->signalCount ? 0 : fail("Internal error");
    case resultRequestParameterRow:
      if (!writer->matricesAllocated) return fail("Internal error");
      bindRow(writer, writer->data1Storage, time, values);
      return 0;
    case resultRequestOpen:
      return openFile(writer, time, secondTime);
    case resultRequestSampleRow:
      if (!writer->matricesAllocated) return fail("Internal error");
      bindRow(writer, writer->data2Row, time, values);
      return 0;
    case resultRequestWriteRow:
      return writeRow(writer);
    case resultRequestClose:
      return closeAndRelease(writer);
    default:
      return 0;
  }
}

int resultFileSetup(ResultWriter* writer) {
  if (resultFileRequest(resultRequestAllocate, writer, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
    return 1;
  declareVariables(nullptr, nullptr, nullptr, nullptr, nullptr, 0, writer);
  if (resultFileRequest(resultRequestDefaults, writer, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
    return 1;
  declareVariables(nullptr, nullptr, nullptr, nullptr, nullptr, 0, writer);
  return resultFileRequest(resultRequestDeclare, writer, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

int resultFileStart(ResultWriter* writer, double time, double secondTime, double* p, double* x, const double* dx,
                    const double* y, const double* u, const double* w) {
  if (resultFileRequest(resultRequestTime, writer, time, secondTime, p, x, dx, y, u, w)) return 1;
  declareVariables(x, p, nullptr, nullptr, nullptr, 0, writer);
  if (resultFileRequest(resultRequestCheck, writer, time, secondTime, p, x, dx, y, u, w) ||
      resultFileRequest(resultRequestParameterRow, writer, time, secondTime, p, x, dx, y, u, w))
    return 1;
  declareVariables(x, p, nullptr, nullptr, nullptr, 0, writer);
  return resultFileRequest(resultRequestOpen, writer, time, secondTime, p, x, dx, y, u, w);
}
