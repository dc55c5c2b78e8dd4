// Tracked SUNDIALS calls for the records that own SUNDIALS objects.
#include "sundials_call.h"

#include <cvode/cvode.h>

#include <cstring>

void sundialsCallEnter(SundialsCall* call, CoSimIntegrator* owner) {
  call->owner = owner;
  call->function = "";
  call->returnsPointer = 0;
  trackedCallEnter(&call->tracked, trackedSundials, &owner->sundialsBlocks, call);
}

void sundialsCallLeave(SundialsCall* call) { trackedCallLeave(&call->tracked); }

int sundialsRefuse(SundialsCall* call, ModelInstance* instance, fmi2Status status) {
  CoSimIntegrator* owner = call->owner;
  // The blocks are gone already; whatever is left is given back too.
  trackedListRelease(&owner->sundialsBlocks);
  cvodeStepperAttach(&owner->cvode, nullptr);
  owner->context = nullptr;
  owner->stateVector = nullptr;
  owner->absoluteTolerances = nullptr;
  owner->relativeTolerances = nullptr;
  owner->errorWeights = nullptr;
  owner->perturbedDerivatives = nullptr;
  owner->savedStates = nullptr;
  owner->denseMatrix = nullptr;
  owner->linearSolver = nullptr;
  if (instance) {
    if (call->returnsPointer)
      checkSundialsPointer(nullptr, call->function, instance, status);
    else
      checkSundialsFlag(CV_MEM_FAIL, call->function, instance, status);
  }
  return 1;
}

void sundialsFlagName(int flag, char* buffer, size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  // The name is a block of its own, freed here: a list of the call's own.
  TrackedBlock blocks;
  trackedListInit(&blocks);
  TrackedCall call;
  trackedCallEnter(&call, trackedSundials, &blocks, nullptr);
  if (TRACKED_CALL_ARMED(call)) {
    char* name = CVodeGetReturnFlagName(flag);
    if (name) {
      strncpy(buffer, name, size - 1);
      buffer[size - 1] = '\0';
    }
    trackedRelease(name);
  }
  trackedCallLeave(&call);
}
