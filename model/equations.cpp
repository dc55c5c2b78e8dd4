// The model's equations: one call of modelEquations is one pass of the evaluation driver.
//
// Initial sections (A to J) run during initialisation: they set the generated constants and the
// start values, check the limiters' parameters and solve the initial equations, with homotopy
// on the limiters. The level sections compute the outputs (L1), the state derivatives (L2) and
// the remaining variables (L3) as far as the demand asks.
#include "errors.h"
#include "messages.h"
#include "model.h"
#include "relations.h"
#include "tempstrings.h"
#include "timeevents.h"

namespace {

// The guard of the section that is running (the generated code keeps it process-wide).
int sectionGuard;

// Everything one pass works on, so that the sections read as the equations do.
struct Pass {
  int* demand;
  int* level;
  double* timeArgument;
  double time;
  double* x;
  void* argument5;
  double* u;
  double* p;
  void* argument8;
  void* argument9;
  double* dx;
  double* y;
  double* w;
  double* q;
  double* solverReals;
  int* solverInts;
  void* strings;
  ModelData* m;
};

void hook(const Pass& s, int phase, int inlineCrossing) {
  equationsHook(s.timeArgument, s.x, s.argument5, s.u, s.p, s.argument8, s.argument9, s.dx, s.y,
                s.w, s.q, s.solverReals, s.solverInts, s.strings, s.m, phase, inlineCrossing);
}

// initial() during the first pass of an initialisation; it also makes the driver run another
// pass.
int initialPass(ModelData* m) {
  if (m->initial != 1) return 0;
  m->eventNeeded = 1;
  return 1;
}

int guardIP(ModelData* m) { return m->extraIteration != 0 || initialPass(m); }

int guardP3(ModelData* m) { return m->eventPhase < eventPhaseContinueExternal; }

// The initial equations; skipped in the first pass when the solver asks for it.
int guardIE(const Pass& s) {
  ModelData* m = s.m;
  if (m->extraIteration != 0) return m->extraIteration == 2;
  if (m->initial == 1 && s.solverInts[solverIntSkipInitialEquations] == 0) {
    m->eventNeeded = 1;
    return 1;
  }
  return 0;
}

int guardIJ(ModelData* m) {
  if (m->extraIteration != 0) return m->extraIteration == 2;
  return initialPass(m);
}

int guardLevel(const Pass& s, int k) {
  ModelData* m = s.m;
  return ((*s.demand >= k && *s.level < k) || m->allSections || *s.demand == demandCrossings) &&
         m->eventPhase != eventPhaseSkipLevels;
}

int homotopyAtSimplified(ModelData* m) { return !m->homotopyActive || m->lambda <= 0; }

// max(|left side|, 1), computed as the generated code does.
double nominalOf(double left) { return left > 1 ? left : (-left > 1 ? -left : 1); }

void storeRelation(ModelData* m, int k, double value, double left) {
  m->relationValue[k - 1] = value;
  m->relationNominal[k - 1] = nominalOf(left);
}

struct BandRelation {
  const char* relationText;
  const char* expressionText;
  int parameter;  // the right side
  int direction;
};

// Relations 1 to 4: the limiters' bounds.
const BandRelation bandRelations[4] = {
    {"u > limiter.uMax", "(u) - (limiter.uMax)", parLimiterUMax, relationGreater},
    {"u < limiter.uMin", "(u) - (limiter.uMin)", parLimiterUMin, relationLess},
    {"u > limiter1.uMax", "(u) - (limiter1.uMax)", parLimiter1UMax, relationGreater},
    {"u < limiter1.uMin", "(u) - (limiter1.uMin)", parLimiter1UMin, relationLess},
};

int bandRelation(const Pass& s, int k) {
  const BandRelation& r = bandRelations[k - 1];
  const double u = s.u[inputU];
  storeRelation(s.m, k, u - s.p[r.parameter], u);
  return modelEventRelationBand(s.m, r.relationText, r.expressionText, s.q, k,
                                *s.demand == demandCrossings, s.time,
                                s.solverInts[solverIntLogFlags], r.direction, 0);
}

// A limiter on u through its two relations (the lower one only when the upper one is false).
double limited(const Pass& s, int upperRelation) {
  const BandRelation& upper = bandRelations[upperRelation - 1];
  const BandRelation& lower = bandRelations[upperRelation];
  if (bandRelation(s, upperRelation)) return s.p[upper.parameter];
  if (bandRelation(s, upperRelation + 1)) return s.p[lower.parameter];
  return s.u[inputU];
}

// The ramp's start: a time event at timeSource.startTime, registered while it lies ahead.
void rampTimeEvent(const Pass& s) {
  ModelData* m = s.m;
  if (!m->initial && !m->allSections) return;
  const double startTime = s.p[parTimeSourceStartTime];
  const double t = s.time;
  const double tolerance = 4e-14 * ((t < 0 ? -t : t) + s.solverReals[solverRealTimeScale]);
  if (t < startTime - tolerance) {
    RegisterTimeEvent(startTime, m);
    m->timeEventStates[0] = 0;
  } else if (m->timeEventStates[0] == 0) {
    m->timeEventStates[0] = 1;
    const int logFlags = s.solverInts[solverIntLogFlags];
    if ((logFlags & logFlagEvents) && (!m->initial || (logFlags & logFlagInitialization)))
      LogMessageReal("Time event at time:", t);
    if (m->eventPhase != eventPhaseConverge) m->eventNeeded = 1;
  }
}

// The ramp, the threshold relation (5) and the switch.
void rampAndSwitch(const Pass& s) {
  ModelData* m = s.m;
  double* w = s.w;
  rampTimeEvent(s);
  w[auxTimeSourceY] = s.p[parTimeSourceOffset] +
                      (m->timeEventStates[0] == 0 ? 0 : s.time - s.p[parTimeSourceStartTime]);
  storeRelation(m, 5, w[auxTimeSourceY] - s.p[parThreshold], w[auxTimeSourceY]);
  if (m->allSections)
    modelEventRelation(m, "greaterThreshold.u > greaterThreshold.threshold",
                       "(greaterThreshold.u)-(greaterThreshold.threshold)", 5,
                       s.solverInts[solverIntLogFlags], relationGreater, 0);
  // The relation's crossing functions are its shifted difference itself.
  s.q[8] = s.q[9] = m->relationValue[4] - m->relationOffset[4];
  m->relationEvaluated[5] = 1;
  w[auxGreaterThresholdY] = m->relationState[5] & relationStateValue;
  w[auxInputSwitchY] = w[auxGreaterThresholdY] != 0 ? s.u[inputU] : s.p[parInputSwitchAlternative];
}

void output(const Pass& s) {
  const double selector = s.p[parOutputSelector];
  double y;
  if (selector == 1)
    y = s.u[inputU];
  else if (selector == 2)
    y = s.w[auxInputSwitchY];
  else if (selector == 3)
    y = s.x[stateFilterY];
  else
    y = s.x[stateLimitedFilterY];
  s.y[outputY] = y;
}

void filterDerivative(const Pass& s) {
  const double* p = s.p;
  const double numerator = p[parFilterK] * s.u[inputU] - s.x[stateFilterY];
  s.dx[stateFilterY] = p[parFilterT] == 0 ? DivisionByZero("filter.k*u-filter.y", numerator,
                                                           "filter.T", p[parFilterT])
                                          : numerator / p[parFilterT];
}

void limitedFilterDerivative(const Pass& s) {
  const double* p = s.p;
  const double numerator = p[parLimitedFilterK] * s.w[auxLimiter1Y] - s.x[stateLimitedFilterY];
  s.dx[stateLimitedFilterY] =
      p[parLimitedFilterT] == 0 ? DivisionByZero("limitedFilter.k*limiter1.y-limitedFilter.y",
                                                 numerator, "limitedFilter.T", p[parLimitedFilterT])
                                : numerator / p[parLimitedFilterT];
}

// A limiter's parameters must be consistent.
void checkLimits(double uMax, double uMin, const char* conditionText) {
  if (!(uMax >= uMin)) {
    // String(uMin) is converted first, as the generated code does.
    const char* minText = RealToStringDefault(uMin, 1, 0);
    const char* maxText = RealToStringDefault(uMax, 1, 0);
    const char* message = StringConcat(
        StringConcat(
            StringConcat(
                StringConcat("Limiter: Limits must be consistent. However, uMax (=", maxText),
                ") < uMin (="),
            minText),
        ")");
    AssertCondition(0, conditionText, message);
  }
  ResetFunctionStack();
}

}  // namespace

