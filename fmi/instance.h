// The FMU instance behind every fmi2Component, its modes, the names that prefix the layer's
// messages, and the calls that need no model.
#pragma once

#include <cstdint>
#include <type_traits>

#include "fmi2.h"

// Records that other parts of the unit define; the instance holds them by pointer only.
struct ModelData;        // the model's data block, one per instance and per FMU state
struct ResultBuffer;     // result generation
struct CoSimIntegrator;  // the Co-Simulation integrator on CVODE
struct tpl_blob;         // serialiser record {address, byte count} describing the ModelData block

// The `mode` field. Code 2 has no name: it is never entered, but is treated like a mode that
// leads into modeEvent.
enum InstanceMode : int32_t {
  modeInstantiated = 0,
  modeInitialization = 1,
  modeEvent = 3,
  modeEventIterating = 4,
  modeEventDone = 5,
  modeContinuousTime = 6,
  modeTerminated = 7,
};

// Size of the pending-text buffer; at most pendingTextLimit - 1 characters and the terminator
// are ever used.
constexpr int pendingTextSize = 260;
constexpr int pendingTextLimit = 255;

// Allocated zero-filled through the host's allocateMemory and released through its freeMemory.
// An FMU state is a record of the same layout. Counts are unsigned 64-bit, flags are 0 or 1.
// Every value array has one element more than its count; the spare element is never addressed.
// Integer and Boolean variables are stored as doubles beside the Reals.
struct ModelInstance {
  double startTime;
  int32_t stopTimeDefined;
  double stopTime;
  int32_t toleranceDefined;  // forced to 0 for Model Exchange
  double tolerance;          // forced to 0.0 for Model Exchange
  int32_t fmuType;           // fmi2Type
  char* instanceName;        // owned copy; passed to the logger with every message
  int32_t loggingOn;         // gates messages of status fmi2OK

  uint64_t nx;  // continuous states
  uint64_t nu;  // inputs
  uint64_t ny;  // outputs
  uint64_t nw;  // auxiliary variables
  uint64_t np;  // parameters
  uint64_t ns;  // String variables
  uint64_t ni;  // event indicators, two per crossing function
  uint64_t nExtra;
  uint64_t nExtra2;

  double* states;             // [nx+1]  category 2
  double* parameters;         // [np+1]  category 1
  double* derivatives;        // [nx+1]  category 3
  double* inputs;             // [nu+1]  category 5
  double* outputs;            // [ny+1]  category 4
  double* auxiliaries;        // [nw+1]  category 6
  double* eventIndicators;    // [ni+1]
  double* extraValues;        // [nExtra+1]  categories 11 and 12; copied into and out of ModelData
  double* extraValues2;       // [nExtra2+1] copied with extraValues; no value reference reaches it
  double* nominals;           // [nx+1]  all 1.0
  char** strings;             // [ns+1]  each entry owns a 501-byte buffer; the last is null in a state
  char** stringStarts;        // [ns]  the model's String start values, made by the first reset that
                              //       needs them; the strings belong to the model and are never
                              //       written through this table
  double* previousStates;     // [nx+1] states at the start of fmi2NewDiscreteStates

  const fmi2CallbackFunctions* functions;  // the host's record, kept by pointer: it must outlive us
  double time;
  int32_t levelReached;  // DemandCode level the values are valid for; -1 at the start of initialisation

  char pendingText[pendingTextSize];  // runtime text waiting for the next message
  char* pendingEnd;                   // next free character; pendingText when nothing is pending

  int32_t mode;               // InstanceMode
  int32_t terminatedByModel;  // the model asked to terminate in an event iteration or a step
  int32_t resultGeneration;    // result generation on; nothing in the fmi2 interface sets it
  ResultBuffer* resultBuffer;  // from the end of its initialisation to its terminate, while on
  double* solverReals;          // SolverReals, 4 doubles, owned
  int32_t* solverInts;          // SolverInts, 11 ints, owned
  CoSimIntegrator* integrator;  // Co-Simulation with CVODE, between initialisation and terminate

