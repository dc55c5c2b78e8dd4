#include "instantiate.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "entry.h"
#include "extlibs.h"
#include "fmustate.h"
#include "globalcontext.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modelfacts.h"
#include "results.h"
#include "tpl.h"
#include "values.h"

void* fmiAllocateZeroed(const fmi2CallbackFunctions* functions, size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  void* block = functions->allocateMemory(count, size);
  if (block) memset(block, 0, count * size);
  return block;
}

void fmiCopyStartString(char* buffer, const char* start) {
  memset(buffer, 0, stringValueLimit + 1);
  if (start) memcpy(buffer, start, strnlen(start, stringValueLimit));
}

void fmiAttachSolverBlocks(ModelInstance* instance) {
  if (!instance->modelData) return;
  instance->modelData->solverReals = instance->solverReals;
  instance->modelData->solverInts = instance->solverInts;
}

namespace {

template <typename T>
bool allocateArray(const fmi2CallbackFunctions* functions, T*& field, uint64_t count) {
  field = static_cast<T*>(fmiAllocateZeroed(functions, count + 1, sizeof(T)));
  return field != nullptr;
}

uint64_t count(int value) { return value > 0 ? static_cast<uint64_t>(value) : 0; }

// Everything the instance holds goes back to the host, each field set to none after it; used
// by freeing and by a failed instantiation.
void releaseInstance(ModelInstance* instance) {
  const fmi2CallbackFunctions* functions = instance->functions;
  // A host that frees without terminating still gets a complete result file.
  resultFinish(instance);
  integratorFree(instance, instance);
  // The runtime must never read the released blocks through its registration.
  UnregisterContextRecords(instance->solverReals, instance->solverInts);
  fmiRelease(functions, instance->instanceName);
  fmiRelease(functions, instance->solverReals);
  fmiRelease(functions, instance->solverInts);
  fmiRelease(functions, instance->states);
  fmiRelease(functions, instance->derivatives);
  fmiRelease(functions, instance->parameters);
  fmiRelease(functions, instance->inputs);
  fmiRelease(functions, instance->outputs);
  fmiRelease(functions, instance->auxiliaries);
  fmiRelease(functions, instance->eventIndicators);
  if (instance->strings) {
    for (uint64_t i = instance->ns; i-- > 0;) fmiRelease(functions, instance->strings[i]);
  }
  fmiRelease(functions, instance->strings);
  fmiRelease(functions, instance->nominals);
  fmiRelease(functions, instance->previousStates);
  fmiRelease(functions, instance->extraValues);
  fmiRelease(functions, instance->extraValues2);
  fmiRelease(functions, instance->booleanReapplyValues);
  fmiRelease(functions, instance->stringStarts);
  fmiRelease(functions, instance->jacobianA);
  fmiRelease(functions, instance->jacobianB);
  fmiRelease(functions, instance->jacobianC);
  fmiRelease(functions, instance->jacobianD);
  fmiRelease(functions, instance->vBase);
  fmiRelease(functions, instance->vPlus);
  fmiRelease(functions, instance->vMinus);
  fmiRelease(functions, instance->zBase);
  fmiRelease(functions, instance->zPlus);
  fmiRelease(functions, instance->zMinus);
  // The directional derivative's snapshot, taken when state snapshots are on.
  fmiReleaseFMUstate(instance, &instance->derivativeSnapshot);
  if (instance->externalLibraries) {
    LoadExternalLibraries(modelExternalLibraries, &instance->externalLibraries, 0, nullptr);
    free(instance->externalLibraries);  // the loader's table lives on the C heap
    instance->externalLibraries = nullptr;
  }
  fmiRelease(functions, instance->modelData);
  fmiRelease(functions, instance->modelDataBlob);
  if (singleInstance == instance) singleInstance = nullptr;
  functions->freeMemory(instance);
}

// A failed instantiation that has no record to log through: the cause and "Instantiation
// failed" reach the given logger all the same, under the given name. The logger is all it uses
// of the callbacks.
ModelInstance* failedWithoutRecord(const fmi2CallbackFunctions* functions, const char* givenName, const char* format,
                                   ...) __attribute__((format(printf, 3, 4)));
ModelInstance* failedWithoutRecord(const fmi2CallbackFunctions* functions, const char* givenName, const char* format,
                                   ...) {
  char cause[messageLimit + 1];
  va_list args;
  va_start(args, format);
  vsnprintf(cause, sizeof cause, format, args);
  va_end(args);
  ModelInstance messenger;
  memset(&messenger, 0, sizeof messenger);
  messenger.functions = functions;
  fmiClearPendingText(&messenger);
  const char* name = givenName ? givenName : "";
  fmiPrintMessage(&messenger, name, fmi2Error, "", "%s", cause);
  fmiPrintMessage(&messenger, name, fmi2Fatal, "", "Instantiation failed");
  return nullptr;
}

ModelInstance* instantiationFailed(ModelInstance* instance, const char* givenName) {
  fmiPrintMessage(instance, givenName ? givenName : "", fmi2Fatal, "", "Instantiation failed");
  releaseInstance(instance);
  return nullptr;
}

// A block the host's allocator did not give: which one, then the failure path.
ModelInstance* allocationFailed(ModelInstance* instance, const char* givenName, const char* what) {
  fmiPrintMessage(instance, givenName ? givenName : "", fmi2Error, "", "%s: memory allocation failed for %s",
                  fmiFunctionNames[fmiNameInstantiateME], what);
  return instantiationFailed(instance, givenName);
}

// The value arrays, one per category, each with its spare element.
bool allocateValueArrays(ModelInstance* instance) {
  const fmi2CallbackFunctions* f = instance->functions;
  return allocateArray(f, instance->states, instance->nx) && allocateArray(f, instance->derivatives, instance->nx) &&
         allocateArray(f, instance->parameters, instance->np) && allocateArray(f, instance->inputs, instance->nu) &&
         allocateArray(f, instance->outputs, instance->ny) && allocateArray(f, instance->auxiliaries, instance->nw) &&
         allocateArray(f, instance->eventIndicators, instance->ni) &&
         allocateArray(f, instance->nominals, instance->nx) && allocateArray(f, instance->strings, instance->ns) &&
         allocateArray(f, instance->previousStates, instance->nx) &&
         allocateArray(f, instance->extraValues, instance->nExtra) &&
         allocateArray(f, instance->extraValues2, instance->nExtra2) &&
         allocateArray(f, instance->booleanReapplyValues, count(modelBooleanReapplyCount));
}

// Puts a buffer of its own in place of each start-text pointer that declare_ left in the table.
// On failure the entries not yet replaced are cleared: they belong to the model.
bool copyStartStrings(ModelInstance* instance) {
  for (uint64_t i = 0; i < instance->ns; ++i) {
    const char* start = instance->strings[i];
    char* buffer = static_cast<char*>(fmiAllocateZeroed(instance->functions, stringValueLimit + 1, 1));
    if (!buffer) {
      for (uint64_t k = i; k < instance->ns; ++k) instance->strings[k] = nullptr;
      return false;
    }
    fmiCopyStartString(buffer, start);
    instance->strings[i] = buffer;
  }
  return true;
}

ModelInstance* instantiateME(fmi2String instanceName, fmi2String fmuGUID, const fmi2CallbackFunctions* functions,
                             fmi2Boolean loggingOn) {
  const char* name = fmiFunctionNames[fmiNameInstantiateME];
  if (modelDataSize == 0 && singleInstance) {
    fmiPrintMessage(singleInstance, instanceName ? instanceName : singleInstance->instanceName, fmi2Fatal, "",
                    "%s: multiple instances within same process not supported", name);
    return nullptr;
  }
  auto* instance = static_cast<ModelInstance*>(fmiAllocateZeroed(functions, 1, sizeof(ModelInstance)));
  if (!instance)
    return failedWithoutRecord(functions, instanceName, "%s: memory allocation failed for the instance record (%d bytes)",
                               name, static_cast<int>(sizeof(ModelInstance)));
  instance->functions = functions;
  fmiClearPendingText(instance);

  if (modelDataSize > 0) {
    instance->modelData = static_cast<ModelData*>(fmiAllocateZeroed(functions, 1, static_cast<size_t>(modelDataSize)));
    if (!instance->modelData) return allocationFailed(instance, instanceName, "the model data");
    copyModelData(instance->modelData);
  }
  const char* ownPath = modulePath();
  if (modelExternalLibraries && modelExternalLibraries[0])
    LoadExternalLibraries(modelExternalLibraries, &instance->externalLibraries, 1, ownPath);

  instance->instanceName = fmiStrdup(functions, instanceName);
  if (!instance->instanceName) return allocationFailed(instance, instanceName, "the instance name");
  instance->loggingOn = loggingOn;

  // Without the thread slot every evaluation would fail later with nothing but its error code.
  if (!RuntimeHasThreadSlot()) {
    fmiLog(instance, fmi2Error, "%s: no thread-local storage slot was available when the library was loaded", name);
    return instantiationFailed(instance, instanceName);
  }
  if (!fmuGUID || strcmp(fmuGUID, modelGUID) != 0) {
    fmiLog(instance, fmi2Error, "Invalid GUID: %s, expected %s", fmuGUID ? fmuGUID : "<NULL>", modelGUID);
    return instantiationFailed(instance, instanceName);
  }

  instance->solverReals = static_cast<double*>(fmiAllocateZeroed(functions, 1, solverRealCount * sizeof(double)));
  instance->solverInts = static_cast<int32_t*>(fmiAllocateZeroed(functions, 1, solverIntCount * sizeof(int32_t)));
  if (!instance->solverReals || !instance->solverInts) return allocationFailed(instance, instanceName, "the solver blocks");
  fmiAttachSolverBlocks(instance);
  SetContextRecords(instance->solverReals, instance->solverInts);

  int d[13] = {};
  getInstanceDimensions(&d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10], &d[11],
                        &d[12]);
  instance->nx = count(d[0]);
  instance->nu = count(d[2]);
  instance->ny = count(d[3]);
  instance->nw = count(d[4]);
  instance->np = count(d[5]);
  instance->ns = count(d[6]);
  instance->ni = 2 * count(d[8]);
  instance->nExtra = count(d[11]);
  instance->nExtra2 = count(d[12]);
  if (!allocateValueArrays(instance)) return allocationFailed(instance, instanceName, "the value arrays");

