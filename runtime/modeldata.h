// The contract between the FMI layer, the evaluation driver and the generated model: the codes
// they exchange, the two solver blocks they share and the per-instance ModelData record.
#pragma once

#include <cstddef>

// ---- Codes ---------------------------------------------------------------------------------

// What dsblock_ must compute, and the level reached.
enum DemandCode {
  demandInitialize = 0,
  demandOutputs = 1,
  demandDerivatives = 2,
  demandAll = 3,
  demandCrossings = 4,
  demandEvent = 5,
  demandTerminal = 7
};

// How the driver runs the event iteration of one call (ModelData.eventPhase).
enum EventPhase {
  eventPhaseSkipLevels = -1,      // level sections skipped in this pass; turned into 0 after it
  eventPhaseConverge = 0,         // iterate to convergence in this call
  eventPhaseStartExternal = 2,    // fresh iteration, one pass
  eventPhaseContinueExternal = 3, // one more pass, counter kept
  eventPhaseContinueConverge = 4, // counter kept, iterate to convergence
  eventPhasePlainPass = 5         // one pass without pass preparation
};

// The model's error code (18th argument of dsblock_).
enum QiErrCode {
  qiErrSuccess = 0,
  qiErrFailed = 1,
  qiErrSuccessFirst = -995,  // -995 ... -990 count as success
  qiErrSuccessLast = -990,
  qiErrHomotopySolved = -996,
  qiErrHomotopyRequested = -997,
  qiErrStopped = -998,
  qiErrTerminate = -999
};

// Bits of SolverInts[solverIntLogFlags].
enum LogFlags {
  logFlagEvents = 0x2,
  logFlagInitialization = 0x4,
  logFlagQuiet = 0x400
};

// ---- Solver blocks -------------------------------------------------------------------------

enum SolverRealIndex {
  solverRealInlineStepSize = 0,
  solverRealStepFraction = 1,
  solverRealNextTimeEvent = 2,
  solverRealTimeScale = 3,
  solverRealCount = 4
};

enum SolverIntIndex {
  solverIntMethod = 0,
  solverIntLogFlags = 1,
  solverIntUnused2 = 2,
  solverIntJacobianInProgress = 3,
  solverIntIntegratorNotSetUp = 4,  // cleared when the Co-Simulation integrator is set up
  solverIntInlineIntegration = 5,
  solverIntStepEvent = 6,
  solverIntUnused7 = 7,
  solverIntChangeCounter = 8,
  solverIntAllSections = 9,
  solverIntSkipInitialEquations = 10,
  solverIntCount = 11
};

// ---- Sizes of this model's tables ----------------------------------------------------------

enum ModelTableSizes {
  modelRelations = 5,           // nrel: relations that can cause state events
  modelCrossings = 2 * modelRelations,
  modelTimeEvents = 1,
  modelSamples = 1,             // capacity of the sample tables; this model has no samples
  modelStringSlots = 1,
  modelStringSlotSize = 500,
  modelWorkAreaSize = 10000,
  modelProfileCapacity = 64,
  modelProfileNameSize = 40,
  modelExternalObjectCapacity = 32,
  modelDataBytes = 881920
};

// One profiled block: timing of one block of the equations, in seconds.
struct BlockProfile {
  int calls;
  double longest;
  double shortest;
  double total;
  char name[modelProfileNameSize];
};

// An external object with the function that destroys it.
struct ExternalObjectSlot {
  void* object;
  void (*destructor)(void*);
};

