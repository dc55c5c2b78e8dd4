// Stand-ins for the Co-Simulation integrator until the CVODE driver replaces this file: no
// integrator is created, so there is never one to report on or release.
#include "integrator.h"

int integratorSetup(ModelInstance*, double) { return 0; }

void integratorSetInputBase(ModelInstance*, int) {}

void integratorStatistics(ModelInstance*) {}

void integratorFree(ModelInstance*, ModelInstance* owner) {
  if (owner) owner->integrator = nullptr;
}
