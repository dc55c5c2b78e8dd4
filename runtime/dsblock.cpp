// The evaluation driver dsblock_.
//
// A pass is one call of modelEquations; a counted pass is one that the iteration counter counts;
// an all-sections call is one in which allSections is set. The letters in the comments name the
// stages of a call: B pass preparation, A start of a counted pass, P the pass with its homotopy
// step, E end of pass, D iteration decision, F finish.
#include "dsblock.h"

#include <cmath>

#include "delays.h"
#include "errorjump.h"
#include "messages.h"
#include "relations.h"
#include "saturate.h"
#include "threadblock.h"
#include "timeevents.h"

namespace {

// The model's dimensions as the driver keeps them, process-wide: fetched on first use and at
// every initialisation.
struct DriverDimensions {
  int nx, unused1, nu, ny, nw, np, unused6, ncross, nrel, unused9, unused10;
};
DriverDimensions dimensions;
int dimensionsKnown;

void refreshDimensions(void) {
  DriverDimensions& d = dimensions;
  getDriverDimensions(&d.nx, &d.unused1, &d.nu, &d.ny, &d.nw, &d.np, &d.unused6, &d.ncross, &d.nrel,
                      &d.unused9, &d.unused10);
  dimensionsKnown = 1;
}

// A count that indexes the record's per-relation tables, held to their capacity.
int tableCount(int n) { return n < 0 ? 0 : (n > modelRelations ? modelRelations : n); }

const double noTimeEvent = 1e100;
const int initialIterationLimit = 25;
const double initialRelationEpsilon = 1e-10;

// The 19 arguments of one call.
struct Call {
  int* demand;
  int* levelReached;
  double* time;
  double* states;
  void* argument5;
  double* inputs;
  double* parameters;
  void* argument8;
  void* argument9;
  double* derivatives;
  double* outputs;
  double* auxiliaries;
  double* crossings;
  double* solverReals;
  int* solverInts;
  void* strings;
  ModelData* m;
  int* qiErr;
  int argument19;
};

void runPass(const Call& c) {
  modelEquations(c.demand, c.levelReached, c.time, c.states, c.argument5, c.inputs, c.parameters,
                 c.argument8, c.argument9, c.derivatives, c.outputs, c.auxiliaries, c.crossings,
                 c.solverReals, c.solverInts, c.strings, c.m, c.qiErr, c.argument19);
}

void runInitializationHook(const Call& c) {
  initializationHook(c.time, c.states, c.argument5, c.inputs, c.parameters, c.argument8,
                     c.argument9, c.derivatives, c.outputs, c.auxiliaries, c.crossings,
                     c.solverReals, c.solverInts, c.strings, c.m, 0);
}

void clearRelationsEvaluated(ModelData* m) {
  const int nrel = tableCount(dimensions.nrel);
  for (int k = 1; k <= nrel; ++k) m->relationEvaluated[k] = 0;
}

int& logFlags(const Call& c) { return c.solverInts[solverIntLogFlags]; }

bool continuationUsable(const ModelData* m) { return HomotopyContinuable(m->lambda, m->lambdaStep); }

// Homotopy step after every pass: true when the pass must run again at once (without starting
// a counted pass).
bool homotopyStep(const Call& c) {
  ModelData* m = c.m;
  int& qiErr = *c.qiErr;
  // Start, at most once per initialisation, when the first pass of an initialisation failed in
  // a model that uses homotopy.
  if (qiErr >= 1 && qiErr <= 4 && m->time <= m->startTime && m->iterationCounter <= 1 &&
      m->homotopyUsed && !m->homotopyActive && m->homotopyTriedAt != m->initialisationCount) {
    m->homotopyTriedAt = m->initialisationCount;
    if (!(logFlags(c) & logFlagQuiet))
      LogMessage("Trying to solve non-linear system using global homotopy-method.");
    m->homotopyActive = 1;
    qiErr = qiErrHomotopyRequested;
  }
  if (qiErr == qiErrHomotopyRequested) {
    if (!m->homotopyActive || m->lambda == 0) return false;
    m->lambda = 0;
    runInitializationHook(c);
    m->status = 0;
    qiErr = 0;
    return true;
  }
  if (qiErr == qiErrHomotopySolved) {
    if (!m->homotopyActive) return false;
    m->status = 0;
    qiErr = 0;
    if (m->lambda >= 1) {
      m->homotopyActive = 0;
      return false;
    }
    if (!continuationUsable(m)) {
      qiErr = 1;  // a failed homotopy
      return false;
    }
    if (m->lambdaStep < 0.08 && m->lambda > m->lambdaAtReduction + 6 * m->lambdaStep)
      m->lambdaStep = 2 * m->lambdaStep;
    m->lambda = m->lambda + m->lambdaStep;
    if (m->lambda > 0.999999999) m->lambda = 1;
    runInitializationHook(c);
    return true;
  }
  if (qiErr == 0 || !m->homotopyActive) return false;
  // The pass at the current lambda failed.
  if (m->lambda <= 0) {
    LogMessage("Error: could not solve simplified initialization for homotopy method.");
    return false;
  }
  if (m->lambdaStep <= 1e-4 || !continuationUsable(m)) {
    LogMessage(m->lambdaAtReduction > 0
                   ? "Error: adaptive homotopy method got stuck after starting. Can set scripting "
                     "flag Advanced.DebugHomotopy=true; simulate again, and open continuation.csv "
                     "to investigate"
                   : "Error: adaptive homotopy method could not start using actual - check that "
                     "actual and simplified arguments are similar.");
    return false;
  }
  // Step back to the last solved lambda and try half the step.
  m->status = 0;
  qiErr = 0;
  m->lambda = m->lambda - m->lambdaStep;
  m->lambdaStep = 0.5 * m->lambdaStep;
  m->lambdaAtReduction = m->lambda;
  m->lambda = m->lambda + m->lambdaStep;
  LogMessage("Error: reducing step size for homotopy.");
  runInitializationHook(c);
  return true;
}

// Call set-up after the record is bound and the jump armed.
void setUpCall(const Call& c) {
  ModelData* m = c.m;
  int* solverInts = c.solverInts;
  m->time = *c.time;
  m->initial = *c.demand == demandInitialize;
  m->eventInCall = 0;
  // A fresh initialisation always counts as a parameter change.
  if (m->initial &&
      (m->eventPhase == eventPhaseConverge || m->eventPhase == eventPhaseStartExternal)) {
    m->lastParameterChange = 0;
    SaturatingIncrement(solverInts[solverIntChangeCounter]);
  }
  m->parametersChanged = m->lastParameterChange != solverInts[solverIntChangeCounter];
  if (m->parametersChanged) *c.levelReached = 0;
  m->lastParameterChange = solverInts[solverIntChangeCounter];
  m->allSections =
      m->initial || *c.demand == demandEvent || *c.demand == demandTerminal || m->parametersChanged;
  solverInts[solverIntAllSections] = m->allSections;
  m->status = 0;
  if (m->initial) {
    SaturatingIncrement(m->initialisationCount);
    m->startTime = m->time;
    m->initialisationCall = 1;
    solverInts[solverIntLogFlags] = 0;
    m->iterationLimit = initialIterationLimit;
    m->relationEpsilon = initialRelationEpsilon;
    // (The model's generated integer tables that initialisation clears are empty here.)
    refreshDimensions();
  } else if (!dimensionsKnown) {
    refreshDimensions();
  }
  if (m->allSections && !m->inlineIntegration) solverInts[solverIntStepEvent] = 0;
  if (m->initial) {
    const int crossings = 2 * tableCount(dimensions.nrel);
    for (int k = 0; k < crossings; ++k) m->previousCrossings[k] = c.crossings[k] = 1.0;
  }
  if (m->eventPhase < eventPhaseContinueExternal) m->iterationCounter = 0;
  // With inline integration an event call before the next time event first only checks the
  // crossing functions.
  if (m->inlineIntegration && *c.demand == demandEvent &&
      c.solverReals[solverRealNextTimeEvent] > m->time && solverInts[solverIntStepEvent] == 0) {
    m->allSections = 0;
    *c.demand = demandCrossings;
    m->iterationCounter = 1;
  }
}

// D4: the call has converged.
void finishConverged(const Call& c) {
  ModelData* m = c.m;
  const int nrel = tableCount(dimensions.nrel);
  m->eventPhase = eventPhaseConverge;
  m->initial = m->initialisationCall;
  m->initialisationCall = 0;
  if (((m->initial && nrel > 0) || m->eventNeeded || m->iterationCounter > 1) &&
      (logFlags(c) & logFlagEvents))
    LogMessageReal("      during event at Time : ", m->time);
  if (m->initial) DelayResetCounters();
  const int method = c.solverInts[solverIntMethod];
  if (method != 0)
    ScaleStepBeforeCrossing(m, m->time, m->initial, m->allSections, c.crossings,
                            tableCount(dimensions.ncross), c.derivatives,
                            method == 1 ? dimensions.nx : 0, c.solverReals, c.solverInts);
  if (m->allSections) {
    double* q = c.crossings;
    for (int k = 1; k <= nrel; ++k) {
      int& state = m->relationState[k];
      if (m->relationEvaluated[k]) {
        state &= relationStateValue | relationStateArmed;  // drop a pending change
      } else {
        // A relation that was not evaluated cannot track its value: disarm it.
        if ((state & relationStateArmed) || q[2 * k - 1] == 0)
          q[2 * k - 2] = q[2 * k - 1] = 0.1;  // what an unarmed relation presents
        state &= relationStateValue;
      }
    }
    if (m->inlineIntegration)
      for (int k = 0; k < 2 * nrel; ++k) m->previousCrossings[k] = q[k];
  }
  *c.levelReached = *c.demand;
}

enum class Stage { prepare, countedStart, pass, endOfPass, decide, finish };

void evaluate(const Call& c) {
  ModelData* m = c.m;
  setUpCall(c);
  // A plain pass goes straight to the model.
  Stage stage = m->eventPhase == eventPhasePlainPass ? Stage::pass : Stage::prepare;
  while (stage != Stage::finish) {
    switch (stage) {
      case Stage::prepare:  // B
        if (m->allSections) {
          c.solverReals[solverRealNextTimeEvent] = noTimeEvent;
          m->eventInCall = 1;
        }
        if (*c.demand == demandCrossings ||
            (m->allSections && m->eventPhase != eventPhaseContinueExternal &&
             m->eventPhase != eventPhaseContinueConverge))
          clearRelationsEvaluated(m);
        if (m->allSections) resetModelFlags(m);
        stage = Stage::countedStart;
        break;

      case Stage::countedStart:  // A
        if (m->iterationCounter % 11 == 10) clearRelationsEvaluated(m);
        m->iterateAgain = 0;
        SaturatingIncrement(m->iterationCounter);
        m->eventNeeded = 0;
        m->keepParameterChange = 0;
        stage = Stage::pass;
        break;

      case Stage::pass:  // P
        runPass(c);
        stage = homotopyStep(c) ? Stage::pass : Stage::endOfPass;
        break;

      case Stage::endOfPass:  // E
        if (m->iterateAgain) {
          stage = Stage::countedStart;
          break;
        }
        if (m->eventPhase == eventPhaseSkipLevels) m->eventPhase = eventPhaseConverge;
        // The crossing check of the inline pre-pass: a sign change against the last converged
        // call makes it a full event call.
        if (m->inlineIntegration && *c.demand == demandCrossings && m->iterationCounter == 2) {
          const int crossings = 2 * tableCount(dimensions.nrel);
          for (int k = 0; k < crossings; ++k)
            if (m->previousCrossings[k] * c.crossings[k] < 0) m->eventNeeded = 1;
          if (m->eventNeeded) {
            *c.demand = demandEvent;
            m->allSections = 1;
            m->iterationCounter = 0;
            stage = Stage::prepare;
            break;
          }
        }
        if (m->eventNeeded) m->eventInCall = 1;
        stage = Stage::decide;
        break;

      case Stage::decide: {  // D
        const int nrel = tableCount(dimensions.nrel);
        const bool anotherPass =
            m->extraIteration != 0 || (((m->initial && nrel > 0) || m->eventNeeded) &&
                                       m->iterationCounter <= m->iterationLimit);
        if (anotherPass) {
          if (m->status != 0) {
            stage = Stage::finish;
            break;
          }
          int& flags = logFlags(c);
          if (flags & logFlagEvents) {
            if (m->eventPhase == eventPhaseConverge || m->eventPhase == eventPhaseContinueConverge)
              LogMessage("Iterating to find consistent restart conditions.");
          } else if (m->iterationCounter == m->iterationLimit && !(flags & logFlagQuiet)) {
            // The last allowed pass reports what its relations and time events do.
            LogMessage("");
            LogMessage("On the final iteration for restart conditions we get:");
            flags |= logFlagEvents;
          }
          if (m->extraIteration == 1) {
            m->extraIteration = 2;
          } else {
            // The first pass of an initialisation does not count against the limit.
            if (m->initial) m->iterationCounter = 0;
            m->initial = 0;
            m->extraIteration = 0;
          }
          m->parametersChanged = m->parametersChanged && m->keepParameterChange;
          m->allSections = 1;
          *c.levelReached = 0;
          if (m->eventPhase == eventPhaseContinueConverge) {
            m->eventPhase = eventPhaseConverge;
            stage = Stage::countedStart;
          } else if (m->eventPhase == eventPhaseConverge) {
            stage = Stage::countedStart;
          } else {
            // The caller drives the next pass.
            m->eventPhase = eventPhaseContinueExternal;
            stage = Stage::finish;
          }
          break;
        }
        if (m->iterationCounter > m->iterationLimit) {
          LogMessage("");
          LogMessageReal("ERROR: Finding consistent restart conditions failed at time: ", m->time);
          LogMessage("");
          *c.qiErr = qiErrFailed;
          m->status = 1;
          stage = Stage::finish;
          break;
        }
        finishConverged(c);
        stage = Stage::finish;
        break;
      }

      case Stage::finish:
        break;
    }
  }
  // F
  if (m->status != 0 && *c.qiErr == 0) *c.qiErr = m->status;
}

// Where the thread's temporaries stood when the call began.
struct EntryMarks {
  int hadBuffers;
  BufferMark current;
  BufferMark saved;
  char* stringmark;
};

EntryMarks entryMarksOf(const ThreadBlock* block) {
  return {block->EndRealbuffer != nullptr, block->currentMark, block->savedMark, block->stringmark};
}

// After a jump: the temporaries of the interrupted passes are released, as the passes would
// have done at their end. Otherwise every failed evaluation would leave its temporaries behind
// (the texts of a failed check among them) until a later pass succeeds, and enough failures in
// a row would end in a report that the string area is full instead of the real error.
void releaseTemporaries(ThreadBlock* block, const EntryMarks& entry) {
  if (!block->EndRealbuffer) return;
  if (entry.hadBuffers) {
    block->currentMark = entry.current;
    block->savedMark = entry.saved;
    block->stringmark = entry.stringmark;
  } else {
    block->currentMark = block->baseMark;
    block->savedMark = block->resetSavedMark;
    block->stringmark = block->stringBase;
  }
}

// Binds the record, arms the error jump in this frame, which lives for the whole evaluation, and
// evaluates; the previous record and jump of the thread come back when it returns.
void evaluateGuarded(const Call& call) {
  ErrorJumpFrame frame;
  ThreadBlock* block = ErrorJumpEnter(&frame, call.m);
  if (!block) {
    *call.qiErr = qiErrFailed;  // no thread block: nothing can be evaluated safely
    return;
  }
  const EntryMarks entry = entryMarksOf(block);
  if (ERROR_JUMP_ARMED(frame)) {
    evaluate(call);
  } else {
    // A runtime error ended the pass: the record and the arrays stay as the interrupted pass
    // left them; only its temporaries go.
    ErrorJumpLanded(&frame);
    releaseTemporaries(frame.block, entry);
    *call.qiErr = qiErrFailed;
  }
  ErrorJumpLeave(&frame);
}

}  // namespace

