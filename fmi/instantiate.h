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

// Stores the experiment settings and sets the time to the start time; accepted in every mode.
// Model Exchange has no tolerance control: a defined tolerance is dropped with a warning, and
// the call still gives fmi2OK.
fmi2Status fmiSetupExperiment(ModelInstance* instance, fmi2Boolean toleranceDefined, fmi2Real tolerance,
                              fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime);
