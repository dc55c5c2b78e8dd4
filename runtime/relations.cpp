#include "relations.h"

#include <cmath>

#include "eventlog.h"
#include "modeldata.h"
#include "clocale.h"
#include "messages.h"

namespace {

// Room for the longest relation message: two texts capped at 400 characters, a number by
// "%g" and the fixed words.
constexpr int relationMessageSize = 1000;

// Where the decision value lies: the Boolean before negation, and whether the value is on the
// positive side (v > 0 for '>', v >= 0 for '<'), which decides the sign of the offsets.
struct RelationSide {
  int result;
  int positive;
};

RelationSide DecideRelation(double v, int direction) {
  if (direction != relationGreater) return {v < 0.0, v >= 0.0};
  return {v > 0.0, v > 0.0};
}

// An amount signed against the side the value lies on, so that subtracting it from the value
// keeps the current Boolean.
double SideSigned(double amount, int positive) { return positive ? -amount : amount; }


// The offset after an accepted change: at least eps on the side of the new Boolean. While an
// event iteration keeps failing to settle, the epsilon grows tenfold per change up to cap.
void OffsetAfterChange(const char* relationText, double* offset, double signedEps, double eps,
                       double value, int positive, int evaluated, double cap, int mayEnlarge,
                       int logFlags) {
  const double magnitude = fabs(value);
  if (!evaluated) {
    *offset = 100.0 * eps > magnitude ? signedEps : signedEps * 1e-6;
    return;
  }
  if (magnitude < cap && mayEnlarge) {
    const double enlarged = fmax(eps, fmin(10.0 * fabs(*offset), cap));
    if (enlarged > eps && (logFlags & logFlagEvents)) {
      char text[relationMessageSize];
      sprintf_c(text, "Warning: Event epsilon of %.400s increased to %g.\n",
                StringOrEmpty(relationText), enlarged);
      LogMessage(text);
    }
    *offset = SideSigned(enlarged, positive);
  } else {
    *offset = SideSigned(fmax(eps, fabs(*offset)), positive);
  }
}

// The offset of a relation that did not change in its first evaluation of a call: a value
// far from the threshold gets an offset a million times smaller than eps.
void OffsetWithoutChange(double* offset, double signedEps, double eps, double value, double cap) {
  const double magnitude = fabs(value);
  if (eps > magnitude)
    *offset = signedEps;
  else if (magnitude > cap && magnitude > 100.0 * eps)
    *offset = signedEps * 1e-6;
}

void ReportChange(const char* relationText, const char* expressionText, int result,
                  double value) {
  char text[relationMessageSize];
  sprintf_c(text, "Expression %.400s became %s ( %.400s = %g )", StringOrEmpty(relationText),
            result ? "true" : "false", StringOrEmpty(expressionText), value);
  LogMessage(text);
  EventLogRecord(eventLogRecordCode, 0.0, eventLogExpression, relationText, result, 0.0);
}

}  // namespace

int EventRelationBand(const char* relationText, const char* expressionText, int* state,
                      double* offset, double* signedEps, double eps, double value,
                      double* crossingPair, int initial, int allSections, int bandArming,
                      int logFlags, int* eventRequest, int direction, int negate, int* evaluated,
                      double cap, int mayEnlarge) {
  const int fullPass = allSections || initial;
  const double magnitude = fabs(value);
  int s = *state;
  // The stored Boolean, which the band arming below never changes.
  const int stored = s & relationStateValue;

  const double v = (*evaluated && fullPass && (s & relationStateArmed)) ? value - *offset : value;
  const RelationSide side = DecideRelation(v, direction);
  if (fullPass) *signedEps = SideSigned(eps, side.positive);
  const int result = negate ? !side.result : side.result;

  if (bandArming && !(s & (relationStateArmed | relationStatePending))) {
    if (stored == result && magnitude > relationBand) {
      s = result | relationStateArmed;
      *signedEps = *offset = SideSigned(eps, side.positive);
    } else if (stored != result) {
      s |= relationStatePending;
    }
  }

  int change = 0;
  if (allSections && ((s & relationStateArmed) || magnitude > relationBand) && result != stored) {
    if (!initial) *eventRequest = 1;
    change = 1;
  }

  if (change || initial) {
    OffsetAfterChange(relationText, offset, *signedEps, eps, value, side.positive, *evaluated,
                      cap, mayEnlarge, logFlags);
    if ((logFlags & logFlagEvents) &&
        (!initial || ((logFlags & logFlagInitialization) && stored != result)))
      ReportChange(relationText, expressionText, result, value);
    s = *evaluated ? (s & relationStateArmed) | result : result;
    if (magnitude > relationBand) s |= relationStateArmed;
  } else {
    if (!*evaluated && allSections) {
      if (magnitude <= relationBand) s &= relationStateValue;
      OffsetWithoutChange(offset, *signedEps, eps, value, cap);
    }
    // An armed relation keeps its stored Boolean until a change is accepted.
    if (!(s & relationStateArmed)) s = allSections ? result : (s & relationStatePending) | result;
  }

  *state = s;
  *evaluated = 1;
  if (!(s & relationStateArmed)) {
    // Constant and positive: an unarmed relation never triggers a root.
    crossingPair[0] = crossingPair[1] = relationBand;
  } else {
    // The stored Boolean says the value lies above the threshold: the pair falls to zero as the
    // value falls to -|offset|; otherwise it falls to zero as the value rises to |offset|.
    const int valueAbove = (s & relationStateValue) == ((direction != 0) == (negate != 0));
    const double crossing = valueAbove ? fabs(*offset) + value : fabs(*offset) - value;
    crossingPair[0] = crossingPair[1] = crossing;
  }
  return s & relationStateValue;
}

void EventRelation(const char* relationText, const char* expressionText, int* state,
                   double* offset, double* signedEps, double eps, double value, int initial,
                   int logFlags, int* eventNeeded, int* changeFlag, int direction, int negate,
                   int evaluated, double cap, int mayEnlarge) {
  const double v = evaluated ? value - *offset : value;
  const RelationSide side = DecideRelation(v, direction);
  *signedEps = SideSigned(eps, side.positive);
  const int result = negate ? !side.result : side.result;

  if (*state == result) {
    if (!initial) {
      if (!evaluated) OffsetWithoutChange(offset, *signedEps, eps, value, cap);
      *state = result;
      return;
    }
  } else if (!initial) {
    *eventNeeded = 1;
    if (changeFlag) *changeFlag = 1;
  }

  OffsetAfterChange(relationText, offset, *signedEps, eps, value, side.positive, evaluated, cap,
                    mayEnlarge, logFlags);
  if ((logFlags & logFlagEvents) &&
      (!initial || ((logFlags & logFlagInitialization) && (!evaluated || *state != result))))
    ReportChange(relationText, expressionText, result, value);
  *state = result;
}
