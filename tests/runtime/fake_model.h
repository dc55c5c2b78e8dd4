// A scripted stand-in for the generated model, for driving dsblock_ along paths the real model
// never takes. Every pass records what the driver handed it, then runs the test's script.
#pragma once

#include <utility>
#include <vector>

#include "modeldata.h"

// What one pass saw on entry.
struct FakePassRecord {
  int demand;
  int levelReached;
  int initial;
  int allSections;
  int eventPhase;
  int iterationCounter;
  int logFlags;
  int eventNeeded;
  int iterateAgain;
  int keepParameterChange;
  int extraIteration;
  int parametersChanged;
  int homotopyActive;
  int qiErr;
  int relationEvaluated1;  // relationEvaluated[1]
  double lambda;
  double nextTimeEvent;  // SolverReals[2]
  int messagesBefore;    // runtime texts recorded before the pass (see FakeModel::messageCount)
};

// The pass as the script sees it.
struct FakePass {
  int number;  // 1-based, counted since FakeModelReset
  ModelData* m;
  int* demand;
  int* levelReached;
  int* qiErr;
  double* crossings;
  double* solverReals;
  int* solverInts;
};

typedef void (*FakeScript)(FakePass& pass);

struct FakeModel {
  FakeScript script = nullptr;
  int nx = 2;
  int ncross = 1;
  int nrel = 1;
  std::vector<FakePassRecord> passes;
  std::vector<std::pair<int, double>> initializationHooks;  // (last argument, lambda)
  int resetModelFlagsCalls = 0;
  int getDriverDimensionsCalls = 0;
  // When set, read before every pass to note how many runtime texts came before it.
  int (*messageCount)(void) = nullptr;
};

extern FakeModel fakeModel;

// Forgets everything recorded and installs the script (null: passes that do nothing) and the
// number of relations the model reports.
void FakeModelReset(FakeScript script = nullptr, int nrel = 1);