  for (uint64_t i = 0; i < instance->nx; ++i) instance->nominals[i] = 1.0;
  instance->mode = modeInstantiated;
  instance->jacobianStale = 1;

  int qiErr = 0;
  declare_(instance->states, instance->parameters, instance->inputs, instance->strings, &qiErr);
  if (!copyStartStrings(instance)) return allocationFailed(instance, instanceName, "the string buffers");
  if (qiErr != 0) {
    fmiLog(instance, fmi2Error, "%s: declare_ failed, QiErr = %d", name, qiErr);
    return instantiationFailed(instance, instanceName);
  }

  instance->useStateSnapshots = modelUseStateSnapshots;
  if (!instance->modelData) singleInstance = instance;
  instance->modelDataBlob = static_cast<tpl_blob*>(fmiAllocateZeroed(functions, 1, sizeof(tpl_blob)));
  if (!instance->modelDataBlob) return allocationFailed(instance, instanceName, "the model data's image record");
  fmiLog(instance, fmi2OK, "%s completed", name);
  return instance;
}

}  // namespace

ModelInstance* fmiInstantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID, fmi2String,
                              const fmi2CallbackFunctions* functions, fmi2Boolean, fmi2Boolean loggingOn) {
  const char* entry = fmiFunctionNames[fmiNameInstantiateME];
  // Without the callbacks record there is no logger to tell; without a logger the null says it.
  if (!functions) return nullptr;
  if (!functions->allocateMemory || !functions->freeMemory) {
    const char* missing = functions->allocateMemory ? "function freeMemory"
                          : functions->freeMemory   ? "function allocateMemory"
                                                    : "functions allocateMemory and freeMemory";
    return failedWithoutRecord(functions, instanceName, "%s: Callback %s == NULL", entry, missing);
  }
  if (fmuType != fmi2ModelExchange && fmuType != fmi2CoSimulation)
    return failedWithoutRecord(functions, instanceName,
                               "%s: fmuType = %d is neither fmi2ModelExchange nor fmi2CoSimulation", entry,
                               static_cast<int>(fmuType));
  fmiInstallRuntimeBridge();
  ModelInstance* instance = instantiateME(instanceName, fmuGUID, functions, loggingOn);
  if (!instance) return nullptr;
  if (fmuType == fmi2CoSimulation) {
    const char* name = fmiFunctionNames[fmiNameInstantiateCS];
    if (functions->stepFinished)
      fmiLog(instance, fmi2Warning,
             "%s: Callback function stepFinished != NULL but asynchronous fmiDoStep is not supported", name);
    fmiLog(instance, fmi2OK, "%s", name);
  }
  instance->fmuType = fmuType;
  return instance;
}

