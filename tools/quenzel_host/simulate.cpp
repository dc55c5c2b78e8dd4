#include "simulate.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Bounds that keep a misbehaving FMU from hanging the host.
constexpr int maxEventIterations = 1000;
constexpr int maxLocateIterations = 200;

const char* statusName(fmi2Status status) {
  switch (status) {
    case fmi2OK: return "fmi2OK";
    case fmi2Warning: return "fmi2Warning";
    case fmi2Discard: return "fmi2Discard";
    case fmi2Error: return "fmi2Error";
    case fmi2Fatal: return "fmi2Fatal";
    case fmi2Pending: return "fmi2Pending";
  }
  return "an unknown status";
}

// One column of the result.
struct Column {
  std::string name;
  fmi2ValueReference valueReference;
  VariableType type;
};

struct Run {
  const Fmi2Api& api;
  fmi2Component c = nullptr;
  std::string* error;

  size_t nx = 0, nz = 0;
  std::vector<double> x, dx, xTry;  // states, their derivatives, states at a trial time
  std::vector<double> z, zEnd, zTry;  // event indicators at the step start, end and a trial time

  std::vector<Column> columns;
  std::vector<fmi2ValueReference> realRefs, integerRefs, booleanRefs;
  std::vector<double> realValues;
  std::vector<fmi2Integer> integerValues;
  std::vector<fmi2Boolean> booleanValues;
  std::vector<double> rowValues;

  Run(const Fmi2Api& a, std::string* e) : api(a), error(e) {}

  // Whether the call succeeded; a warning is reported by the FMU itself and is no failure.
  bool check(fmi2Status status, const char* call) {
    if (status == fmi2OK || status == fmi2Warning) return true;
    *error = std::string(call) + " returned " + statusName(status);
    return false;
  }
};

bool parseReal(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = strtod(text.c_str(), &end);
  return *end == '\0' && errno != ERANGE;
}

bool parseInteger(const std::string& text, fmi2Integer* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  *value = static_cast<fmi2Integer>(parsed);
  return true;
}

bool parseBoolean(const std::string& text, fmi2Boolean* value) {
  if (text == "true" || text == "1") {
    *value = fmi2True;
  } else if (text == "false" || text == "0") {
    *value = fmi2False;
  } else {
    return false;
  }
  return true;
}

bool applySetting(Run& run, const ModelDescription& description, const VariableSetting& setting) {
  const ModelVariable* v = findVariable(description, setting.name);
  if (!v) {
    *run.error = "--set " + setting.name + ": no such variable";
    return false;
  }
  if (v->causality != "parameter" && v->causality != "input") {
    *run.error = "--set " + setting.name + ": not a parameter or input (causality " + v->causality + ")";
    return false;
  }
  const fmi2ValueReference vr[] = {v->valueReference};
  std::string invalid = "--set " + setting.name + ": invalid value \"" + setting.value + "\"";
  switch (v->type) {
    case variableReal: {
      double value;
      if (!parseReal(setting.value, &value)) break;
      return run.check(run.api.fmi2SetReal(run.c, vr, 1, &value), "fmi2SetReal");
    }
    case variableInteger:
    case variableEnumeration: {
      fmi2Integer value;
      if (!parseInteger(setting.value, &value)) break;
      return run.check(run.api.fmi2SetInteger(run.c, vr, 1, &value), "fmi2SetInteger");
    }
    case variableBoolean: {
      fmi2Boolean value;
      if (!parseBoolean(setting.value, &value)) break;
      return run.check(run.api.fmi2SetBoolean(run.c, vr, 1, &value), "fmi2SetBoolean");
    }
    case variableString: {
      const fmi2String value = setting.value.c_str();
      return run.check(run.api.fmi2SetString(run.c, vr, 1, &value), "fmi2SetString");
    }
  }
  *run.error = invalid;
  return false;
}

