// The scripted model's entry points, in place of the generated model's.
#include "fake_model.h"

FakeModel fakeModel;

void FakeModelReset(FakeScript script, int nrel) {
  fakeModel = FakeModel();
  fakeModel.script = script;
  fakeModel.nrel = nrel;
  fakeModel.ncross = nrel;
}

int modelEquations(int* demand, int* levelReached, double* /*time*/, double* /*states*/,
                   void* /*argument5*/, double* /*inputs*/, double* /*parameters*/,
                   void* /*argument8*/, void* /*argument9*/, double* /*derivatives*/,
                   double* /*outputs*/, double* /*auxiliaries*/, double* crossings,
                   double* solverReals, int* solverInts, void* /*strings*/, ModelData* m,
                   int* qiErr, int /*argument19*/) {
  FakePassRecord record = {*demand,
                           *levelReached,
                           m->initial,
                           m->allSections,
                           m->eventPhase,
                           m->iterationCounter,
                           solverInts[solverIntLogFlags],
                           m->eventNeeded,
                           m->iterateAgain,
                           m->keepParameterChange,
                           m->extraIteration,
                           m->parametersChanged,
                           m->homotopyActive,
                           *qiErr,
                           m->relationEvaluated[1],
                           m->lambda,
                           solverReals[solverRealNextTimeEvent],
                           fakeModel.messageCount ? fakeModel.messageCount() : 0};
  fakeModel.passes.push_back(record);
  FakePass pass = {static_cast<int>(fakeModel.passes.size()),
                   m,
                   demand,
                   levelReached,
                   qiErr,
                   crossings,
                   solverReals,
                   solverInts};
  if (fakeModel.script) fakeModel.script(pass);
  // As the generated model does: a status set during the pass becomes the pass's error code.
  if (m->status != 0) *qiErr = m->status;
  return 0;
}

void initializationHook(double* /*time*/, double* /*states*/, void* /*argument5*/,
                        double* /*inputs*/, double* /*parameters*/, void* /*argument8*/,
                        void* /*argument9*/, double* /*derivatives*/, double* /*outputs*/,
                        double* /*auxiliaries*/, double* /*crossings*/, double* /*solverReals*/,
                        int* /*solverInts*/, void* /*strings*/, ModelData* m, int initial) {
  fakeModel.initializationHooks.push_back({initial, m->lambda});
}

void resetModelFlags(ModelData* /*m*/) { ++fakeModel.resetModelFlagsCalls; }

void getDriverDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* unused6,
                         int* ncross, int* nrel, int* unused9, int* unused10) {
  ++fakeModel.getDriverDimensionsCalls;
  *nx = fakeModel.nx;
  *unused1 = 0;
  *nu = 0;
  *ny = 0;
  *nw = 0;
  *np = 0;
  *unused6 = 0;
  *ncross = fakeModel.ncross;
  *nrel = fakeModel.nrel;
  *unused9 = 0;
  *unused10 = 0;
}
