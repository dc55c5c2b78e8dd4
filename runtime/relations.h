// Relations with hysteresis: a comparison of the model may change its Boolean only at an
// event. The runtime keeps each relation's Boolean, compares its value against an offset of
// the size of an event epsilon placed on the side that keeps the current Boolean, and offers
// the integrator a pair of crossing functions that reach zero when the relation is about to
// change.
#pragma once

// Bits of a relation's state (ModelData.relationState[k]).
enum RelationState {
  relationStateValue = 0x1,   // the relation's current Boolean, after negation
  relationStateArmed = 0x2,   // band form only: the crossing functions track the value
  relationStatePending = 0x4  // band form only: a change seen while computing crossing functions
};

// Direction of the comparison: relationGreater is true when value > 0, relationLess when
// value < 0 (value being the left side minus the right side).
enum RelationDirection { relationGreater = 0, relationLess = 1 };

// Half-width of the band around zero that a value must leave before the relation arms.
constexpr double relationBand = 0.1;

// The relation with a band: returns the relation's Boolean.
// relationText is the relation as written ("u > limiter.uMax"), expressionText its difference
// ("(u) - (limiter.uMax)"); state, offset, signedEps and evaluated are the relation's entries
// in ModelData; crossingPair points at its two crossing functions. bandArming is set when the
// call computes crossing functions, mayEnlarge when the event iteration has run more than five
// passes. eventRequest is set to 1 when the relation asks for an event iteration.
int EventRelationBand(const char* relationText, const char* expressionText, int* state,
                      double* offset, double* signedEps, double eps, double value,
                      double* crossingPair, int initial, int allSections, int bandArming,
                      int logFlags, int* eventRequest, int direction, int negate, int* evaluated,
                      double cap, int mayEnlarge);

// The plain relation, without band and crossing functions: the Boolean is bit 0 of *state
// afterwards. eventNeeded is set directly on a change, and changeFlag with it when not null;
// evaluated is only read.
void EventRelation(const char* relationText, const char* expressionText, int* state,
                   double* offset, double* signedEps, double eps, double value, int initial,
                   int logFlags, int* eventNeeded, int* changeFlag, int direction, int negate,
                   int evaluated, double cap, int mayEnlarge);