void chooseColumns(Run& run, const ModelDescription& description) {
  auto add = [&](const ModelVariable& v) {
    if (v.type == variableString) return;
    run.columns.push_back(Column{v.name, v.valueReference, v.type});
    if (v.type == variableReal) run.realRefs.push_back(v.valueReference);
    else if (v.type == variableBoolean) run.booleanRefs.push_back(v.valueReference);
    else run.integerRefs.push_back(v.valueReference);
  };
  for (const ModelVariable& v : description.variables)
    if (v.causality == "input") add(v);
  for (const ModelVariable& v : description.variables)
    if (v.causality == "output") add(v);
  for (size_t i : stateVariables(description)) add(description.variables[i]);
  run.realValues.resize(run.realRefs.size());
  run.integerValues.resize(run.integerRefs.size());
  run.booleanValues.resize(run.booleanRefs.size());
}

bool emitRow(Run& run, const SimulationOutput& output, double time) {
  if (!output.row) return true;
  if (!run.realRefs.empty() &&
      !run.check(run.api.fmi2GetReal(run.c, run.realRefs.data(), run.realRefs.size(), run.realValues.data()),
                 "fmi2GetReal"))
    return false;
  if (!run.integerRefs.empty() &&
      !run.check(run.api.fmi2GetInteger(run.c, run.integerRefs.data(), run.integerRefs.size(),
                                        run.integerValues.data()),
                 "fmi2GetInteger"))
    return false;
  if (!run.booleanRefs.empty() &&
      !run.check(run.api.fmi2GetBoolean(run.c, run.booleanRefs.data(), run.booleanRefs.size(),
                                        run.booleanValues.data()),
                 "fmi2GetBoolean"))
    return false;
  run.rowValues.assign(1, time);
  size_t r = 0, i = 0, b = 0;
  for (const Column& column : run.columns) {
    if (column.type == variableReal) run.rowValues.push_back(run.realValues[r++]);
    else if (column.type == variableBoolean) run.rowValues.push_back(run.booleanValues[b++] ? 1.0 : 0.0);
    else run.rowValues.push_back(run.integerValues[i++]);
  }
  output.row(output.context, run.rowValues);
  return true;
}

// fmi2NewDiscreteStates until no more are needed or the model asks to stop.
bool iterateEvent(Run& run, fmi2EventInfo* info, SimulationEvent* event) {
  *info = fmi2EventInfo{};
  info->newDiscreteStatesNeeded = fmi2True;
  while (info->newDiscreteStatesNeeded && !info->terminateSimulation) {
    if (event->iterations == maxEventIterations) {
      *run.error = "the event iteration at t = " + std::to_string(event->time) + " does not end";
      return false;
    }
    ++event->iterations;
    if (!run.check(run.api.fmi2NewDiscreteStates(run.c, info), "fmi2NewDiscreteStates")) return false;
  }
  event->nextEventTimeDefined = info->nextEventTimeDefined != fmi2False;
  event->nextEventTime = info->nextEventTimeDefined ? info->nextEventTime : 0;
  event->terminateSimulation = info->terminateSimulation != fmi2False;
  return true;
}

// The sign an event watches: an event indicator changes when it passes from > 0 to <= 0 or back.
bool positive(double z) { return z > 0; }

bool anyChange(const std::vector<double>& a, const std::vector<double>& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (positive(a[i]) != positive(b[i])) return true;
  return false;
}

// States and indicators at time t0 + s on the Euler line of the current step.
bool evaluateAt(Run& run, double t0, double s, std::vector<double>* zOut) {
  for (size_t i = 0; i < run.nx; ++i) run.xTry[i] = run.x[i] + s * run.dx[i];
  if (!run.check(run.api.fmi2SetTime(run.c, t0 + s), "fmi2SetTime")) return false;
  if (run.nx && !run.check(run.api.fmi2SetContinuousStates(run.c, run.xTry.data(), run.nx),
                           "fmi2SetContinuousStates"))
    return false;
  if (run.nz && !run.check(run.api.fmi2GetEventIndicators(run.c, zOut->data(), run.nz), "fmi2GetEventIndicators"))
    return false;
  return true;
}

