#include "modeldata.h"

double Homotopy(double actual, double simplified, ModelData* modelData) {
  modelData->homotopyUsed = 1;
  const double lambda = modelData->lambda;
  return simplified * (1.0 - lambda) + actual * lambda;
}