// The model's data record: one per instance and per FMU state, copied from modelDataTemplate.
// It is copied and serialised as one block of modelDataSize bytes, pointers included, so the
// pointer fields must be re-pointed after every copy into a new owner.
struct ModelData {
  double* solverReals;
  int* solverInts;
  int eventPhase;
  int eventInCall;
  int inlineIntegration;
  double time;
  double startTime;
  double scaleLastTime;
  double scaleStepSize;
  double scaledStepSize;
  int allSections;
  int extraIteration;
  int iterationCounter;
  int iterationLimit;
  double relationEpsilon;
  int initialisationCall;
  int initialisationCount;
  int status;
  int iterateAgain;
  double lambda;
  double lambdaAtReduction;
  double lambdaStep;
  int homotopyUsed;
  int homotopyActive;
  double earliestTimeEvent;
  int blockProfileCount;
  BlockProfile blockProfiles[modelProfileCapacity];
  int timeEventStates[modelTimeEvents + 1];
  int relationEvaluated[modelRelations + 1];  // indexed 1 ... nrel
  int homotopyTriedAt;
  double sampleCounters[2 * modelSamples];
  int sampleActive[2 * modelSamples];
  int relationState[modelRelations + 1];  // indexed 1 ... nrel
  double relationValue[modelRelations + 1];  // indexed 0 ... nrel-1
  double relationSignedEps[modelRelations + 1];
  double relationOffset[modelRelations + 1];
  double relationNominal[modelRelations + 1];
  double previousCrossings[modelCrossings + 1];
  double crossingHistory1[modelCrossings + 1];
  double crossingCurrent[modelCrossings + 1];
  double crossingHistory2[modelCrossings + 1];
  double crossingHistory3[modelCrossings + 1];
  int initial;
  int eventNeeded;
  int keepParameterChange;
  int parametersChanged;
  ExternalObjectSlot externalObjects[modelExternalObjectCapacity];
  int lastParameterChange;
  int inDirectionalDerivative;
  // Hand-over of an analytic Jacobian (blocks A, B, C, D).
  double* jacobianA;
  double* jacobianB;
  double* jacobianC;
  double* jacobianD;
  int jacobianNx;
  int jacobianNu;
  int jacobianNy;
  double jacobianValue1;
  double jacobianValue2;
  double jacobianValue3;
  int jacobianFlag;
  int jacobianOutGiven;
  double workArea[modelWorkAreaSize];
  char stringSlots[modelStringSlots][modelStringSlotSize];
  char* stringTable[modelStringSlots];
  // Room for the work areas of models with more features; keeps the record at its fixed size.
  // (86,616 is the size of the fields above; the assertion below catches any change to them.)
  unsigned char reserve[modelDataBytes - 86616];
};

static_assert(sizeof(ModelData) == modelDataBytes, "ModelData must keep its fixed size");

// The part of the record that code writes. The reserve after it keeps what instantiation gave it
// (zeros), so copies between an instance and its states take only this part: a tenth of the
// record, which is what a host pays for taking a state before every step.
constexpr size_t modelDataLiveBytes = offsetof(ModelData, reserve);

// The static template every record starts from, and the record's size (defined by the model).
extern ModelData modelDataTemplate;
extern const int modelDataSize;

// ---- The model's entry points the driver calls --------------------------------------------

// One pass over the model's sections for the demand; same arguments as dsblock_.
int modelEquations(int* demand, int* levelReached, double* time, double* states, void* argument5,
                   double* inputs, double* parameters, void* argument8, void* argument9,
                   double* derivatives, double* outputs, double* auxiliaries, double* crossings,
                   double* solverReals, int* solverInts, void* strings, ModelData* modelData,
                   int* qiErr, int argument19);

void initializationHook(double* time, double* states, void* argument5, double* inputs,
                        double* parameters, void* argument8, void* argument9, double* derivatives,
                        double* outputs, double* auxiliaries, double* crossings, double* solverReals,
                        int* solverInts, void* strings, ModelData* modelData, int initial);

void resetModelFlags(ModelData* modelData);

void getDriverDimensions(int* nx, int* unused1, int* nu, int* ny, int* nw, int* np, int* unused6,
                         int* ncross, int* nrel, int* unused9, int* unused10);

// ---- Homotopy ------------------------------------------------------------------------------

// simplified * (1 - lambda) + actual * lambda, in that order; marks the model as using homotopy.
double Homotopy(double actual, double simplified, ModelData* modelData);

// Whether a QiErr value counts as success.
inline bool QiErrIsSuccess(int qiErr) {
  return qiErr == qiErrSuccess || (qiErr >= qiErrSuccessFirst && qiErr <= qiErrSuccessLast);
}
