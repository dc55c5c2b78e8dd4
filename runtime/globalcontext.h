// The runtime's one process-wide record: the outlets of its message sink and the solver blocks
// of the newest instance, whose LogFlags decide the quiet error report and the event log for every
// instance of the process. Unguarded: evaluations of different instances must not overlap. The
// delay tables and the event-log state are kept by their own components.
#pragma once

#include <cstdint>
#include <cstdio>

#include "modeldata.h"

// Takes every text of the message sink when set; type 0 information, 1 warning, 2 error.
typedef void (*ContextMessageCallback)(int type, const char* text);

struct GlobalContext {
  FILE* infoStream;             // information texts of the sink
  FILE* warningStream;          // warning and error texts of the sink
  const char* messageSourceName;  // name in the sink's headers and line prefixes
  int32_t linePrefix;           // nonzero: the sink prefixes every line with the name
  double* registeredSolverReals;  // SolverReals of the newest instance; null when none
  int* registeredSolverInts;      // SolverInts of the newest instance; null when none
  ContextMessageCallback messageCallback;
};

extern GlobalContext globalContext;

// Registers the blocks of a new instance: the newest instance wins.
void SetContextRecords(double* solverReals, int* solverInts);
// What releasing an instance does: the registration it owns is cleared, so no one reads the
// released blocks (another instance's registration stays).
void UnregisterContextRecords(const double* solverReals, const int* solverInts);

double* GetSolverReals(void);
int* GetSolverInts(void);
// The record's solverReals; the registered ones when the record or its pointer is null.
double* GetModelSolverReals(ModelData* modelData);
// LogFlags of the registered SolverInts; 0 when none are registered.
int GetLogFlags(void);
