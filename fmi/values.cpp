#include "values.h"

#include <cstdint>
#include <cstring>

#include "evaluate.h"
#include "integrator.h"
#include "messages.h"
#include "modeldata.h"
#include "modes.h"
#include "saturate.h"

namespace {

enum NumericType { typeReal, typeInteger, typeBoolean };

// One member of the numeric families: its message prefix and the letter of its references.
struct NumericMember {
  const char* name;
  char letter;
  NumericType type;
};

const NumericMember realSetter = {"fmiSetReal", 'r', typeReal};
const NumericMember integerSetter = {"fmiSetInteger", 'i', typeInteger};
const NumericMember booleanSetter = {"fmiSetBoolean", 'b', typeBoolean};
const NumericMember realGetter = {"fmiGetReal", 'r', typeReal};
const NumericMember integerGetter = {"fmiGetInteger", 'i', typeInteger};
const NumericMember booleanGetter = {"fmiGetBoolean", 'b', typeBoolean};

double* categoryArray(const ModelInstance* instance, int category, uint64_t* count) {
  switch (category) {
    case categoryParameter:
      *count = instance->np;
      return instance->parameters;
    case categoryState:
      *count = instance->nx;
      return instance->states;
    case categoryDerivative:
      *count = instance->nx;
      return instance->derivatives;
    case categoryOutput:
      *count = instance->ny;
      return instance->outputs;
    case categoryInput:
      *count = instance->nu;
      return instance->inputs;
    case categoryAuxiliary:
      *count = instance->nw;
      return instance->auxiliaries;
    case categoryExtra:
    case categoryExtra2:
      *count = instance->nExtra;
      return instance->extraValues;
    default:
      *count = 0;
      return nullptr;
  }
}

// Whether a setter may change a variable of the category in the instance's current mode.
bool settableNow(const ModelInstance* instance, int category) {
  switch (category) {
    case categoryDerivative:
    case categoryOutput:
      return instance->mode == modeInstantiated;
    case categoryAuxiliary:
      return instance->mode == modeInstantiated || instance->mode == modeInitialization ||
             instance->solverInts[solverIntInlineIntegration] != 0 || instance->useStateSnapshots;
    default:
      return true;
  }
}

double hostValue(NumericType type, const void* values, size_t i) {
  switch (type) {
    case typeReal:
      return static_cast<const fmi2Real*>(values)[i];
    case typeInteger:
      return static_cast<const fmi2Integer*>(values)[i];
    case typeBoolean:
      return static_cast<const fmi2Boolean*>(values)[i];
  }
  return 0.0;
}

// Refuses null arrays that the host claims hold nvr > 0 entries.
bool argumentsPresent(ModelInstance* instance, const char* name, const void* vr, size_t nvr, const void* value) {
  if (nvr == 0) return true;
  if (!vr) {
    fmiLog(instance, fmi2Warning, "%s: vr == NULL", name);
    return false;
  }
  if (!value) {
    fmiLog(instance, fmi2Warning, "%s: value == NULL", name);
    return false;
  }
  return true;
}

fmi2Status setNumeric(ModelInstance* instance, const NumericMember& member, const fmi2ValueReference vr[],
                      size_t nvr, const void* values) {
  if (!instance) return fmi2Warning;
  if (!argumentsPresent(instance, member.name, vr, nvr, values)) return fmi2Warning;
  fmi2Status status = fmi2OK;
  bool changed = false;
  for (size_t i = 0; i < nvr; ++i) {
    double* slot = fmiNumericValue(instance, vr[i]);
    if (!slot) {
      fmiLog(instance, fmi2Warning, "%s: cannot set #%c%u#  ", member.name, member.letter, vr[i]);
      status = fmi2Warning;
      break;
    }
    ValueReference reference = fmiDecodeReference(vr[i]);
    if (!settableNow(instance, reference.category)) {
      fmiLog(instance, fmi2Warning, "%s: may not change #%c%u# at this stage, setting of variable ignored",
             member.name, member.letter, vr[i]);
      status = fmi2Warning;
      break;
    }
    double value = hostValue(member.type, values, i);
    if (!(*slot == value)) {
      *slot = value;
      changed = true;
      if (reference.category == categoryParameter) SaturatingIncrement(instance->solverInts[solverIntChangeCounter]);
      if (reference.category == categoryInput && instance->fmuType == fmi2CoSimulation && instance->integrator)
        integratorSetInputBase(instance, static_cast<int>(reference.index));
    }
    fmiLog(instance, fmi2OK, "%s: #%c%u# = %g", member.name, member.letter, vr[i], value);
  }
  // Values stored before a refusal invalidate the evaluation as much as a complete call does.
  if (changed) {
    instance->levelReached = 0;
    instance->valuesChanged = 1;
    instance->jacobianStale = 1;
  }
  return status;
}

// The level the model must have reached: the highest among the valid references before the
// first invalid one (which the call will refuse).
int levelNeeded(const ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, bool strings) {
  int level = 0;
  for (size_t i = 0; i < nvr; ++i) {
    bool valid = strings ? fmiIsStringReference(instance, vr[i]) : fmiNumericValue(instance, vr[i]) != nullptr;
    if (!valid) break;
    int needed = fmiDecodeReference(vr[i]).level;
    if (needed > level) level = needed;
  }
  return level;
}

fmi2Status getNumeric(ModelInstance* instance, const NumericMember& member, const fmi2ValueReference vr[],
                      size_t nvr, void* values) {
  if (!instance) return fmi2Warning;
  if (!argumentsPresent(instance, member.name, vr, nvr, values)) return fmi2Warning;
  if (!fmiModeAccepts(instance, callGetValues, member.name)) return fmi2Warning;
  int level = levelNeeded(instance, vr, nvr, false);
  bool evaluate = instance->mode != modeTerminated &&
                  ((instance->mode != modeInitialization && instance->levelReached < level) ||
                   (instance->mode == modeInitialization && instance->valuesChanged) ||
                   instance->inDirectionalDerivative);
  if (evaluate) {
    int demand = instance->inDirectionalDerivative && level < demandOutputs ? demandAll : level;
    int qiErr = fmiEvaluateModel(instance, demand, nullptr, nullptr);
    if (qiErr != 0) {
      fmi2Status status = fmiFailureStatus(qiErr, member.type == typeReal);
      fmiLog(instance, status, "%s: dsblock_ failed, QiErr = %d", member.name, qiErr);
      return status == fmi2Discard ? status : fmiErrorExit(instance);
    }
  }
  for (size_t i = 0; i < nvr; ++i) {
    const double* slot = fmiNumericValue(instance, vr[i]);
    if (!slot) {
      fmiLog(instance, fmi2Warning, "%s: cannot get #%c%u#", member.name, member.letter, vr[i]);
      return fmi2Warning;
    }
    double delivered = *slot;
    if (member.type == typeReal) {
      static_cast<fmi2Real*>(values)[i] = delivered;
    } else {
      int32_t truncated = SaturatingInt(delivered);
      static_cast<fmi2Integer*>(values)[i] = truncated;
      delivered = truncated;
    }
    fmiLog(instance, fmi2OK, "%s: #%c%u# = %g", member.name, member.letter, vr[i], delivered);
  }
  return fmi2OK;
}

}  // namespace

