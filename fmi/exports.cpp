// The unit's exported functions: each forwards to the operation that implements it.
#include "directional.h"
#include "fmi2.h"
#include "fmustate.h"
#include "initialize.h"
#include "instance.h"
#include "instantiate.h"
#include "modelexchange.h"
#include "reset.h"
#include "stepping.h"
#include "values.h"

namespace {
ModelInstance* instanceOf(fmi2Component c) { return static_cast<ModelInstance*>(c); }
}  // namespace

extern "C" {

FMI2_EXPORT const char* fmi2GetTypesPlatform(void) { return fmiGetTypesPlatform(); }
FMI2_EXPORT const char* fmi2GetVersion(void) { return fmiGetVersion(); }
FMI2_EXPORT fmi2Status fmi2SetDebugLogging(fmi2Component c, fmi2Boolean loggingOn, size_t nCategories,
                                           const fmi2String categories[]) {
  return fmiSetDebugLogging(instanceOf(c), loggingOn, nCategories, categories);
}

FMI2_EXPORT fmi2Component fmi2Instantiate(fmi2String instanceName, fmi2Type fmuType, fmi2String fmuGUID,
                                          fmi2String fmuResourceLocation, const fmi2CallbackFunctions* functions,
                                          fmi2Boolean visible, fmi2Boolean loggingOn) {
  return fmiInstantiate(instanceName, fmuType, fmuGUID, fmuResourceLocation, functions, visible, loggingOn);
}
FMI2_EXPORT void fmi2FreeInstance(fmi2Component c) { fmiFreeInstance(instanceOf(c)); }
FMI2_EXPORT fmi2Status fmi2SetupExperiment(fmi2Component c, fmi2Boolean toleranceDefined, fmi2Real tolerance,
                                           fmi2Real startTime, fmi2Boolean stopTimeDefined, fmi2Real stopTime) {
  return fmiSetupExperiment(instanceOf(c), toleranceDefined, tolerance, startTime, stopTimeDefined, stopTime);
}
FMI2_EXPORT fmi2Status fmi2EnterInitializationMode(fmi2Component c) {
  return fmiEnterInitializationMode(instanceOf(c));
}
FMI2_EXPORT fmi2Status fmi2ExitInitializationMode(fmi2Component c) { return fmiExitInitializationMode(instanceOf(c)); }
FMI2_EXPORT fmi2Status fmi2Terminate(fmi2Component c) { return fmiTerminate(instanceOf(c)); }
FMI2_EXPORT fmi2Status fmi2Reset(fmi2Component c) { return fmiReset(instanceOf(c)); }

FMI2_EXPORT fmi2Status fmi2GetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
  return fmiGetReal(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2GetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Integer value[]) {
  return fmiGetInteger(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2GetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      fmi2Boolean value[]) {
  return fmiGetBoolean(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2GetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                     fmi2String value[]) {
  return fmiGetString(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2SetReal(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                   const fmi2Real value[]) {
  return fmiSetReal(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2SetInteger(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer value[]) {
  return fmiSetInteger(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2SetBoolean(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Boolean value[]) {
  return fmiSetBoolean(instanceOf(c), vr, nvr, value);
}
FMI2_EXPORT fmi2Status fmi2SetString(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                     const fmi2String value[]) {
  return fmiSetString(instanceOf(c), vr, nvr, value);
}

FMI2_EXPORT fmi2Status fmi2GetFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
  return fmiGetFMUstate(instanceOf(c), reinterpret_cast<ModelInstance**>(FMUstate));
}
FMI2_EXPORT fmi2Status fmi2SetFMUstate(fmi2Component c, fmi2FMUstate FMUstate) {
  return fmiSetFMUstate(instanceOf(c), static_cast<ModelInstance*>(FMUstate));
}
FMI2_EXPORT fmi2Status fmi2FreeFMUstate(fmi2Component c, fmi2FMUstate* FMUstate) {
  return fmiFreeFMUstate(instanceOf(c), reinterpret_cast<ModelInstance**>(FMUstate));
}
FMI2_EXPORT fmi2Status fmi2SerializedFMUstateSize(fmi2Component c, fmi2FMUstate FMUstate, size_t* size) {
  return fmiSerializedFMUstateSize(instanceOf(c), static_cast<ModelInstance*>(FMUstate), size);
}
FMI2_EXPORT fmi2Status fmi2SerializeFMUstate(fmi2Component c, fmi2FMUstate FMUstate, fmi2Byte serializedState[],
                                             size_t size) {
  return fmiSerializeFMUstate(instanceOf(c), static_cast<ModelInstance*>(FMUstate), serializedState, size);
}
FMI2_EXPORT fmi2Status fmi2DeSerializeFMUstate(fmi2Component c, const fmi2Byte serializedState[], size_t size,
                                               fmi2FMUstate* FMUstate) {
  return fmiDeSerializeFMUstate(instanceOf(c), serializedState, size, reinterpret_cast<ModelInstance**>(FMUstate));
}
FMI2_EXPORT fmi2Status fmi2GetDirectionalDerivative(fmi2Component c, const fmi2ValueReference vUnknown_ref[],
                                                    size_t nUnknown, const fmi2ValueReference vKnown_ref[],
                                                    size_t nKnown, const fmi2Real dvKnown[], fmi2Real dvUnknown[]) {
  return fmiGetDirectionalDerivative(instanceOf(c), vUnknown_ref, nUnknown, vKnown_ref, nKnown, dvKnown, dvUnknown);
}
FMI2_EXPORT fmi2Status fmi2EnterEventMode(fmi2Component c) { return fmiEnterEventMode(instanceOf(c)); }
FMI2_EXPORT fmi2Status fmi2NewDiscreteStates(fmi2Component c, fmi2EventInfo* eventInfo) {
  return fmiNewDiscreteStates(instanceOf(c), eventInfo);
}
FMI2_EXPORT fmi2Status fmi2EnterContinuousTimeMode(fmi2Component c) {
  return fmiEnterContinuousTimeMode(instanceOf(c));
}
FMI2_EXPORT fmi2Status fmi2CompletedIntegratorStep(fmi2Component c, fmi2Boolean noSetFMUStatePriorToCurrentPoint,
                                                   fmi2Boolean* enterEventMode, fmi2Boolean* terminateSimulation) {
  return fmiCompletedIntegratorStep(instanceOf(c), noSetFMUStatePriorToCurrentPoint, enterEventMode,
                                    terminateSimulation);
}
FMI2_EXPORT fmi2Status fmi2SetTime(fmi2Component c, fmi2Real time) { return fmiSetTime(instanceOf(c), time); }
FMI2_EXPORT fmi2Status fmi2SetContinuousStates(fmi2Component c, const fmi2Real x[], size_t nx) {
  return fmiSetContinuousStates(instanceOf(c), x, nx);
}
FMI2_EXPORT fmi2Status fmi2GetDerivatives(fmi2Component c, fmi2Real derivatives[], size_t nx) {
  return fmiGetDerivatives(instanceOf(c), derivatives, nx);
}
FMI2_EXPORT fmi2Status fmi2GetEventIndicators(fmi2Component c, fmi2Real eventIndicators[], size_t ni) {
  return fmiGetEventIndicators(instanceOf(c), eventIndicators, ni);
}
FMI2_EXPORT fmi2Status fmi2GetContinuousStates(fmi2Component c, fmi2Real x[], size_t nx) {
  return fmiGetContinuousStates(instanceOf(c), x, nx);
}
FMI2_EXPORT fmi2Status fmi2GetNominalsOfContinuousStates(fmi2Component c, fmi2Real x_nominal[], size_t nx) {
  return fmiGetNominalsOfContinuousStates(instanceOf(c), x_nominal, nx);
}

FMI2_EXPORT fmi2Status fmi2SetRealInputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                                   const fmi2Integer order[], const fmi2Real value[]) {
  return fmiSetRealInputDerivatives(instanceOf(c), vr, nvr, order, value);
}
FMI2_EXPORT fmi2Status fmi2GetRealOutputDerivatives(fmi2Component c, const fmi2ValueReference vr[], size_t nvr,
                                                    const fmi2Integer order[], fmi2Real value[]) {
  return fmiGetRealOutputDerivatives(instanceOf(c), vr, nvr, order, value);
}
FMI2_EXPORT fmi2Status fmi2DoStep(fmi2Component c, fmi2Real currentCommunicationPoint, fmi2Real communicationStepSize,
                                  fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
  return fmiDoStep(instanceOf(c), currentCommunicationPoint, communicationStepSize, noSetFMUStatePriorToCurrentPoint);
}
FMI2_EXPORT fmi2Status fmi2CancelStep(fmi2Component c) { return fmiCancelStep(instanceOf(c)); }
FMI2_EXPORT fmi2Status fmi2GetStatus(fmi2Component c, const fmi2StatusKind s, fmi2Status* value) {
  return fmiGetStatus(instanceOf(c), s, value);
}
FMI2_EXPORT fmi2Status fmi2GetRealStatus(fmi2Component c, const fmi2StatusKind s, fmi2Real* value) {
  return fmiGetRealStatus(instanceOf(c), s, value);
}
FMI2_EXPORT fmi2Status fmi2GetIntegerStatus(fmi2Component c, const fmi2StatusKind s, fmi2Integer* value) {
  return fmiGetIntegerStatus(instanceOf(c), s, value);
}
FMI2_EXPORT fmi2Status fmi2GetBooleanStatus(fmi2Component c, const fmi2StatusKind s, fmi2Boolean* value) {
  return fmiGetBooleanStatus(instanceOf(c), s, value);
}
FMI2_EXPORT fmi2Status fmi2GetStringStatus(fmi2Component c, const fmi2StatusKind s, fmi2String* value) {
  return fmiGetStringStatus(instanceOf(c), s, value);
}

}  // extern "C"