int modelEventRelationBand(ModelData* m, const char* relationText, const char* expressionText,
                           double* crossings, int k, int bandArming, double /*time*/, int logFlags,
                           int direction, int negate) {
  int eventRequest = 0;
  int result = EventRelationBand(
      relationText, expressionText, &m->relationState[k], &m->relationOffset[k - 1],
      &m->relationSignedEps[k - 1], m->relationEpsilon, m->relationValue[k - 1],
      &crossings[2 * k - 2], m->initial, m->allSections, bandArming, logFlags, &eventRequest,
      direction, negate, &m->relationEvaluated[k], 1e-4, m->iterationCounter > 5);
  if (eventRequest) m->eventNeeded = 1;
  return result;
}

void modelEventRelation(ModelData* m, const char* relationText, const char* expressionText, int k,
                        int logFlags, int direction, int negate) {
  // Set together with eventNeeded on a change; nothing in this model reads it.
  int changed = 0;
  const double nominal = m->relationNominal[k - 1];
  EventRelation(relationText, expressionText, &m->relationState[k], &m->relationOffset[k - 1],
                &m->relationSignedEps[k - 1], m->relationEpsilon * nominal, m->relationValue[k - 1],
                m->initial, logFlags, &m->eventNeeded, &changed, direction, negate,
                m->relationEvaluated[k], 1e-4 * nominal, m->iterationCounter > 5);
}