// The first crossing within (0, sRight] where zRight has a sign change against run.z: returns the
// smallest step found past the crossing, to within a tolerance relative to the time. Secant
// estimates place it, a nudge to the far side of each estimate closes the bracket from both ends,
// and bisection takes over when the estimates stall.
bool locateCrossing(Run& run, double t0, double sRight, double* sFound) {
  double tolerance = 1e-12 * std::fmax(1.0, std::fabs(t0)) + 1e-15;
  double sL = 0, sR = sRight;
  std::vector<double> zL = run.z, zR = run.zEnd;
  bool lastMovedLeft = true;
  int sameSide = 0;
  for (int n = 0; n < maxLocateIterations && sR - sL > tolerance; ++n) {
    double estimate = sR;
    for (size_t i = 0; i < run.nz; ++i) {
      if (positive(zL[i]) == positive(zR[i])) continue;
      double fraction = zL[i] / (zL[i] - zR[i]);
      estimate = std::fmin(estimate, sL + fraction * (sR - sL));
    }
    double sTry = estimate + (lastMovedLeft ? 0.5 : -0.5) * tolerance;
    if (sameSide >= 2 || !(sTry > sL && sTry < sR)) sTry = 0.5 * (sL + sR);
    if (!evaluateAt(run, t0, sTry, &run.zTry)) return false;
    bool crossed = anyChange(run.z, run.zTry);
    if (crossed) {
      sR = sTry;
      zR = run.zTry;
    } else {
      sL = sTry;
      zL = run.zTry;
    }
    sameSide = (crossed == !lastMovedLeft) ? sameSide + 1 : 1;
    lastMovedLeft = !crossed;
  }
  run.zEnd = zR;
  *sFound = sR;
  return true;
}

// Options every run needs: a positive step, a finite stop time not before the start, an
// output interval not negative.
bool usableOptions(const SimulationOptions& options, std::string* error) {
  if (!(options.stepSize > 0) || !std::isfinite(options.startTime) || !std::isfinite(options.stopTime) ||
      !(options.stopTime >= options.startTime) || !(options.outputInterval >= 0)) {
    *error = "the step size must be positive, the output interval not negative and the stop time finite "
             "and not before the start time";
    return false;
  }
  return true;
}

#define FMI2_NEEDED_FOR_EVERY_RUN(X)                                                                             \
  X(fmi2Instantiate) X(fmi2FreeInstance) X(fmi2SetupExperiment) X(fmi2EnterInitializationMode)                 \
      X(fmi2ExitInitializationMode) X(fmi2Terminate) X(fmi2SetReal) X(fmi2SetInteger) X(fmi2SetBoolean)      \
          X(fmi2SetString) X(fmi2GetReal) X(fmi2GetInteger) X(fmi2GetBoolean)

// Instantiates the model for `kind`, sets up the experiment (in Co-Simulation with the model
// description's tolerance when it has one), applies the settings and runs the initialisation. false with
// *error set when a call fails; run.c is then either null or to be freed by the caller.
bool startRun(Run& run, const ModelDescription& description, const fmi2CallbackFunctions* callbacks,
              const SimulationOptions& options, fmi2Type kind) {
  const Fmi2Api& api = run.api;
  chooseColumns(run, description);
  run.c = api.fmi2Instantiate(options.instanceName.c_str(), kind, description.guid.c_str(),
                              options.resourceLocation.c_str(), callbacks, fmi2False,
                              options.loggingOn ? fmi2True : fmi2False);
  if (!run.c) {
    *run.error = "fmi2Instantiate failed";
    return false;
  }
  // Model Exchange has no tolerance of its own: the host integrates.
  fmi2Boolean toleranceDefined = kind == fmi2CoSimulation && description.hasTolerance ? fmi2True : fmi2False;
  bool ok = run.check(api.fmi2SetupExperiment(run.c, toleranceDefined, description.tolerance, options.startTime,
                                              fmi2True, options.stopTime),
                      "fmi2SetupExperiment");
  for (const VariableSetting& s : options.settings)
    if (ok) ok = applySetting(run, description, s);
  return ok && run.check(api.fmi2EnterInitializationMode(run.c), "fmi2EnterInitializationMode") &&
         run.check(api.fmi2ExitInitializationMode(run.c), "fmi2ExitInitializationMode");
}

void emitHeader(const Run& run, const SimulationOutput& output) {
  if (!output.header) return;
  std::vector<std::string> names(1, "time");
  for (const Column& column : run.columns) names.push_back(column.name);
  output.header(output.context, names);
}

