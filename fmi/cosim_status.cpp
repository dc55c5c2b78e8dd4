// The status functions of Co-Simulation. fmi2DoStep never runs asynchronously, so there is no
// step to cancel or to ask about; what remains is the last successful time and whether the model
// asked to terminate. No mode check and no model call.
#include "messages.h"
#include "stepping.h"

namespace {

fmi2Status unknownKind(ModelInstance* instance, FmiFunctionName name, fmi2StatusKind kind) {
  fmiLog(instance, fmi2Discard, "%s: fmiStatusKind %d unknown", fmiFunctionNames[name], static_cast<int>(kind));
  return fmi2Discard;
}

fmi2Status noAsynchronousStep(ModelInstance* instance, FmiFunctionName name) {
  fmiLog(instance, fmi2Discard, "%s: not supported since asynchronous execution of fmiDoStep is not supported",
         fmiFunctionNames[name]);
  return fmi2Discard;
}

bool refuseNullValue(ModelInstance* instance, FmiFunctionName name, const void* value) {
  if (value) return false;
  fmiLog(instance, fmi2Warning, "%s: value == NULL", fmiFunctionNames[name]);
  return true;
}

}  // namespace

fmi2Status fmiCancelStep(ModelInstance* instance) {
  if (!instance) return fmi2Discard;
  fmiLog(instance, fmi2Discard, "%s: asynchronous execution of fmiDoStep is not supported",
         fmiFunctionNames[fmiNameCancelStep]);
  return fmi2Discard;
}

fmi2Status fmiGetStatus(ModelInstance* instance, fmi2StatusKind, fmi2Status*) {
  if (!instance) return fmi2Discard;
  return noAsynchronousStep(instance, fmiNameGetStatus);
}

fmi2Status fmiGetStringStatus(ModelInstance* instance, fmi2StatusKind, fmi2String*) {
  if (!instance) return fmi2Discard;
  return noAsynchronousStep(instance, fmiNameGetStringStatus);
}

fmi2Status fmiGetRealStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Real* value) {
  if (!instance) return fmi2Discard;
  if (kind != fmi2LastSuccessfulTime) return unknownKind(instance, fmiNameGetRealStatus, kind);
  if (refuseNullValue(instance, fmiNameGetRealStatus, value)) return fmi2Warning;
  *value = instance->time;
  return fmi2OK;
}

fmi2Status fmiGetIntegerStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Integer*) {
  if (!instance) return fmi2Discard;
  return unknownKind(instance, fmiNameGetIntegerStatus, kind);
}

fmi2Status fmiGetBooleanStatus(ModelInstance* instance, fmi2StatusKind kind, fmi2Boolean* value) {
  if (!instance) return fmi2Discard;
  if (kind != fmi2Terminated) return unknownKind(instance, fmiNameGetBooleanStatus, kind);
  if (refuseNullValue(instance, fmiNameGetBooleanStatus, value)) return fmi2Warning;
  *value = instance->terminatedByModel;
  return fmi2OK;
}