void fmiFreeModelInstance(ModelInstance* instance) {
  if (!instance) return;
  fmiLog(instance, fmi2OK, "fmiFreeModelInstance");
  if (instance->modelData)
    resetModelData(instance->modelData);
  else
    resetTemplateModelData();
  releaseInstance(instance);
}

void fmiFreeInstance(ModelInstance* instance) { fmiFreeModelInstance(instance); }

fmi2Status fmiSetupExperiment(ModelInstance* instance, fmi2Boolean toleranceDefined, fmi2Real tolerance,
                              fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameSetupExperiment];
  // The stop time and the tolerance are checked only when declared defined. A finite tolerance
  // is used whether or not it is declared; an undeclared one that is not finite is what the host
  // happened to have in the variable, and means the integrator's default, as one <= 0 does.
  if (!fmiFiniteArgument(instance, name, "startTime", startTime) ||
      (stopTimeDefined && !fmiFiniteArgument(instance, name, "stopTime", stopTime)) ||
      (toleranceDefined && !fmiFiniteArgument(instance, name, "tolerance", tolerance)))
    return fmi2Warning;
  if (!std::isfinite(tolerance)) tolerance = 0.0;
  if (startTime != instance->time) integratorTimeMoved(instance);
  instance->startTime = startTime;
  instance->stopTimeDefined = stopTimeDefined;
  instance->stopTime = stopTime;
  if (toleranceDefined && instance->fmuType == fmi2ModelExchange) {
    fmiLog(instance, fmi2Warning,
           "%s: tolerance control not supported for fmuType fmi2ModelExchange, setting toleranceDefined to "
           "fmi2False",
           name);
    instance->toleranceDefined = 0;
    instance->tolerance = 0.0;
  } else {
    instance->toleranceDefined = toleranceDefined;
    instance->tolerance = tolerance;
  }
  instance->time = startTime;
  instance->levelReached = 0;
  fmiLog(instance, fmi2OK, "%s: startTime is set to %g", name, startTime);
  return fmi2OK;
}
