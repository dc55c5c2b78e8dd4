#include "modes.h"

#include <cstdint>

#include "messages.h"

namespace {

constexpr uint32_t bit(int mode) { return 1u << mode; }
constexpr uint32_t everyMode = 0xFFu;
constexpr uint32_t eventModes = bit(2) | bit(modeEvent) | bit(modeEventIterating) | bit(modeEventDone);

// How a refusal text takes its arguments.
enum RefusalArguments {
  refusalName,         // "%s: ..." with the call's name
  refusalNameTwice,    // "%s: ... %s" with the call's name twice
  refusalBeforeInit,   // "%s: ... %s" with the name, then "fmi2EnterInitializationMode"
  refusalMode,         // "... (%d)" with the mode, no name
};

struct ModeRule {
  uint32_t accepted;  // one bit per mode code
  const char* refusal;
  RefusalArguments arguments;
};

// Modes the calls are accepted in before the special rules below; unknown mode codes are never
// accepted.
const ModeRule rules[callCount] = {
    /* callEnterInitializationMode */
    {bit(modeInstantiated), "model cannot be initialized in current state(%d)", refusalMode},
    /* callExitInitializationMode */
    {bit(modeInitialization), "%s: may only called in initialization mode", refusalName},
    /* callEnterEventMode */
    {bit(modeContinuousTime), "%s: may only be called in continuous time mode", refusalName},
    /* callNewDiscreteStates */
    {eventModes, "%s: may only be called in event mode", refusalName},
    /* callEnterContinuousTimeMode */
    {bit(modeEventDone), "%s: may only be called when exited event mode", refusalName},
    /* callSetTime */
    {bit(modeInstantiated) | bit(modeContinuousTime), "%s: not allowed in this state", refusalName},
    /* callDoStep */
    {bit(2) | bit(modeEvent) | bit(modeEventIterating) | bit(modeEventDone) | bit(modeContinuousTime),
     "%s: model is terminated", refusalName},
    /* callTerminate */
    {everyMode & ~bit(modeTerminated), "%s: already terminated, ignoring call", refusalName},
    /* callGetValues */
    {everyMode & ~bit(modeInstantiated), "%s: Not allowed before call of %s", refusalBeforeInit},
    /* callGetDerivatives */
    {everyMode & ~bit(modeInstantiated), "%s: fmi2EnterInitializationMode must be called before calling %s",
     refusalNameTwice},
    /* callGetContinuousStates */
    {everyMode & ~bit(modeInstantiated), "%s: fmiEnterInitializationMode must be called before calling %s",
     refusalNameTwice},
    /* callGetEventIndicators */
    {everyMode & ~(bit(modeInstantiated) | bit(modeInitialization)),
     "%s: fmi2ExitInitializationMode must be called before calling %s", refusalNameTwice},
    /* callInputOutputDerivatives */
    {everyMode & ~bit(modeInstantiated), "%s: fmi2EnterInitializationMode must be called before calling %s",
     refusalNameTwice},
};

bool inMask(uint32_t mask, int32_t mode) { return mode >= 0 && mode < 8 && (mask & bit(mode)) != 0; }

void refuse(ModelInstance* instance, const char* format, RefusalArguments arguments, const char* name) {
  switch (arguments) {
    case refusalName:
      fmiLog(instance, fmi2Warning, format, name);
      break;
    case refusalNameTwice:
      fmiLog(instance, fmi2Warning, format, name, name);
      break;
    case refusalBeforeInit:
      fmiLog(instance, fmi2Warning, format, name, fmiFunctionNames[fmiNameBeforeInitialization]);
      break;
    case refusalMode:
      fmiLog(instance, fmi2Warning, format, static_cast<int>(instance->mode));
      break;
  }
}

}  // namespace

bool fmiModeAccepts(ModelInstance* instance, FmiModeCall call, const char* name) {
  const ModeRule& rule = rules[call];
  int32_t mode = instance->mode;
  switch (call) {
    case callNewDiscreteStates:
      if (mode == modeContinuousTime && (instance->nx == 0 || instance->fmuType == fmi2CoSimulation))
        mode = modeEvent;
      if (!inMask(rule.accepted, mode)) break;
      if (mode != modeEventIterating) instance->mode = modeEvent;
      return true;
    case callSetTime:
      if (mode == modeEventDone) {
        if (instance->nx == 0) {
          instance->mode = modeContinuousTime;
          return true;
        }
        refuse(instance, "%s: only allowed for discrete models when not in continuous time mode", refusalName,
               name);
        return false;
      }
      break;
    case callDoStep:
      if (mode == modeInstantiated || mode == modeInitialization) {
        refuse(instance, "%s: Initialization must be finished before calling fmiDoStep", refusalName, name);
        return false;
      }
      if (instance->terminatedByModel) {
        refuse(instance, rule.refusal, rule.arguments, name);
        return false;
      }
      break;
    default:
      break;
  }
  if (inMask(rule.accepted, mode)) return true;
  refuse(instance, rule.refusal, rule.arguments, name);
  return false;
}
