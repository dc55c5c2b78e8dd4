#include "globalcontext.h"

GlobalContext globalContext = {nullptr, nullptr, "?????", 0, nullptr, nullptr, nullptr};

void SetContextRecords(double* solverReals, int* solverInts) {
  globalContext.registeredSolverReals = solverReals;
  globalContext.registeredSolverInts = solverInts;
}

void UnregisterContextRecords(const double* solverReals, const int* solverInts) {
  if (solverReals && globalContext.registeredSolverReals == solverReals)
    globalContext.registeredSolverReals = nullptr;
  if (solverInts && globalContext.registeredSolverInts == solverInts)
    globalContext.registeredSolverInts = nullptr;
}

double* GetSolverReals(void) { return globalContext.registeredSolverReals; }

int* GetSolverInts(void) { return globalContext.registeredSolverInts; }

double* GetModelSolverReals(ModelData* modelData) {
  return modelData && modelData->solverReals ? modelData->solverReals : GetSolverReals();
}

int GetLogFlags(void) {
  const int* solverInts = GetSolverInts();
  return solverInts ? solverInts[solverIntLogFlags] : 0;
}
