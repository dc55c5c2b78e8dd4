// Initialisation common to both kinds of instance, and the three calls whose body depends on
// the kind (fmi2EnterInitializationMode, fmi2ExitInitializationMode, fmi2Terminate).
#pragma once

#include "fmi2.h"
#include "instance.h"

// The model's initialisation from modeInstantiated: the model's experiment defaults, then one
// initialisation call of the driver. Another mode is refused with fmi2Warning. A failed
// initialisation is logged with its explanation and takes the error exit (fmi2Error). The mode
// is left for the caller to set.
fmi2Status fmiInitialize(ModelInstance* instance);

// Continues the initialisation's event iteration to convergence and enters newMode; refused
// with fmi2Warning outside modeInitialization, `name` prefixing the refusal. A failure takes the
// error exit without a message of its own.
fmi2Status fmiExitInitialization(ModelInstance* instance, const char* name, int32_t newMode);

// By fmuType to the Model Exchange or the Co-Simulation body. A null instance gives fmi2Warning.
fmi2Status fmiEnterInitializationMode(ModelInstance* instance);
fmi2Status fmiExitInitializationMode(ModelInstance* instance);
fmi2Status fmiTerminate(ModelInstance* instance);
