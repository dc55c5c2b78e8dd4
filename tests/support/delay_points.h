// The points of a delay buffer as a list, for comparing a buffer with the points it should hold.
#pragma once

#include <utility>
#include <vector>

#include "delays.h"

typedef std::vector<std::pair<double, double>> DelayPoints;

// The (abscissa, value) points of a buffer from its left end to its right end; empty when the
// number names no buffer.
inline DelayPoints PointsOf(int number) {
  DelayPoints points;
  const DelayBuffer* b = DelayFind(number);
  if (!b) return points;
  for (int i = b->first;; i = (i + 1) % b->size) {
    points.push_back({b->times[i], b->values[i]});
    if (i == b->last) break;
  }
  return points;
}