  int32_t valuesChanged;            // states or inputs were set since the last model call
  int32_t newDiscreteStatesNeeded;  // result of the last event-iteration step
  int32_t jacobianStale;            // set by every change of time, states or values
  int32_t inDirectionalDerivative;  // a difference evaluation is in progress
  int32_t jacobianSizes[4];         // element counts of jacobianA to jacobianD as allocated
  double* jacobianA;
  double* jacobianB;
  double* jacobianC;
  double* jacobianD;
  uint64_t vCapacity;  // length of vBase, vPlus, vMinus
  uint64_t zCapacity;  // length of zBase, zPlus, zMinus
  double* vBase;
  double* vPlus;
  double* vMinus;
  double* zBase;
  double* zPlus;
  double* zMinus;
  ModelInstance* derivativeSnapshot;  // FMU state used by the directional derivatives

  int32_t eventStart;             // the next model call in event mode starts a new event iteration
  void** externalLibraries;       // handle table of the model's external libraries, none until loaded
  int32_t qiErr;                  // QiErr of the last model call
  ModelData* modelData;           // the instance's copy of the model's template, owned
  uint64_t inlineStepCounter;     // completed fixed steps of the inline integration
  int32_t useStateSnapshots;      // a constant of the generated model, copied at instantiation
  int32_t* booleanReapplyValues;  // [k+1] for the model's k Boolean references re-applied after
                                  // each event-iteration step
  tpl_blob* modelDataBlob;        // owned by the instance and shared by its FMU states
};

// declare_ fills either table through its one strings parameter: at instantiation the buffers'
// table, at reset the table of start values.
static_assert(std::is_same_v<decltype(ModelInstance::strings), decltype(ModelInstance::stringStarts)>);

// The only instance of a model without a per-instance data block; null otherwise. While it is
// set it is the target of every runtime message.
extern ModelInstance* singleInstance;

// Indices into fmiFunctionNames, named for the operation whose messages use the entry. Some
// strings repeat under different indices; entry fmiNameExitInitializationModeCS is
// "fmiExitInitializationMode" (without the 2), as the host sees it.
enum FmiFunctionName {
  fmiNameBeforeInitialization = 0,  // the getters' "Not allowed before call of %s"
  fmiNameGetString,
  fmiNameSetString,
  fmiNameGetFMUstate,
  fmiNameSetFMUstate,
  fmiNameFreeFMUstate,
  fmiNameGetDirectionalDerivative,
  fmiNameSetupExperiment,
  fmiNameInstantiateME,
  fmiNameSetTime,
  fmiNameSetContinuousStates,
  fmiNameEnterInitializationModeME,
  fmiNameExitInitializationModeME,
  fmiNameEnterEventMode,
  fmiNameEnterContinuousTimeMode,
  fmiNameNewDiscreteStates,
  fmiNameCompletedIntegratorStep,
  fmiNameTerminateME,
  fmiNameGetDerivatives,
  fmiNameGetEventIndicators,
  fmiNameGetContinuousStates,
  fmiNameGetNominalsOfContinuousStates,
  fmiNameSetClock,
  fmiNameGetClock,
  fmiNameSetInterval,
  fmiNameGetInterval,
  fmiNameInstantiateCS,
  fmiNameEnterInitializationModeCS,
  fmiNameExitInitializationModeCS,
  fmiNameTerminateCS,
  fmiNameReset,
  fmiNameSetRealInputDerivatives,
  fmiNameGetRealOutputDerivatives,
  fmiNameDoStep,
  fmiNameHybridDoStep,
  fmiNameCancelStep,
  fmiNameGetStatus,
  fmiNameGetRealStatus,
  fmiNameGetIntegerStatus,
  fmiNameGetBooleanStatus,
  fmiNameGetStringStatus,
  fmiNameCount
};

extern const char* const fmiFunctionNames[fmiNameCount];

// The calls that need no model; none of them logs.
const char* fmiGetTypesPlatform(void);
const char* fmiGetVersion(void);
// Stores loggingOn and ignores the categories; allowed in every mode and always fmi2OK, also
// for a null instance, where it changes nothing.
fmi2Status fmiSetDebugLogging(ModelInstance* instance, fmi2Boolean loggingOn, size_t nCategories,
                              const fmi2String categories[]);
