#include "stepping.h"

#include <cmath>

#include "evaluate.h"
#include "integrator.h"
#include "messages.h"
#include "model.h"
#include "modelexchange.h"
#include "modes.h"
#include "results.h"
#include "values.h"

namespace {

// Communication points within this distance of the instance time are the instance time.
double communicationTolerance(double time) { return (std::fabs(time) + 1.0) * 0x1p-50; }

// Slack of the inline integration: steps up to 0.1 step past the end, communication points up
// to 1.5 steps off.
constexpr double inlineEndSlack = 0.1;
constexpr double inlinePointAllowance = 1.5;

bool inlineIntegration(const ModelInstance* instance) { return instance->solverInts[solverIntInlineIntegration] != 0; }

// Whether the input derivatives make any input move (all of them 0 keep the inputs constant).
bool inputsMove(const ModelInstance* instance) {
  for (uint64_t i = 0; i < instance->nu; ++i)
    if (instance->integrator->inputDerivatives[i] != 0.0) return true;
  return false;
}

// Result generation's sample at a point of a step, written at once when the host has said it
// will not restore a state before the step's start.
void samplePoint(ModelInstance* instance, fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
  if (!instance->resultGeneration) return;
  resultSample(instance, 1);
  if (noSetFMUStatePriorToCurrentPoint == fmi2True) resultBufferFlush(instance);
}

// The checks before a step: refusals that change nothing, and the step's end in *tEnd (clipped
// to the stop time).
// fmi2OK to go on; any other status is the call's result.
fmi2Status checkStep(ModelInstance* instance, const char* name, double point, double step, double* tEnd) {
  if (!fmiModeAccepts(instance, callDoStep, name)) return fmi2Warning;
  if (!fmiFiniteArgument(instance, name, "currentCommunicationPoint", point)) return fmi2Warning;
  if (!std::isfinite(step) || step < 0.0) {
    fmiLog(instance, fmi2Warning, "%s: communicationStepSize = %g must be finite and not negative", name, step);
    return fmi2Warning;
  }
  double offset = std::fabs(instance->time - point);
  bool off = offset >= communicationTolerance(instance->time);
  if (off && inlineIntegration(instance))
    off = offset > inlinePointAllowance * instance->solverReals[solverRealInlineStepSize];
  if (off) {
    fmiLog(instance, fmi2Warning, "%s: currentCommunicationPoint = %.16f, expected %.16f", name, point, instance->time);
    return fmi2Warning;
  }
  *tEnd = point + step;
  // A step of size 0, or one too small to move the time at all, only iterates events at the
  // current time, wherever the stop time lies.
  if (*tEnd == point) return fmi2OK;
  if (instance->stopTimeDefined && *tEnd - instance->stopTime > 0.0) {
    double excess = *tEnd - instance->stopTime;
    if (excess > 2.0 * communicationTolerance(instance->stopTime)) {
      fmiLog(instance, fmi2Warning, "%s: trying to compute past tStop = %f, to %.16f,  at t = %f", name,
             instance->stopTime, *tEnd, instance->time);
      return fmi2Warning;
    }
    fmiLog(instance, fmi2OK, "t = %f: Reducing communicationStepSize %.16e s to avoid passing tStop.\n", instance->time,
           excess);
    *tEnd = instance->stopTime;
  }
  return fmi2OK;
}

// The fixed-step inline integration of the generated model (which this model switches off):
// steps at k * h, counted on from the last completed one.
fmi2Status inlineSteps(ModelInstance* instance, double tEnd) {
  double h = instance->solverReals[solverRealInlineStepSize];
  for (uint64_t k = instance->inlineStepCounter + 1;; ++k) {
    double tk = static_cast<double>(k) * h;
    if (!(tk < tEnd + inlineEndSlack * h)) break;
    fmiSetTimeUnchecked(instance, tk);
    fmi2Status status = fmiDoStepEventUpdate(instance);
    if (status != fmi2OK) return status;
    instance->inlineStepCounter = k;
  }
  return fmi2OK;
}

// CVODE from the instance time to tEnd: to each pending time event, with its event iteration,
// and to the end (an event exactly at the end is handled within this step).
fmi2Status integrateTo(ModelInstance* instance, const char* name, double tEnd, fmi2Boolean noSetPrior) {
  bool eventAtEnd = false;
  for (;;) {
    double t = instance->time;
    double nextEvent = instance->solverReals[solverRealNextTimeEvent];
    // The model's "no time event" value (1e100) is no event at 1e100: a step that reaches it
    // must not iterate there for ever.
    if (nextEvent >= noTimeEvent) nextEvent = INFINITY;
    if (t >= tEnd && !(nextEvent == tEnd && !eventAtEnd)) return fmi2OK;
    if (nextEvent > t) {
      double target = nextEvent < tEnd ? nextEvent : tEnd;
      int result = integratorIntegrate(instance, target);
      if (result == 1) {
        fmiLog(instance, fmi2Error, "%s: integration_step failed", name);
        return fmiErrorExit(instance);
      }
      if (result == 2) {
        fmiLog(instance, fmi2Discard, "%s: simulation terminated by model", name);
        instance->terminatedByModel = 1;
        return fmi2Discard;
      }
      fmiSetTimeUnchecked(instance, target);
      integratorExtrapolateInputs(instance, target);
      if (instance->solverInts[solverIntStepEvent] == 0) continue;
    } else {
      fmiSetTimeUnchecked(instance, nextEvent);
      if (instance->time == tEnd) eventAtEnd = true;
    }
    samplePoint(instance, noSetPrior);
    fmi2Status status = fmiDoStepEventUpdate(instance);
    if (status != fmi2OK) return status;
    samplePoint(instance, noSetPrior);
    // An event iteration at a time event moves the next time event past it. One that stays
    // (a model in a state the unit never made, restored from an image) would have the loop
    // iterate at this time for ever.
    if (nextEvent <= t && !eventAtEnd && !(instance->solverReals[solverRealNextTimeEvent] > instance->time)) {
      fmiLog(instance, fmi2Error, "%s: the next time event (t = %.16g) does not follow the time event at t = %.16g",
             name, instance->solverReals[solverRealNextTimeEvent], instance->time);
      return fmiErrorExit(instance);
    }
  }
}

}  // namespace

