// Creating and destroying an instance, and recording the experiment.
#pragma once

#include "fmi2.h"
#include "instance.h"

// A new instance in modeInstantiated for fmi2ModelExchange or fmi2CoSimulation; null without a
// message for any other kind, and for a null callback record or one without allocateMemory or
// freeMemory. Everything the instance holds comes from the host's allocateMemory (and is
// zero-filled here, whatever the host's allocator does). A wrong GUID, a failed allocation or a
// failed start-value routine logs "Instantiation failed" (fmi2Fatal), releases what was made
// and gives null. The resource location and the visible flag are not used.
ModelInstance* fmiInstantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                              fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions,
                              fmi2Boolean visible, fmi2Boolean loggingOn);

// Releases everything of the instance through the host's freeMemory, after clearing the model's
// work state (which releases every delay buffer of the process). The model's terminal section is
// not run. A null instance does nothing.
void fmiFreeInstance(ModelInstance* instance);
void fmiFreeModelInstance(ModelInstance* instance);

// Host memory from allocateMemory, zero-filled here whatever the host's allocator does; null
// when the host has none to give or count × size does not fit in a size_t.
void* fmiAllocateZeroed(const fmi2CallbackFunctions* functions, size_t count, size_t size);

// Gives a host block back through freeMemory and nulls the field; a null field stays as it is.
template <typename T>
void fmiRelease(const fmi2CallbackFunctions* functions, T*& field) {
  if (field) functions->freeMemory(field);
  field = nullptr;
}

// A String variable's start value into its buffer of stringValueLimit + 1 characters: cut to
// stringValueLimit characters, the rest of the buffer cleared; a null start gives "".
void fmiCopyStartString(char* buffer, const char* start);

// Points the first two words of the instance's model data block at its solver blocks; nothing
// without a data block.
void fmiAttachSolverBlocks(ModelInstance* instance);

// Stores the experiment settings and sets the time to the start time; accepted in every mode.
// Model Exchange has no tolerance control: a defined tolerance is dropped with a warning, and
// the call still gives fmi2OK.
fmi2Status fmiSetupExperiment(ModelInstance* instance, fmi2Boolean toleranceDefined, fmi2Real tolerance,
                              fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime);
