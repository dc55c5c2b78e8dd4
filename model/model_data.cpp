// The ModelData template of this model and the accessors the FMI layer uses on a record.
#include <cstring>

#include "delays.h"
#include "model.h"
#include "threadblock.h"

namespace {

// Homotopy starts from the actual equations with a step of 0.1; the crossing step scaling has
// seen no call yet. Everything else starts at zero.
constexpr ModelData templateValues() {
  ModelData t{};
  t.scaleLastTime = 1e30;
  t.lambda = 1.0;
  t.lambdaStep = 0.1;
  return t;
}

}  // namespace

constinit ModelData modelDataTemplate = templateValues();
const int modelDataSize = sizeof(ModelData);

namespace {

ModelData* orTemplate(ModelData* record) { return record ? record : &modelDataTemplate; }

template <typename T, size_t n>
void clearTable(T (&table)[n], size_t count) {
  memset(table, 0, (count < n ? count : n) * sizeof(T));
}

}  // namespace

void copyModelData(ModelData* destination) {
  if (!destination) return;
  // The thread must not go on referring to whatever the destination held before.
  ClearCurrentModelData();
  memcpy(destination, &modelDataTemplate, modelDataSize);
}

int getEventPhase(ModelData* record) { return orTemplate(record)->eventPhase; }

void setEventPhase(ModelData* record, int phase) { orTemplate(record)->eventPhase = phase; }

void setInlineIntegration(ModelData* record, int on) { orTemplate(record)->inlineIntegration = on; }

int getEventHandled(ModelData* record) { return orTemplate(record)->eventInCall; }

void setInDirectionalDerivative(ModelData* record, int on) {
  orTemplate(record)->inDirectionalDerivative = on;
}

void setModelJacobianFull(ModelData* record, double* a, double* b, double* c, double* d, int nx,
                          int nu, int ny, double value1, double value2, double value3, int flag,
                          int* out) {
  ModelData* m = orTemplate(record);
  m->jacobianA = a;
  m->jacobianB = b;
  m->jacobianC = c;
  m->jacobianD = d;
  m->jacobianNx = nx;
  m->jacobianNu = nu;
  m->jacobianNy = ny;
  m->jacobianValue1 = value1;
  m->jacobianValue2 = value2;
  m->jacobianValue3 = value3;
  m->jacobianFlag = flag;
  m->jacobianOutGiven = out != nullptr;
  if (out) *out = 0;
}

void setModelJacobian(ModelData* record, double* a, double* b, double* c, double* d, int nx, int nu,
                      int ny, double value1, double value2, double value3, int flag) {
  setModelJacobianFull(record, a, b, c, d, nx, nu, ny, value1, value2, value3, flag, nullptr);
}

BlockProfile* getBlockProfiles(ModelData* record, int* count) {
  ModelData* m = orTemplate(record);
  if (count) {
    // A record restored from a host's image may carry any count: never hand out more records
    // than the table holds.
    int n = m->blockProfileCount;
    *count = n < 0 ? 0 : (n > modelProfileCapacity ? modelProfileCapacity : n);
  }
  return m->blockProfiles;
}

// This model has no extra values: both arrays are empty.
void copyExtraValuesIn(ModelData* /*record*/, const double* /*extra*/, const double* /*extra2*/) {}
void copyExtraValuesOut(ModelData* /*record*/, double* /*extra*/, double* /*extra2*/) {}

void resetModelData(ModelData* record) {
  ModelData* m = orTemplate(record);
  memset(m->workArea, 0, sizeof m->workArea);
  const size_t crossings = 2 * modelRelations + 1;
  clearTable(m->previousCrossings, crossings);
  clearTable(m->crossingHistory1, crossings);
  clearTable(m->crossingCurrent, crossings);
  clearTable(m->crossingHistory2, crossings);
  clearTable(m->crossingHistory3, crossings);
  const size_t relations = modelRelations + 1;
  clearTable(m->relationNominal, relations);
  clearTable(m->relationOffset, relations);
  clearTable(m->relationSignedEps, relations);
  clearTable(m->relationValue, relations);
  clearTable(m->relationEvaluated, relations);
  clearTable(m->relationState, relations);
  clearTable(m->timeEventStates, modelTimeEvents + 1);
  // The model has no samples, and its external objects (destroyed last first) are none: only
  // the model's own count of them is visited, never what a copied record claims.
  for (int i = modelExternalObjects - 1; i >= 0; --i) {
    ExternalObjectSlot& slot = m->externalObjects[i];
    void* object = slot.object;
    slot.object = nullptr;
    if (object && slot.destructor) slot.destructor(object);
    slot.destructor = nullptr;
  }
  for (BlockProfile& profile : m->blockProfiles) profile.calls = 0;
  DelayFreeAll();
}

void resetTemplateModelData(void) { resetModelData(&modelDataTemplate); }

int getModelDataSize(void) { return modelDataSize; }

double getCurrentStartTime(void) {
  const ThreadBlock* block = PeekThreadBlock();
  const ModelData* current =
      block && block->currentModelData ? block->currentModelData : &modelDataTemplate;
  return current->startTime;
}

void setExperimentDefaults(double* solverReals, int* solverInts) {
  if (solverInts) solverInts[solverIntInlineIntegration] = 0;
  if (solverReals) {
    solverReals[solverRealInlineStepSize] = 0;
    solverReals[solverRealStepFraction] = 1.0;
    solverReals[solverRealTimeScale] = 0;
  }
}
