// The result-file writer: a trajectory of class "Atrajectory" whose signals the model's declaration
// routine counts, names and fills in between the writer's requests. Signal 1 is "Time"; "data_1"
// holds two rows that do not change over the run, "data_2" grows by one row per written sample,
// all as float32, written row by row into a MAT-file version 4 file.
//
// Requests, in the order a run makes them: 11, 1, 2 (resultFileSetup), then 3 to 6
// (resultFileStart: declared and open), pairs 7 and 8 per written sample, 9 (closed and
// released). Between requests the declaration routine reads and writes the fields under
// "shared with the declaration routine".
#pragma once

#include <cstdint>

#include "amat.h"
#include "atraj.h"

enum ResultRequest : int32_t {
  resultRequestNone = 0,           // also 10, negative codes and codes above 11
  resultRequestDefaults = 1,       // default file name, counts cleared, index tables made
  resultRequestDeclare = 2,        // the trajectory sized from the three signal counts
  resultRequestTime = 3,           // signal 1 "Time"; the tables handed to the declaration routine
  resultRequestCheck = 4,          // every counted signal declared
  resultRequestParameterRow = 5,   // data_1 row 1 bound to the value arrays
  resultRequestOpen = 6,           // the file created, the header matrices and data_1 written
  resultRequestSampleRow = 7,      // the data_2 row bound to one sample's value arrays
  resultRequestWriteRow = 8,       // the data_2 row appended to the file
  resultRequestClose = 9,          // the file closed and the writer's storage released
  resultRequestAllocate = 11,      // the writer cleared, the flag tables made
};

// The six kinds of values behind each signal, with the time first, as the index and value
// tables are ordered.
enum ResultValueKind {
  resultTime = 0,
  resultParameters,
  resultStates,
  resultDerivatives,
  resultOutputs,
  resultInputs,
  resultAuxiliaries,
  resultKindCount
};

// Part of the instance's result buffer; all zero before request 11. The tables, row buffers and
// the trajectory's records come from the C heap; the signal names and descriptions belong to
// the declaration routine and are never copied or released here.
struct ResultWriter {
  AtrajObject trajectory;      // "name", "description", "dataInfo", "data_1", "data_2"
  char** signalNames;          // [signalCount] the data of "name"
  char** signalDescriptions;   // [signalCount] the data of "description"
  int32_t* signalDataInfo;     // [signalCount x 4] column-major, the data of "dataInfo"
  float* data1Storage;         // [2 x (data1SignalCount + 1)] column-major, the data of "data_1"
  float* data2Row;             // [data2SignalCount + 1] the row of "data_2" being assembled
  int32_t signalCount;         // data1SignalCount + aliasSignalCount + data2SignalCount + 1
  int32_t* indexArrays[resultKindCount];  // none for the time, one int32 per variable of each kind
  char* fileName;              // a constant default until the owner sets its own
  AmatWriteFile file;
  int32_t fileOpen;
  int32_t matricesAllocated;   // the trajectory, its tables and row buffers exist
  double startTime;            // the time request 6 was given
  int32_t rowCounter;          // rows since request 6, counted 0 ... 10 and round again
  int32_t lastRequest;         // the request in progress

  // ---- shared with the declaration routine ----
  int32_t data1SignalCount;    // signals with a column in data_1
  int32_t aliasSignalCount;    // signals with a name and a dataInfo row but no column
  int32_t data2SignalCount;    // signals with a column in data_2
  int32_t* boundIndexArrays[resultKindCount];  // set by requests 1, 3, 5 and 7, cleared by 6 and 8
  int32_t** indexArraysRef;                    // indexArrays, set by requests 1, 3, 5 and 7
  float* currentRow;           // data1Storage in request 5, data2Row in request 7, else none
  const double* boundValueArrays[resultKindCount];  // set by requests 5 and 7, cleared by 6 and 8
  char** nameTable;            // signalNames, set by request 3
  char** descriptionTable;     // signalDescriptions, set by request 3
  int32_t* dataInfoTable;      // signalDataInfo, set by request 3
  int32_t declaredCount;       // signals declared so far
  uint8_t* auxiliaryFlags;     // one zero byte per variable of the kind, for the declaration routine
  uint8_t* stateFlags;
  uint8_t* derivativeFlags;
  uint8_t* parameterFlags;
};

// Carries out one request; a null writer does nothing. 0 done; 1 failed, after a text on the
// standard error stream ("Out of memory", "Internal error", "Result file path is NULL", "Failed
// to open result <name>", each without a newline; a failed row or close has its text in
// amatMessage instead). A failed request leaves the writer for request 9 to release.
int resultFileRequest(int32_t request, ResultWriter* writer, double time, double secondTime, const double* p,
                      const double* x, const double* dx, const double* y, const double* u, const double* w);

// Requests 11, 1 and 2 with the declaration routine between them: the signals counted and the
// trajectory sized. 0 or 1.
int resultFileSetup(ResultWriter* writer);

// Requests 3 to 6 with the declaration routine after 3 and 5: the signals declared, the file
// created with data_1 rows at `time` and `secondTime`, data_2 open for rows. The declaration
// routine is given x and p to write into (this model's routine writes its start values there),
// so the caller passes copies it can spare. 0 or 1.
int resultFileStart(ResultWriter* writer, double time, double secondTime, double* p, double* x, const double* dx,
                    const double* y, const double* u, const double* w);