fmi2Status fmiDoStepEventUpdate(ModelInstance* instance) {
  int terminated = 0;
  fmi2Status status = fmiEventUpdate(instance, &terminated);
  if (status != fmi2OK) return status;
  if (terminated) {
    fmiLog(instance, fmi2Discard, "fmiDoStep: simulation terminated by model");
    instance->terminatedByModel = 1;
    return fmi2Discard;
  }
  if (!inlineIntegration(instance) && integratorReInit(instance)) return fmiErrorExit(instance);
  return fmi2OK;
}

fmi2Status fmiDoStep(ModelInstance* instance, double currentCommunicationPoint, double communicationStepSize,
                     fmi2Boolean noSetFMUStatePriorToCurrentPoint) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameDoStep];
  double tEnd = 0.0;
  fmi2Status status = checkStep(instance, name, currentCommunicationPoint, communicationStepSize, &tEnd);
  if (status != fmi2OK) return status;
  if (tEnd == currentCommunicationPoint) return fmiDoStepEventUpdate(instance);

  if (instance->valuesChanged) {
    status = fmiDoStepEventUpdate(instance);
    instance->valuesChanged = 0;
    if (status != fmi2OK) return status;
  } else if (instance->levelReached < 2) {
    int qiErr = fmiEvaluateModel(instance, 2, name, nullptr);
    if (qiErr != 0) return fmiDiscardOrErrorExit(instance, qiErr);
  }

  if (inlineIntegration(instance)) {
    uint64_t stepsBefore = instance->inlineStepCounter;
    status = inlineSteps(instance, tEnd);
    if (status != fmi2OK) return status;
    if (instance->inlineStepCounter != stepsBefore) samplePoint(instance, noSetFMUStatePriorToCurrentPoint);
  } else {
    if (instance->integrator && instance->integrator->restartPending && integratorReInit(instance))
      return fmiErrorExit(instance);
    status = integrateTo(instance, name, tEnd, noSetFMUStatePriorToCurrentPoint);
    if (status != fmi2OK) return status;
    instance->time = tEnd;
    samplePoint(instance, noSetFMUStatePriorToCurrentPoint);
    // Input derivatives set by the host hold for one step; the inputs then stay where they are,
    // so CVODE's last step, computed on with the extrapolated inputs past tEnd, must not be
    // continued when they moved.
    CoSimIntegrator* integrator = instance->integrator;
    if (integrator && integrator->inputDerivativesValid) {
      integrator->inputDerivativesValid = 0;
      if (inputsMove(instance)) integrator->restartPending = 1;
    }
  }
  fmiLog(instance, fmi2OK, "%s", name);
  return fmi2OK;
}

// ---- Input and output derivatives -----------------------------------------------------------------