// Rows every this many steps.
long rowSpacing(const SimulationOptions& options) {
  return options.outputInterval > options.stepSize ? std::lround(options.outputInterval / options.stepSize) : 1;
}

}  // namespace

// Notes in `missing` the first function of a list that the binary does not export.
#define NEEDED(name) \
  if (!missing && !api.name) missing = #name;

bool simulateModelExchange(const Fmi2Api& api, const ModelDescription& description,
                           const fmi2CallbackFunctions* callbacks, const SimulationOptions& options,
                           const SimulationOutput& output, std::string* error) {
  if (!description.modelExchange) {
    *error = "the FMU does not support Model Exchange";
    return false;
  }
  if (!usableOptions(options, error)) return false;
  const char* missing = nullptr;
  FMI2_NEEDED_FOR_EVERY_RUN(NEEDED)
  NEEDED(fmi2EnterEventMode)
  NEEDED(fmi2NewDiscreteStates) NEEDED(fmi2EnterContinuousTimeMode) NEEDED(fmi2CompletedIntegratorStep)
  NEEDED(fmi2SetTime) NEEDED(fmi2SetContinuousStates) NEEDED(fmi2GetDerivatives)
  NEEDED(fmi2GetEventIndicators) NEEDED(fmi2GetContinuousStates)
  if (missing) {
    *error = std::string("the FMU does not export ") + missing;
    return false;
  }

  Run run(api, error);
  run.nx = description.derivatives.size();
  run.nz = description.numberOfEventIndicators;
  run.x.resize(run.nx);
  run.dx.resize(run.nx);
  run.xTry.resize(run.nx);
  run.z.resize(run.nz);
  run.zEnd.resize(run.nz);
  run.zTry.resize(run.nz);
  bool ok = startRun(run, description, callbacks, options, fmi2ModelExchange);
  if (!run.c) return false;
  const double start = options.startTime, stop = options.stopTime, h = options.stepSize;

  fmi2EventInfo info{};
  SimulationEvent event;
  event.time = start;
  event.reasons = eventInitial;
  ok = ok && iterateEvent(run, &info, &event);
  if (ok && output.event) output.event(output.context, event);
  bool terminated = ok && event.terminateSimulation;
  if (ok) emitHeader(run, output);
  ok = ok && (terminated || run.check(api.fmi2EnterContinuousTimeMode(run.c), "fmi2EnterContinuousTimeMode"));
  ok = ok && (!run.nx || run.check(api.fmi2GetContinuousStates(run.c, run.x.data(), run.nx), "fmi2GetContinuousStates"));
  ok = ok && (!run.nz || run.check(api.fmi2GetEventIndicators(run.c, run.z.data(), run.nz), "fmi2GetEventIndicators"));
  ok = ok && emitRow(run, output, start);

  double t = start;
  long k = 1;  // index of the next grid time
  const long rowEvery = rowSpacing(options);
  while (ok && !terminated && t < stop) {
    double tGrid = start + static_cast<double>(k) * h;
    if (tGrid >= stop - 1e-9 * h) tGrid = stop;
    double tEnd = tGrid;
    bool timeEvent = false;
    if (info.nextEventTimeDefined && info.nextEventTime > t && info.nextEventTime <= tGrid) {
      tEnd = info.nextEventTime;
      timeEvent = true;
    }
    bool atGrid = tEnd == tGrid;

    if (run.nx && !run.check(api.fmi2GetDerivatives(run.c, run.dx.data(), run.nx), "fmi2GetDerivatives")) {
      ok = false;
      break;
    }
    double s = tEnd - t;
    if (!evaluateAt(run, t, s, &run.zEnd)) {
      ok = false;
      break;
    }
    SimulationEvent stepEvent;
    if (anyChange(run.z, run.zEnd)) {
      double found = s;
      if (!locateCrossing(run, t, s, &found)) {
        ok = false;
        break;
      }
      if (found < s) {
        s = found;
        timeEvent = atGrid = false;
      }
      // The search leaves the FMU at its last trial point; the step ends at s.
      if (!evaluateAt(run, t, s, &run.zEnd)) {
        ok = false;
        break;
      }
      stepEvent.reasons |= eventState;
      for (size_t i = 0; i < run.nz; ++i)
        if (positive(run.z[i]) != positive(run.zEnd[i])) stepEvent.indicators.push_back(static_cast<unsigned>(i));
    }
    t = atGrid ? tGrid : timeEvent ? tEnd : t + s;
    for (size_t i = 0; i < run.nx; ++i) run.x[i] += s * run.dx[i];
    run.z = run.zEnd;
    bool rowTime = atGrid && (k % rowEvery == 0 || tGrid == stop);
    if (atGrid) ++k;
    if (timeEvent) stepEvent.reasons |= eventTime;

    fmi2Boolean enterEventMode = fmi2False, terminate = fmi2False;
    if (!run.check(api.fmi2CompletedIntegratorStep(run.c, fmi2True, &enterEventMode, &terminate),
                   "fmi2CompletedIntegratorStep")) {
      ok = false;
      break;
    }
    if (enterEventMode) stepEvent.reasons |= eventStep;
    if ((rowTime || stepEvent.reasons || terminate) && !emitRow(run, output, t)) {
      ok = false;
      break;
    }
    if (terminate) {
      terminated = true;
      break;
    }
    if (!stepEvent.reasons) continue;

    stepEvent.time = t;
    if (!run.check(api.fmi2EnterEventMode(run.c), "fmi2EnterEventMode") || !iterateEvent(run, &info, &stepEvent)) {
      ok = false;
      break;
    }
    if (output.event) output.event(output.context, stepEvent);
    if (stepEvent.terminateSimulation) {
      terminated = true;
      ok = emitRow(run, output, t);
      break;
    }
    ok = run.check(api.fmi2EnterContinuousTimeMode(run.c), "fmi2EnterContinuousTimeMode") &&
         (!run.nx || run.check(api.fmi2GetContinuousStates(run.c, run.x.data(), run.nx), "fmi2GetContinuousStates")) &&
         (!run.nz || run.check(api.fmi2GetEventIndicators(run.c, run.z.data(), run.nz), "fmi2GetEventIndicators")) &&
         emitRow(run, output, t);
  }

  if (ok) ok = run.check(api.fmi2Terminate(run.c), "fmi2Terminate");
  api.fmi2FreeInstance(run.c);
  return ok;
}

