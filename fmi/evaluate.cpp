#include "evaluate.h"

#include "cosimulation.h"
#include "dsblock.h"
#include "messages.h"
#include "model.h"
#include "modelexchange.h"

namespace {

// A phase the caller set before the call stays in force; otherwise one plain pass.
void plainPassUnlessSet(ModelData* modelData) {
  if (getEventPhase(modelData) == eventPhaseConverge) setEventPhase(modelData, eventPhasePlainPass);
}

// One call of the driver with the instance's arrays; the outcome is in qiErr and levelReached.
void callDriver(ModelInstance* instance, int demand) {
  copyExtraValuesIn(instance->modelData, instance->extraValues, instance->extraValues2);
  if (instance->modelData) {
    currentInstance = instance;
    dsblock_(&demand, &instance->levelReached, &instance->time, instance->states, nullptr, instance->inputs,
             instance->parameters, nullptr, nullptr, instance->derivatives, instance->outputs,
             instance->auxiliaries, instance->eventIndicators, instance->solverReals, instance->solverInts,
             instance->strings, instance->modelData, &instance->qiErr, 0);
    currentInstance = nullptr;
  } else {
    dsblock_default(&demand, &instance->levelReached, &instance->time, instance->states, nullptr,
                    instance->inputs, instance->parameters, nullptr, nullptr, instance->derivatives,
                    instance->outputs, instance->auxiliaries, instance->eventIndicators, instance->solverReals,
                    instance->solverInts, instance->strings, &instance->qiErr);
  }
  copyExtraValuesOut(instance->modelData, instance->extraValues, instance->extraValues2);
  if (QiErrIsSuccess(instance->qiErr)) instance->qiErr = qiErrSuccess;
}

}  // namespace

int fmiEvaluateModel(ModelInstance* instance, int demand, const char* name, int* converged) {
  ModelData* modelData = instance->modelData;
  switch (instance->mode) {
    case modeInstantiated:
      plainPassUnlessSet(modelData);
      break;
    case modeInitialization:
      plainPassUnlessSet(modelData);
      demand = demandInitialize;
      break;
    case modeEvent:
    case modeEventIterating:
    case modeEventDone:
      if (instance->eventStart) {
        setEventPhase(modelData, eventPhaseStartExternal);
        instance->eventStart = 0;
      } else {
        plainPassUnlessSet(modelData);
      }
      demand = demandEvent;
      break;
    default:
      break;
  }
  int valuesChangedBefore = instance->valuesChanged;
  instance->qiErr = qiErrSuccess;
  callDriver(instance, demand);
  if (converged) *converged = getEventPhase(modelData) == eventPhaseConverge;
  setEventPhase(modelData, eventPhaseConverge);
  instance->valuesChanged = 0;
  int qiErr = instance->qiErr;
  if (qiErr != qiErrSuccess && qiErr != qiErrTerminate) {
    // The driver leaves the level reached where the interrupted pass was: values it never
    // finished must not count as computed.
    instance->levelReached = 0;
    instance->valuesChanged = valuesChangedBefore;
  }
  if (qiErr != qiErrSuccess && name) fmiLog(instance, fmi2Error, "%s: dsblock_ failed, QiErr = %d", name, qiErr);
  return qiErr;
}

bool fmiPlainPassCurrent(const ModelInstance* instance, int demand) {
  return instance->levelReached == demand && instance->qiErr == qiErrSuccess &&
         instance->solverInts[solverIntAllSections] == 0 && instance->solverInts[solverIntMethod] == 0;
}

fmi2Status fmiFailureStatus(int qiErr, bool mayDiscard) {
  return qiErr == qiErrFailed && mayDiscard ? fmi2Discard : fmi2Error;
}

fmi2Status fmiDiscardOrErrorExit(ModelInstance* instance, int qiErr) {
  if (fmiFailureStatus(qiErr, true) == fmi2Discard) return fmi2Discard;
  return fmiErrorExit(instance);
}

fmi2Status fmiErrorExit(ModelInstance* instance) {
  switch (instance->mode) {
    case modeInstantiated:
    case modeTerminated:
      break;
    default:
      if (instance->fmuType == fmi2CoSimulation)
        fmiTerminateCS(instance);
      else
        fmiTerminateME(instance);
      break;
  }
  instance->mode = modeTerminated;
  return fmi2Error;
}

fmi2Status fmiTerminalSection(ModelInstance* instance, const char* name) {
  // A model that was never initialised has nothing to end.
  if (instance->mode == modeInstantiated || instance->qiErr != qiErrSuccess || instance->terminatedByModel)
    return fmi2OK;
  callDriver(instance, demandTerminal);
  int qiErr = instance->qiErr;
  if (qiErr == qiErrSuccess || qiErr == qiErrTerminate) return fmi2OK;
  fmiLog(instance, fmi2Error, "%s: calling terminal section of dsblock_ failed, QiErr = %d", name, qiErr);
  return fmi2Error;
}

fmi2Status fmiEventUpdate(ModelInstance* instance, int* terminated) {
  int converged = 0;
  const int demands[2] = {demandAll, demandEvent};
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      // The driver iterates the event to convergence inside this call.
      setEventPhase(instance->modelData, eventPhaseConverge);
      instance->levelReached = 0;
    }
    int qiErr = fmiEvaluateModel(instance, demands[pass], nullptr, &converged);
    if (terminated) *terminated = 0;
    if (qiErr == qiErrTerminate) {
      fmiLog(instance, fmi2OK, "event updating: simulation terminated by model");
      if (terminated) *terminated = 1;
      return fmi2OK;
    }
    if (qiErr != qiErrSuccess) {
      fmiLog(instance, fmi2Error, "event updating: dsblock_ failed, QiErr = %d", qiErr);
      return fmiErrorExit(instance);
    }
  }
  instance->jacobianStale = 1;
  instance->newDiscreteStatesNeeded = converged ? 0 : 1;
  return fmi2OK;
}

void fmiProfilingReport(ModelInstance* instance) {
  int count = 0;
  const BlockProfile* blocks = getBlockProfiles(instance->modelData, &count);
  if (!blocks || count <= 0) return;
  double overhead = 0.0;
  long long calls = 0;
  bool called = false;
  for (int i = 0; i < count; ++i) {
    if (blocks[i].calls <= 0) continue;
    if (!called || blocks[i].shortest < overhead) overhead = blocks[i].shortest;
    called = true;
    calls += blocks[i].calls;
  }
  if (!called) return;
  fmiLog(instance, fmi2OK,
         "\nProfiling information for the blocks.\nEstimated overhead per call %11.2f[us] total %12.3f[s]\n"
         "the estimated overhead has been subtracted below.\n"
         "Name of block   , Block, Total CPU[s], Mean[us]    ( Min[us]    to Max[us]    ),   Called\n",
         overhead * 1e6, static_cast<double>(calls) * overhead);
  for (int i = 0; i < count; ++i) {
    const BlockProfile& block = blocks[i];
    int c = block.calls;
    if (c <= 0) continue;
    double net = block.total - c * overhead;
    fmiPrintMessage(instance, "", fmi2OK, "", "%-16.16s: %5d, %12.3f, %11.2f (%11.2f to %11.2f), %8d\n", block.name,
                    i, net, net / c * 1e6, (block.shortest - overhead) * 1e6, (block.longest - overhead) * 1e6, c);
  }
}