namespace {

// The refusals the two derivative calls share. fmi2OK to go on.
fmi2Status checkDerivativeCall(ModelInstance* instance, const char* name, const void* vr, size_t nvr, const void* order,
                               const void* value) {
  if (inlineIntegration(instance)) {
    fmiLog(instance, fmi2Warning, "%s is not suported with inline integration", name);
    return fmi2Warning;
  }
  if (!fmiModeAccepts(instance, callInputOutputDerivatives, name)) return fmi2Warning;
  // A Model Exchange instance, or one whose integrator terminate has released, has nothing to
  // extrapolate or estimate from.
  if (!instance->integrator) {
    fmiLog(instance, fmi2Warning, "%s: fmi2EnterInitializationMode must be called before calling %s", name, name);
    return fmi2Warning;
  }
  if (nvr > 0 && (!vr || !order || !value)) {
    fmiLog(instance, fmi2Warning, "%s: %s == NULL", name, !vr ? "vr" : !order ? "order" : "value");
    return fmi2Warning;
  }
  return fmi2OK;
}

// The index of a valid reference of `category`, or -1.
int64_t referenceIndex(const ModelInstance* instance, fmi2ValueReference vr, int category) {
  if (fmiDecodeReference(vr).category != category || !fmiNumericValue(instance, vr)) return -1;
  return fmiDecodeReference(vr).index;
}

}  // namespace

fmi2Status fmiSetRealInputDerivatives(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                                      const fmi2Integer order[], const fmi2Real value[]) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameSetRealInputDerivatives];
  fmi2Status status = checkDerivativeCall(instance, name, vr, nvr, order, value);
  if (status != fmi2OK) return status;
  if (nvr == 0 || nvr > instance->nu) {
    fmiLog(instance, fmi2Warning, "%s: invalid nvr = %d (number of inputs = %d), ignoring call", name,
           static_cast<int>(nvr), static_cast<int>(instance->nu));
    return fmi2Warning;
  }
  CoSimIntegrator* integrator = instance->integrator;
  for (size_t i = 0; i < nvr; ++i) {
    if (order[i] != 1) {
      fmiLog(instance, fmi2Warning, "%s: derivative order %d is not supported", name, order[i]);
      return fmi2Warning;
    }
    int64_t index = referenceIndex(instance, vr[i], categoryInput);
    if (index < 0) {
      fmiLog(instance, fmi2Warning, "%s: variable is not input", name);
      return fmi2Warning;
    }
    integrator->inputDerivatives[index] = value[i];
  }
  for (uint64_t i = 0; i < instance->nu; ++i) integrator->inputBase[i] = instance->inputs[i];
  integrator->inputBaseTime = instance->time;
  integrator->inputDerivativesValid = 1;
  // CVODE's history past the instance time was computed for constant inputs: it must not be
  // continued when they now move.
  if (inputsMove(instance)) integrator->restartPending = 1;
  fmiLog(instance, fmi2OK, "%s", name);
  return fmi2OK;
}

fmi2Status fmiGetRealOutputDerivatives(ModelInstance* instance, const fmi2ValueReference vr[], size_t nvr,
                                       const fmi2Integer order[], fmi2Real value[]) {
  if (!instance) return fmi2Warning;
  const char* name = fmiFunctionNames[fmiNameGetRealOutputDerivatives];
  fmi2Status status = checkDerivativeCall(instance, name, vr, nvr, order, value);
  if (status != fmi2OK) return status;
  if (nvr == 0 || nvr > instance->ny) {
    fmiLog(instance, fmi2Warning, "%s: invalid nvr = %d (number of outputs = %d)", name, static_cast<int>(nvr),
           static_cast<int>(instance->ny));
    return fmi2Warning;
  }
  if (fmiEvaluateModel(instance, 1, name, nullptr) != 0) return fmiErrorExit(instance);
  const CoSimIntegrator* integrator = instance->integrator;
  double dt = instance->time - integrator->lastOutputTime;
  for (size_t i = 0; i < nvr; ++i) {
    if (order[i] < 1) {
      fmiLog(instance, fmi2Warning, "%s: derivative order 0 is not allowed", name);
      return fmi2Warning;
    }
    if (order[i] > 1) {
      value[i] = 0.0;
      continue;
    }
    int64_t index = referenceIndex(instance, vr[i], categoryOutput);
    if (index < 0) {
      fmiLog(instance, fmi2Warning, "%s: variable is not output", name);
      return fmi2Warning;
    }
    if (dt <= 0.0) {
      fmiLog(instance, fmi2Warning, "%s: time interval for estimate is %f, returning 0", name, dt);
      value[i] = 0.0;
    } else {
      value[i] = (instance->outputs[index] - integrator->lastOutputs[index]) / dt;
    }
  }
  fmiLog(instance, fmi2OK, "%s", name);
  return fmi2OK;
}