int modelEquations(int* demand, int* levelReached, double* time, double* states, void* argument5,
                   double* inputs, double* parameters, void* argument8, void* argument9,
                   double* derivatives, double* outputs, double* auxiliaries, double* crossings,
                   double* solverReals, int* solverInts, void* strings, ModelData* m, int* qiErr,
                   int /*argument19*/) {
  const Pass s = {demand,      levelReached, time,        *time,      states,      argument5,
                  inputs,      parameters,   argument8,   argument9,  derivatives, outputs,
                  auxiliaries, crossings,    solverReals, solverInts, strings,     m};
  const double* p = parameters;
  double* w = auxiliaries;
  const int inlineCrossing = m->inlineIntegration && solverInts[solverIntIntegratorNotSetUp] != 0 &&
                             *demand == demandCrossings;

  // A: the generated constants.
  if ((sectionGuard = guardIP(m) && guardP3(m))) {
    *levelReached = 0;
    w[0] = 4;
    w[1] = 0;
    w[2] = 1;
    w[4] = 0;
    w[5] = 1;
    w[7] = 4;
    if (!m->homotopyActive)
      initializationHook(time, states, argument5, inputs, parameters, argument8, argument9,
                         derivatives, outputs, auxiliaries, crossings, solverReals, solverInts,
                         strings, m, 1);
  }
  // B: the limiters' parameters.
  if ((sectionGuard = m->parametersChanged && (!m->homotopyActive || m->lambda == 0))) {
    checkLimits(p[parLimiterUMax], p[parLimiterUMin], "limiter.uMax >= limiter.uMin");
    checkLimits(p[parLimiter1UMax], p[parLimiter1UMin], "limiter1.uMax >= limiter1.uMin");
  }
  // C: the output's start value.
  if ((sectionGuard = guardIP(m) && guardP3(m))) {
    *levelReached = 0;
    outputs[outputY] = 1;
  }
  // D, E: nothing to compute in this model.
  if ((sectionGuard = guardIP(m) && guardP3(m))) *levelReached = 0;
  if ((sectionGuard = guardIP(m) && guardP3(m) && homotopyAtSimplified(m))) *levelReached = 0;
  // F: the states' start values.
  if ((sectionGuard = guardIE(s) && homotopyAtSimplified(m) && guardP3(m))) {
    *levelReached = 0;
    states[stateFilterY] = p[parFilterYStart];
    states[stateLimitedFilterY] = p[parLimitedFilterYStart];
  }
  // G: nothing to compute.
  if ((sectionGuard = guardIP(m) && guardP3(m))) *levelReached = 0;
  hook(s, 0, 0);
  // H: the initial equations, the limiters with homotopy from u to the limited value.
  if ((sectionGuard = guardIE(s))) {
    *levelReached = 0;
    states[stateFilterY] = p[parFilterYStart];
    states[stateLimitedFilterY] = p[parLimitedFilterYStart];
    w[auxLimiterY] = Homotopy(limited(s, 1), inputs[inputU], m);
    w[auxLimiter1Y] = Homotopy(limited(s, 3), inputs[inputU], m);
  }
  // I: the ramp, the switch, the output and the derivatives at the start.
  if ((sectionGuard = guardIE(s))) {
    *levelReached = 0;
    rampAndSwitch(s);
    output(s);
    filterDerivative(s);
    limitedFilterDerivative(s);
  }
  // J: the end of the initial equations; a homotopy pass at lambda below 1 ends here.
  if ((sectionGuard = guardIJ(m))) {
    *levelReached = 0;
    m->initial = 0;
    hook(s, 2, inlineCrossing);
    m->initial = 1;
    if (m->homotopyActive) {
      if (m->lambda < 1) {
        if (m->status == 0) m->status = qiErrHomotopySolved;
        *qiErr = m->status;
        return 0;
      }
      m->homotopyActive = 0;
      m->lambda = 1;
    }
  }
  // L1: outputs.
  if ((sectionGuard = guardLevel(s, 1))) {
    *levelReached = 1;
    rampAndSwitch(s);
    w[auxLimiterY] = limited(s, 1);
    output(s);
  }
  // L2: derivatives.
  if ((sectionGuard = guardLevel(s, 2))) {
    *levelReached = 2;
    filterDerivative(s);
    w[auxLimiter1Y] = limited(s, 3);
    limitedFilterDerivative(s);
  }
  // L3: nothing beyond the first two levels.
  if ((sectionGuard = guardLevel(s, 3))) *levelReached = 3;
  hook(s, 1, inlineCrossing);
  ResetFunctionStack();
  if (m->status != 0) *qiErr = m->status;
  return 0;
}
