// The FMI 2.0 types and function signatures, declared for this unit.
// The layout of every type matches the FMI 2.0 C ABI on x86-64 Linux.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* fmi2Component;
typedef void* fmi2ComponentEnvironment;
typedef void* fmi2FMUstate;
typedef unsigned int fmi2ValueReference;
typedef double fmi2Real;
typedef int fmi2Integer;
typedef int fmi2Boolean;
typedef char fmi2Char;
typedef const fmi2Char* fmi2String;
typedef char fmi2Byte;

#define fmi2True 1
#define fmi2False 0

typedef enum {
  fmi2OK = 0,
  fmi2Warning = 1,
  fmi2Discard = 2,
  fmi2Error = 3,
  fmi2Fatal = 4,
  fmi2Pending = 5
} fmi2Status;

typedef enum { fmi2ModelExchange = 0, fmi2CoSimulation = 1 } fmi2Type;

typedef enum {
  fmi2DoStepStatus = 0,
  fmi2PendingStatus = 1,
  fmi2LastSuccessfulTime = 2,
  fmi2Terminated = 3
} fmi2StatusKind;

typedef void (*fmi2CallbackLogger)(fmi2ComponentEnvironment, fmi2String instanceName, fmi2Status status,
                                   fmi2String category, fmi2String message, ...);
typedef void* (*fmi2CallbackAllocateMemory)(size_t nobj, size_t size);
typedef void (*fmi2CallbackFreeMemory)(void* obj);
typedef void (*fmi2StepFinished)(fmi2ComponentEnvironment, fmi2Status status);

typedef struct {
  const fmi2CallbackLogger logger;
  const fmi2CallbackAllocateMemory allocateMemory;
  const fmi2CallbackFreeMemory freeMemory;
  const fmi2StepFinished stepFinished;
  const fmi2ComponentEnvironment componentEnvironment;
} fmi2CallbackFunctions;

typedef struct {
  fmi2Boolean newDiscreteStatesNeeded;
  fmi2Boolean terminateSimulation;
  fmi2Boolean nominalsOfContinuousStatesChanged;
  fmi2Boolean valuesOfContinuousStatesChanged;
  fmi2Boolean nextEventTimeDefined;
  fmi2Real nextEventTime;
} fmi2EventInfo;

