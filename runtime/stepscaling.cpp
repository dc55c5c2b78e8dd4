// Step scaling of a fixed-step explicit integration ahead of a predicted crossing: the step
// that starts in the first window advances by factor1 * h and ends just past the crossing, the
// one after it by (2 - factor1) * h, so that both together return to the fixed grid.
#include <cmath>

#include "timeevents.h"

namespace {

// One set per process, not per instance; reset by every call with `initial` set.
struct CrossingScaleState {
  double windowEnd1;
  double windowEnd2;
  double lastStepTime;
  double previousCallTime;
  double historyTime1;
  double stepRatio;
  double previousStepRatio;
  double factor1;
  double factor2;
};

CrossingScaleState scaleState = {-1e30, -1e30, -1e30, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0};

// The double values of 1.2 - 1 and 1.04 - 1: the step ends this far past the crossing.
constexpr double linearOvershoot = 0.19999999999999996;
constexpr double quadraticOvershoot = 0.040000000000000036;

// Fraction of the next step (plus overshoot) at which crossing function k is predicted to reach
// zero, or 0 when it is not approaching zero within reach.
double PredictCrossing(const ModelData* md, const double* crossings, int k) {
  const CrossingScaleState& s = scaleState;
  const double g = crossings[k];
  const double g1 = md->crossingHistory1[k];
  const double slope = (g - g1) / s.stepRatio;
  // Reaches zero within 2.4 steps at the current slope: g and g + 2.4 * slope differ in sign.
  if (!(g * (1.2 * slope * 2.0 + g) < 0)) return 0.0;
  if (!md->relationEvaluated[k / 2 + 1]) return 0.0;
  const int pair = 2 * (k / 2);
  if (!(crossings[pair] * crossings[pair + 1] > 0)) return 0.0;

  double theta = -g / slope + linearOvershoot;
  const double g2 = md->crossingHistory2[k];
  const bool monotone = g1 > 0 ? g2 > g1 : g1 > g2;
  if (s.historyTime1 > -1e30 && monotone) {
    // Quadratic through the last three values, on the (possibly uneven) step ratios.
    const double r = s.stepRatio;
    const double r1 = s.previousStepRatio;
    const double sum = r + r1;
    const double D = r * sum * r1;
    const double b = (sum * sum * (g1 - g) - r * r * (g2 - g)) / D;
    const double a = (-sum * (g1 - g) + r * (g2 - g)) / D;
    const double c = 4 * g * a;
    const double g3 = md->crossingHistory3[k];
    const bool stillMonotone = g1 > 0 ? g3 > g2 : g2 > g3;
    const double w = stillMonotone ? 0.4 : 0.7;
    const double d = b * b - (c > 0 ? c * (1 + w) : c * (1 - w));
    if (d >= 0) {
      const double sigma = b > 0 ? 1.0 : -1.0;
      const double rho = d > 0 ? std::sqrt(d) : 0.0;
      const double quadratic = quadraticOvershoot - 2 * g / (-b - sigma * rho);
      if (-0.5 < quadratic && quadratic < 2.5) theta = quadratic;
    }
  }
  return theta;
}

void ApplyFactor(ModelData* md, double factor, double h, double* derivatives, int n,
                 double* solverReals) {
  solverReals[solverRealStepFraction] = factor;
  md->scaledStepSize = h * factor;
  for (int i = 0; i < n; ++i) derivatives[i] *= factor;
}

}  // namespace

void ScaleStepBeforeCrossing(ModelData* md, double time, int initial, int allSections,
                             double* crossings, int ncross, double* derivatives, int n,
                             double* solverReals, int* solverInts) {
  (void)solverInts;
  CrossingScaleState& s = scaleState;
  // The record's tables hold modelRelations pairs; a larger count cannot be held.
  if (ncross > modelRelations) ncross = modelRelations;
  if (ncross < 0) ncross = 0;
  const int count = 2 * ncross;

  if (initial) {
    md->scaleStepSize = 0;
    md->scaleLastTime = 1e30;
    s.windowEnd1 = s.windowEnd2 = s.lastStepTime = -1e30;
    s.previousCallTime = s.historyTime1 = time;
    s.stepRatio = s.previousStepRatio = s.factor1 = s.factor2 = 1;
  }
  // The fixed step is measured from the first two all-sections call times.
  if (md->scaleStepSize == 0 && time > md->scaleLastTime)
    md->scaleStepSize = time - md->scaleLastTime;
  if (allSections) md->scaleLastTime = time;
  const double h = md->scaleStepSize;

  if (time > s.lastStepTime) {
    s.historyTime1 = s.lastStepTime;
    s.previousStepRatio = s.stepRatio;
    if (h != 0) {
      const bool inSecondWindow = s.windowEnd1 <= time && time < s.windowEnd2;
      s.stepRatio = ((inSecondWindow ? s.windowEnd1 : time) - s.previousCallTime) / h;
    }
    for (int k = 0; k < count; ++k) {
      md->crossingHistory3[k] = md->crossingHistory2[k];
      md->crossingHistory2[k] = md->crossingHistory1[k];
      md->crossingHistory1[k] = md->crossingCurrent[k];
    }
  }
  for (int k = 0; k < count; ++k)
    md->crossingCurrent[k] = md->relationEvaluated[k / 2 + 1] ? crossings[k] : 0;

  if (h != 0 && time >= s.windowEnd2) {
    s.factor1 = 0;
    const double toTimeEvent = (solverReals[solverRealNextTimeEvent] - time) / h;
    if (0 < toTimeEvent && toTimeEvent < 2 && toTimeEvent > s.factor1) s.factor1 = toTimeEvent;
    for (int k = 0; k < count; ++k) {
      const double theta = PredictCrossing(md, crossings, k);
      if (0 < theta && theta < 2 && theta > s.factor1) s.factor1 = theta;
    }
    if (s.factor1 != 0 && s.factor1 < 1) {
      s.factor2 = 2 - s.factor1;
      s.windowEnd1 = time + 0.9999999999 * h;
      s.windowEnd2 = time + 1.9999999999 * h;
    } else {
      s.factor2 = 1;
      s.windowEnd1 = s.windowEnd2 = time;
    }
  }

  s.lastStepTime = time;
  s.previousCallTime = time;
  md->scaledStepSize = h;
  solverReals[solverRealStepFraction] = 1;
  if (time < s.windowEnd1) {
    ApplyFactor(md, s.factor1, h, derivatives, n, solverReals);
  } else if (time < s.windowEnd2) {
    ApplyFactor(md, s.factor2, h, derivatives, n, solverReals);
    s.previousCallTime = s.windowEnd1;
  }
}