bool simulateCoSimulation(const Fmi2Api& api, const ModelDescription& description,
                          const fmi2CallbackFunctions* callbacks, const SimulationOptions& options,
                          const SimulationOutput& output, std::string* error) {
  if (!description.coSimulation) {
    *error = "the FMU does not support Co-Simulation";
    return false;
  }
  if (!usableOptions(options, error)) return false;
  const char* missing = nullptr;
  FMI2_NEEDED_FOR_EVERY_RUN(NEEDED)
  NEEDED(fmi2DoStep) NEEDED(fmi2GetBooleanStatus)
  if (missing) {
    *error = std::string("the FMU does not export ") + missing;
    return false;
  }

  Run run(api, error);
  bool ok = startRun(run, description, callbacks, options, fmi2CoSimulation);
  if (!run.c) return false;
  if (ok) emitHeader(run, output);
  ok = ok && emitRow(run, output, options.startTime);

  const double start = options.startTime, stop = options.stopTime, h = options.stepSize;
  const long rowEvery = rowSpacing(options);
  double t = start;
  for (long k = 1; ok && t < stop; ++k) {
    double tGrid = start + static_cast<double>(k) * h;
    if (tGrid >= stop - 1e-9 * h) tGrid = stop;
    fmi2Status status = api.fmi2DoStep(run.c, t, tGrid - t, fmi2True);
    fmi2Boolean terminated = fmi2False;
    // A discard is the model ending the simulation when the FMU says so; the last values stand.
    if (status == fmi2Discard && api.fmi2GetBooleanStatus(run.c, fmi2Terminated, &terminated) == fmi2OK &&
        terminated) {
      ok = emitRow(run, output, t);
      break;
    }
    ok = run.check(status, "fmi2DoStep");
    t = tGrid;
    if (ok && (k % rowEvery == 0 || t == stop)) ok = emitRow(run, output, t);
  }

  if (ok) ok = run.check(api.fmi2Terminate(run.c), "fmi2Terminate");
  api.fmi2FreeInstance(run.c);
  return ok;
}

#undef NEEDED