double* fmiNumericValue(const ModelInstance* instance, fmi2ValueReference vr) {
  ValueReference reference = fmiDecodeReference(vr);
  if (reference.level > referenceLevelLimit) return nullptr;
  uint64_t count = 0;
  double* array = categoryArray(instance, reference.category, &count);
  if (!array || reference.index >= count) return nullptr;
  return array + reference.index;
}

bool fmiIsStringReference(const ModelInstance* instance, fmi2ValueReference vr) {
  ValueReference reference = fmiDecodeReference(vr);
  return reference.category == categoryString && reference.level <= referenceLevelLimit && instance->strings &&
         reference.index < instance->ns && instance->strings[reference.index];
}

fmi2Status fmiSetReal(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, const fmi2Real value[]) {
  return setNumeric(instance, realSetter, vr, nvr, value);
}

fmi2Status fmiSetInteger(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Integer value[]) {
  return setNumeric(instance, integerSetter, vr, nvr, value);
}

fmi2Status fmiSetBoolean(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                         const fmi2Boolean value[]) {
  return setNumeric(instance, booleanSetter, vr, nvr, value);
}

fmi2Status fmiGetReal(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2Real value[]) {
  return getNumeric(instance, realGetter, vr, nvr, value);
}

fmi2Status fmiGetInteger(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2Integer value[]) {
  return getNumeric(instance, integerGetter, vr, nvr, value);
}

fmi2Status fmiGetBoolean(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2Boolean value[]) {
  return getNumeric(instance, booleanGetter, vr, nvr, value);
}

fmi2Status fmiSetString(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, const fmi2String value[]) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameSetString];
  if (!argumentsPresent(instance, name, vr, nvr, value)) return fmi2Warning;
  for (size_t i = 0; i < nvr; ++i) {
    if (!fmiIsStringReference(instance, vr[i])) {
      fmiLog(instance, fmi2Warning, "%s: cannot set #s%u#  ", name, vr[i]);
      return fmi2Warning;
    }
    if (!value[i]) {
      fmiLog(instance, fmi2Warning, "%s: value[%zu] == NULL", name, i);
      return fmi2Warning;
    }
    char* buffer = instance->strings[fmiDecodeReference(vr[i]).index];
    size_t length = strnlen(value[i], stringValueLimit);
    memmove(buffer, value[i], length);
    buffer[length] = '\0';
    buffer[stringValueLimit] = '\0';
    SaturatingIncrement(instance->solverInts[solverIntChangeCounter]);
    fmiLog(instance, fmi2OK, "%s: #s%u# = %s", name, vr[i], value[i]);
  }
  return fmi2OK;
}

fmi2Status fmiGetString(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr, fmi2String value[]) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameGetString];
  if (!argumentsPresent(instance, name, vr, nvr, value)) return fmi2Warning;
  if (!fmiModeAccepts(instance, callGetValues, name)) return fmi2Warning;
  int level = levelNeeded(instance, vr, nvr, true);
  if (instance->levelReached < level || (instance->mode == modeInitialization && instance->valuesChanged)) {
    if (fmiEvaluateModel(instance, level, name, nullptr) != 0) return fmiErrorExit(instance);
  }
  for (size_t i = 0; i < nvr; ++i) {
    if (!fmiIsStringReference(instance, vr[i])) {
      fmiLog(instance, fmi2Warning, "%s: cannot get #s%u#", name, vr[i]);
      return fmi2Warning;
    }
    value[i] = instance->strings[fmiDecodeReference(vr[i]).index];
    fmiLog(instance, fmi2OK, "%s: #s%u# = %s", name, vr[i], value[i]);
  }
  return fmi2OK;
}