int dsblock_(int* demand, int* levelReached, double* time, double* states, void* argument5,
             double* inputs, double* parameters, void* argument8, void* argument9,
             double* derivatives, double* outputs, double* auxiliaries, double* crossings,
             double* solverReals, int* solverInts, void* strings, ModelData* modelData, int* qiErr,
             int argument19) {
  if (!modelData) modelData = &modelDataTemplate;
  const Call call = {demand,  levelReached, time,      states,      argument5,
                     inputs,  parameters,   argument8, argument9,   derivatives,
                     outputs, auxiliaries,  crossings, solverReals, solverInts,
                     strings, modelData,    qiErr,     argument19};
  evaluateGuarded(call);
  return 0;
}

int dsblock_default(int* demand, int* levelReached, double* time, double* states, void* argument5,
                    double* inputs, double* parameters, void* argument8, void* argument9,
                    double* derivatives, double* outputs, double* auxiliaries, double* crossings,
                    double* solverReals, int* solverInts, void* strings, int* qiErr) {
  return dsblock_(demand, levelReached, time, states, argument5, inputs, parameters, argument8,
                  argument9, derivatives, outputs, auxiliaries, crossings, solverReals, solverInts,
                  strings, &modelDataTemplate, qiErr, 0);
}

bool HomotopyContinuable(double lambda, double lambdaStep) {
  // Written so that NaN fails every comparison.
  return lambda >= 0 && lambda <= 1 && lambdaStep >= 1e-5 && lambdaStep <= 1;
}
