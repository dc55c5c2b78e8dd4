// Deterministic runs of the model as a host drives it, shared by the FMU-state tests and the
// program that replays a serialised state in a process of its own: Model Exchange with explicit
// Euler steps and event handling, Co-Simulation with fixed communication steps. Each run records
// the output y after every step.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fmu_host.h"

namespace replay {

constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";
constexpr fmi2ValueReference limiterUMin = 0x01000005, limiter1UMin = 0x01000007;
constexpr fmi2ValueReference outputSelector = 0x01000000, timeSourceStartTime = 0x0100000E;
constexpr fmi2ValueReference u = 0x05000000, y = 0x14000000;
constexpr size_t states = 2, indicators = 10;

// Consistent limits, the ramp starting at 2 (a time event at 2, and the threshold's state event
// near 3) and limitedFilter.y as output, which falls from 1 towards u = 0.5.
inline bool configure(FmuLibrary& unit, fmi2Component c, double tolerance) {
  const fmi2ValueReference vr[] = {limiterUMin, limiter1UMin, timeSourceStartTime, outputSelector, u};
  const double values[] = {-1.0, -1.0, 2.0, 4.0, 0.5};
  return unit.fmi2SetReal(c, vr, 5, values) == fmi2OK &&
         unit.fmi2SetupExperiment(c, tolerance > 0, tolerance, 0.0, fmi2False, 0.0) == fmi2OK;
}

// Runs the event iteration to its end and returns to continuous-time mode; *nextEvent is the
// next time event or infinity.
inline bool eventIteration(FmuLibrary& unit, fmi2Component c, double* nextEvent) {
  fmi2EventInfo info{};
  do {
    if (unit.fmi2NewDiscreteStates(c, &info) != fmi2OK) return false;
  } while (info.newDiscreteStatesNeeded);
  *nextEvent = info.nextEventTimeDefined ? info.nextEventTime : INFINITY;
  return unit.fmi2EnterContinuousTimeMode(c) == fmi2OK;
}

// A Model Exchange instance from instantiation to continuous-time mode at time 0.
inline bool startModelExchange(FmuLibrary& unit, fmi2Component c, double* nextEvent) {
  return configure(unit, c, 0) && unit.fmi2EnterInitializationMode(c) == fmi2OK &&
         unit.fmi2ExitInitializationMode(c) == fmi2OK && eventIteration(unit, c, nextEvent);
}

// Explicit Euler from t to tEnd in continuous-time mode. Everything the run needs besides the
// next time event comes from the instance, so that a restored instance continues exactly as
// the original did.
inline bool runModelExchange(FmuLibrary& unit, fmi2Component c, double t, double tEnd, double h,
                             double* nextEvent, std::vector<double>* ys) {
  double x[states], dx[states], z[indicators], previous[indicators];
  if (unit.fmi2GetContinuousStates(c, x, states) != fmi2OK ||
      unit.fmi2GetEventIndicators(c, previous, indicators) != fmi2OK)
    return false;
  while (t < tEnd - 1e-12) {
    double next = std::fmin(t + h, tEnd);
    bool timeEvent = *nextEvent <= next;
    if (timeEvent) next = *nextEvent;
    if (unit.fmi2GetDerivatives(c, dx, states) != fmi2OK) return false;
    for (size_t i = 0; i < states; ++i) x[i] += (next - t) * dx[i];
    t = next;
    if (unit.fmi2SetTime(c, t) != fmi2OK || unit.fmi2SetContinuousStates(c, x, states) != fmi2OK ||
        unit.fmi2GetEventIndicators(c, z, indicators) != fmi2OK)
      return false;
    bool stateEvent = false;
    for (size_t i = 0; i < indicators; ++i) stateEvent = stateEvent || (z[i] > 0) != (previous[i] > 0);
    fmi2Boolean enterEventMode = fmi2False, terminate = fmi2False;
    if (unit.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate) != fmi2OK) return false;
    if (timeEvent || stateEvent || enterEventMode) {
      if (unit.fmi2EnterEventMode(c) != fmi2OK || !eventIteration(unit, c, nextEvent) ||
          unit.fmi2GetContinuousStates(c, x, states) != fmi2OK ||
          unit.fmi2GetEventIndicators(c, previous, indicators) != fmi2OK)
        return false;
    } else {
      for (size_t i = 0; i < indicators; ++i) previous[i] = z[i];
    }
    double value = NAN;
    if (unit.fmi2GetReal(c, &y, 1, &value) != fmi2OK) return false;
    ys->push_back(value);
  }
  return true;
}

// Communication steps of h from t to tEnd.
inline bool runCoSimulation(FmuLibrary& unit, fmi2Component c, double t, double tEnd, double h,
                            std::vector<double>* ys) {
  for (int k = 0; t + k * h < tEnd - 1e-12; ++k) {
    if (unit.fmi2DoStep(c, t + k * h, h, fmi2True) != fmi2OK) return false;
    double value = NAN;
    if (unit.fmi2GetReal(c, &y, 1, &value) != fmi2OK) return false;
    ys->push_back(value);
  }
  return true;
}

// A fresh instance of the given kind, the image deserialised and set into it, then run from t1
// to t2 as above. False when any call fails.
inline bool replayImage(FmuLibrary& unit, const fmi2CallbackFunctions* functions, fmi2Type kind,
                        const std::vector<char>& image, double t1, double t2, double h, double tolerance,
                        std::vector<double>* ys) {
  fmi2Component c = unit.fmi2Instantiate("replay", kind, guid, "", functions, fmi2False, fmi2False);
  if (!c) return false;
  fmi2FMUstate state = nullptr;
  double nextEvent = INFINITY;
  bool ok = unit.fmi2SetupExperiment(c, kind == fmi2CoSimulation, tolerance, 0.0, fmi2False, 0.0) == fmi2OK &&
            unit.fmi2DeSerializeFMUstate(c, image.data(), image.size(), &state) == fmi2OK &&
            unit.fmi2SetFMUstate(c, state) == fmi2OK &&
            (kind == fmi2CoSimulation ? runCoSimulation(unit, c, t1, t2, h, ys)
                                      : runModelExchange(unit, c, t1, t2, h, &nextEvent, ys));
  unit.fmi2FreeFMUstate(c, &state);
  unit.fmi2FreeInstance(c);
  return ok;
}

// The recorded outputs as text, one exact hexadecimal value per line.
inline std::string format(const std::vector<double>& ys) {
  std::string text;
  char line[64];
  for (double v : ys) {
    snprintf(line, sizeof line, "%a\n", v);
    text += line;
  }
  return text;
}

}  // namespace replay