// Every function of the interface as X(name, return type, parameter list). Hosts use it to declare
// pointer types; the unit uses it to declare its exports.
#define FMI2_FUNCTIONS(X)                                                                                   \
  X(fmi2GetTypesPlatform, const char*, (void))                                                             \
  X(fmi2GetVersion, const char*, (void))                                                                   \
  X(fmi2SetDebugLogging, fmi2Status, (fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,          \
                                      const fmi2String categories[]))                                      \
  X(fmi2Instantiate, fmi2Component, (fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,        \
                                     fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions, \
                                     fmi2Boolean visible, fmi2Boolean loggingOn))                          \
  X(fmi2FreeInstance, void, (fmi2Component c))                                                             \
  X(fmi2SetupExperiment, fmi2Status, (fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance,   \
                                      fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime)) \
  X(fmi2EnterInitializationMode, fmi2Status, (fmi2Component c))                                            \
  X(fmi2ExitInitializationMode, fmi2Status, (fmi2Component c))                                             \
  X(fmi2Terminate, fmi2Status, (fmi2Component c))                                                          \
  X(fmi2Reset, fmi2Status, (fmi2Component c))                                                              \
  X(fmi2GetReal, fmi2Status, (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[])) \
  X(fmi2GetInteger, fmi2Status,                                                                            \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]))                     \
  X(fmi2GetBoolean, fmi2Status,                                                                            \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]))                     \
  X(fmi2GetString, fmi2Status,                                                                             \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]))                      \
  X(fmi2SetReal, fmi2Status,                                                                               \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]))                  \
  X(fmi2SetInteger, fmi2Status,                                                                            \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer value[]))               \
  X(fmi2SetBoolean, fmi2Status,                                                                            \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Boolean value[]))               \
  X(fmi2SetString, fmi2Status,                                                                             \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]))                \
  X(fmi2GetFMUstate, fmi2Status, (fmi2Component c, fmi2FMUstate * FMUstate))                               \
  X(fmi2SetFMUstate, fmi2Status, (fmi2Component c, fmi2FMUstate FMUstate))                                 \
  X(fmi2FreeFMUstate, fmi2Status, (fmi2Component c, fmi2FMUstate * FMUstate))                              \
  X(fmi2SerializedFMUstateSize, fmi2Status, (fmi2Component c, fmi2FMUstate FMUstate, size_t * size))       \
  X(fmi2SerializeFMUstate, fmi2Status,                                                                     \
    (fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[], size_t size))                     \
  X(fmi2DeSerializeFMUstate, fmi2Status,                                                                   \
    (fmi2Component c, const fmi2Byte serializedState[], size_t size, fmi2FMUstate * FMUstate))             \
  X(fmi2GetDirectionalDerivative, fmi2Status,                                                              \
    (fmi2Component c, const fmi2ValueReference vUnknown_ref[], size_t nUnknown,                            \
     const fmi2ValueReference vKnown_ref[], size_t nKnown, const fmi2Real dvKnown[], fmi2Real dvUnknown[])) \
  X(fmi2EnterEventMode, fmi2Status, (fmi2Component c))                                                     \
  X(fmi2NewDiscreteStates, fmi2Status, (fmi2Component c, fmi2EventInfo * eventInfo))                       \
  X(fmi2EnterContinuousTimeMode, fmi2Status, (fmi2Component c))                                            \
  X(fmi2CompletedIntegratorStep, fmi2Status,                                                               \
    (fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint, fmi2Boolean * enterEventMode,          \
     fmi2Boolean * terminateSimulation))                                                                   \
  X(fmi2SetTime, fmi2Status, (fmi2Component c, fmi2Real time))                                             \
  X(fmi2SetContinuousStates, fmi2Status, (fmi2Component c, const fmi2Real x[], size_t nx))                 \
  X(fmi2GetDerivatives, fmi2Status, (fmi2Component c, fmi2Real derivatives[], size_t nx))                  \
  X(fmi2GetEventIndicators, fmi2Status, (fmi2Component c, fmi2Real eventIndicators[], size_t ni))          \
  X(fmi2GetContinuousStates, fmi2Status, (fmi2Component c, fmi2Real x[], size_t nx))                       \
  X(fmi2GetNominalsOfContinuousStates, fmi2Status, (fmi2Component c, fmi2Real x_nominal[], size_t nx))     \
  X(fmi2SetRealInputDerivatives, fmi2Status,                                                               \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[],                \
     const fmi2Real value[]))                                                                              \
  X(fmi2GetRealOutputDerivatives, fmi2Status,                                                              \
    (fmi2Component c, const fmi2ValueReference vr[], size_t nvr, const fmi2Integer order[], fmi2Real value[])) \
  X(fmi2DoStep, fmi2Status, (fmi2Component c, fmi2Real currentCommunicationPoint,                          \
                             fmi2Real communicationStepSize, fmi2Boolean noSetFMUStatePriorToCurrentPoint)) \
  X(fmi2CancelStep, fmi2Status, (fmi2Component c))                                                         \
  X(fmi2GetStatus, fmi2Status, (fmi2Component c, const fmi2StatusKind s, fmi2Status * value))              \
  X(fmi2GetRealStatus, fmi2Status, (fmi2Component c, const fmi2StatusKind s, fmi2Real * value))            \
  X(fmi2GetIntegerStatus, fmi2Status, (fmi2Component c, const fmi2StatusKind s, fmi2Integer * value))      \
  X(fmi2GetBooleanStatus, fmi2Status, (fmi2Component c, const fmi2StatusKind s, fmi2Boolean * value))      \
  X(fmi2GetStringStatus, fmi2Status, (fmi2Component c, const fmi2StatusKind s, fmi2String * value))

// Pointer types for hosts: fmi2GetRealTYPE and so on.
#define FMI2_DECLARE_TYPE(name, ret, params) typedef ret(*name##TYPE) params;
FMI2_FUNCTIONS(FMI2_DECLARE_TYPE)
#undef FMI2_DECLARE_TYPE

#ifdef FMI2_EXPORTS
#define FMI2_EXPORT __attribute__((visibility("default")))
#else
#define FMI2_EXPORT
#endif

// The prototypes of the unit's exports.
#define FMI2_DECLARE_FUNCTION(name, ret, params) FMI2_EXPORT ret name params;
FMI2_FUNCTIONS(FMI2_DECLARE_FUNCTION)
#undef FMI2_DECLARE_FUNCTION

#ifdef __cplusplus
}
#endif
