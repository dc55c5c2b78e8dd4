// The byte image of an FMU state: its size, writing it and reading it back into a new state.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "dsblock.h"
#include "evaluate.h"
#include "fmustate.h"
#include "instantiate.h"
#include "messages.h"
#include "model.h"
#include "modeldata.h"
#include "serialiser_call.h"

namespace {

constexpr const char sizeName[] = "fmi2SerializedFMUstateSize";
constexpr const char serializeName[] = "fmi2SerializeFMUstate";
constexpr const char deserializeName[] = "fmi2DeSerializeFMUstate";

// The evaluation driver never runs more event-iteration passes than this.
constexpr int eventIterationLimit = 25;
// Room for the image's header, its scalars and its length words beyond the values.
constexpr size_t imageOverhead = 1024;

static_assert(sizeof(tpl_blob*) == sizeof(uint64_t), "the image's last word is the blob record's place");

// A refused argument: the call did nothing.
void warn(ModelInstance* instance, const char* name, const char* what) {
  fmiPrintMessage(instance, instance->instanceName, fmi2Warning, "", "%s: %s", name, what);
}

// A call that could not do what was asked: it hands back no size, image or state.
void fail(ModelInstance* instance, const char* name, const char* what) {
  fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "%s: %s", name, what);
}

int count(uint64_t n) { return static_cast<int>(n + 1); }

// The pointer fields of a state while its image is written. An image carries no address of the
// process that wrote it: they are written as 0 (a reader points them at its own storage anyway),
// so an image neither shows the writer's memory layout nor depends on it.
struct HiddenPointers {
  tpl_blob* blob;
  double* solverReals;
  int* solverInts;
  ExternalObjectSlot externalObjects[modelExternalObjectCapacity];
  double* jacobians[4];
  char* stringTable[modelStringSlots];
};

void hidePointers(ModelInstance* state, HiddenPointers* h) {
  h->blob = state->modelDataBlob;
  state->modelDataBlob = nullptr;
  ModelData* m = state->modelData;
  if (!m) return;
  h->solverReals = m->solverReals;
  h->solverInts = m->solverInts;
  memcpy(h->externalObjects, m->externalObjects, sizeof h->externalObjects);
  double** jacobians[] = {&m->jacobianA, &m->jacobianB, &m->jacobianC, &m->jacobianD};
  for (int k = 0; k < 4; ++k) {
    h->jacobians[k] = *jacobians[k];
    *jacobians[k] = nullptr;
  }
  memcpy(h->stringTable, m->stringTable, sizeof h->stringTable);
  m->solverReals = nullptr;
  m->solverInts = nullptr;
  memset(m->externalObjects, 0, sizeof m->externalObjects);
  memset(m->stringTable, 0, sizeof m->stringTable);
}

void restorePointers(ModelInstance* state, const HiddenPointers& h) {
  state->modelDataBlob = h.blob;
  ModelData* m = state->modelData;
  if (!m) return;
  m->solverReals = h.solverReals;
  m->solverInts = h.solverInts;
  memcpy(m->externalObjects, h.externalObjects, sizeof h.externalObjects);
  m->jacobianA = h.jacobians[0];
  m->jacobianB = h.jacobians[1];
  m->jacobianC = h.jacobians[2];
  m->jacobianD = h.jacobians[3];
  memcpy(m->stringTable, h.stringTable, sizeof h.stringTable);
}

// Where a serialiser call stands, and the refusal of each step: a fatal condition in the
// serialiser ends the call as the failure of the step it was in does.
enum SerialiserStep : int { stepMap, stepPack, stepDump, stepLoad, stepUnpack };

void refuseStep(ModelInstance* instance, const char* name, int step) {
  switch (step) {
    case stepMap: fail(instance, "createTplMap", "tpl_map returned NULL"); return;
    case stepPack: fail(instance, name, "tpl_pack failed"); return;
    case stepDump: fail(instance, name, "tpl_dump failed"); return;
    case stepLoad: fail(instance, name, "tpl_load failed"); return;
    default: fail(instance, name, "tpl_unpack failed"); return;
  }
}

// Runs `body`, the serialiser's part of a call, under a serialiser call record: body(step) keeps
// *step at the step it is in, and a fatal condition inside it ends as that step's refusal, after
// `onFatal` has let go of what the serialiser's blocks held.
template <typename Body, typename OnFatal>
fmi2Status serialiserCall(ModelInstance* instance, const char* name, Body&& body, OnFatal&& onFatal) {
  SerialiserCall call;
  fmiSerialiserEnter(&call, instance);
  volatile int step = stepMap;
  fmi2Status status;
  if (SERIALISER_ARMED(call)) {
    status = body(&step);
  } else {
    onFatal();
    refuseStep(instance, name, step);
    status = fmi2Error;
  }
  fmiSerialiserLeave(&call);
  return status;
}

// The serialiser's part of packAndDump: the map is made and released here.
template <typename Dump>
fmi2Status packAndDumpArmed(ModelInstance* instance, ModelInstance* state, tpl_blob* blob, const char* name,
                            Dump& dump, volatile int* step) {
  tpl_map_node* map = createTplMap(instance, state, blob);
  if (!map) return fmi2Error;
  fmi2Status status = fmi2OK;
  *step = stepPack;
  if (tpl_pack(map, 0) != 0) {
    refuseStep(instance, name, *step);
    status = fmi2Error;
  } else {
    *step = stepDump;
    if (!dump(map)) {
      refuseStep(instance, name, *step);
      status = fmi2Error;
    }
  }
  tpl_free_map(map);
  return status;
}

// Packs the state and hands the map to `dump`; fmi2Error after the failure's message. The
// model block is read where it lies until the dump ends, so its pointers stay hidden till then.
template <typename Dump>
fmi2Status packAndDump(ModelInstance* instance, ModelInstance* state, const char* name, Dump&& dump) {
  tpl_blob local{};
  tpl_blob* blob = instance->modelDataBlob ? instance->modelDataBlob : &local;
  HiddenPointers hidden;
  hidePointers(state, &hidden);
  fmi2Status status = serialiserCall(
      instance, name, [&](volatile int* step) { return packAndDumpArmed(instance, state, blob, name, dump, step); },
      [] {});
  restorePointers(state, hidden);
  return status;
}

// Storage the image is unpacked into before anything of it reaches a state: a record of the
// instance's counts whose arrays, string table and solver blocks lie in one block, and the
// string texts the unpack allocates. The blob is not copied: it points at the model block inside
// the host's image, which outlives the call.
struct Scratch {
  ModelInstance record;
  double* block;
  tpl_blob blob;
};

bool makeScratch(ModelInstance* instance, Scratch* s) {
  memset(s, 0, sizeof *s);
  ModelInstance& r = s->record;
  fmiCopyStateCounts(&r, instance);
  double** arrays[] = {&r.states,  &r.derivatives,     &r.parameters, &r.inputs,      &r.outputs,
                       &r.auxiliaries, &r.eventIndicators, &r.nominals, &r.extraValues, &r.extraValues2};
  const uint64_t lengths[] = {r.nx + 1, r.nx + 1, r.np + 1, r.nu + 1,      r.ny + 1,
                              r.nw + 1, r.ni + 1, r.nx + 1, r.nExtra + 1, r.nExtra2 + 1};
  // The string table and the solver blocks take whole doubles: the table's ns + 1 pointers, four
  // reals and eleven ints.
  uint64_t doubles = (r.ns + 1) + solverRealCount + (solverIntCount * sizeof(int32_t) + 7) / 8;
  for (uint64_t n : lengths) doubles += n;
  s->block = static_cast<double*>(fmiAllocateZeroed(instance->functions, doubles, sizeof(double)));
  if (!s->block) return false;
  double* next = s->block;
  for (size_t a = 0; a < 10; ++a) {
    *arrays[a] = next;
    next += lengths[a];
  }
  r.strings = reinterpret_cast<char**>(next);
  next += r.ns + 1;
  r.solverReals = next;
  next += solverRealCount;
  r.solverInts = reinterpret_cast<int32_t*>(next);
  return true;
}

// Gives back the texts the unpack allocated; the table keeps none.
void releaseUnpackedStrings(Scratch* s) {
  for (uint64_t i = 0; i <= s->record.ns; ++i) {
    tpl_hooks.free(s->record.strings[i]);
    s->record.strings[i] = nullptr;
  }
}

// A field of a model block inside an image, where it lies at any alignment.
template <typename T>
T imageField(const void* block, size_t offset) {
  T value;
  memcpy(&value, static_cast<const char*>(block) + offset, sizeof value);
  return value;
}
#define IMAGE_FIELD(block, field) imageField<decltype(ModelData::field)>(block, offsetof(ModelData, field))

bool isFlag(int32_t value) { return value == 0 || value == 1; }

bool isEventPhase(int phase) {
  return phase == eventPhaseSkipLevels || phase == eventPhaseConverge || phase == eventPhaseStartExternal ||
         phase == eventPhaseContinueExternal || phase == eventPhaseContinueConverge || phase == eventPhasePlainPass;
}

// The solver blocks: every real a number, the next time event not before the state's time (the
// step loop runs to it), the time scale not negative, the flags flags and the change counter a
// count.
bool plausibleSolverBlocks(const ModelInstance* instance, const ModelInstance& r) {
  for (int k = 0; k < solverRealCount; ++k)
    if (!std::isfinite(r.solverReals[k])) return false;
  // The time scale is the largest magnitude of a time event's start: time-event tolerances grow
  // with it, and a negative one cancels them, so that an event at the current time is never
  // reached while the step loop stands at it.
  if (r.solverReals[solverRealInlineStepSize] < 0 || r.solverReals[solverRealNextTimeEvent] < r.time ||
      r.solverReals[solverRealTimeScale] < 0)
    return false;
  const int32_t* ints = r.solverInts;
  for (int flag : {solverIntJacobianInProgress, solverIntIntegratorNotSetUp, solverIntStepEvent, solverIntAllSections,
                   solverIntSkipInitialEquations})
    if (!isFlag(ints[flag])) return false;
  // The unit decides inline integration once for all its instances; an image cannot switch it.
  return ints[solverIntInlineIntegration] == instance->solverInts[solverIntInlineIntegration] &&
         ints[solverIntChangeCounter] >= 0;
}

// The driver's state in the model block: its times and the homotopy's lambda and step numbers,
// the step positive (the continuation steps by it), its flags flags and its counters in range.
bool plausibleDriverState(const void* block) {
  for (double value : {IMAGE_FIELD(block, time), IMAGE_FIELD(block, startTime), IMAGE_FIELD(block, lambda),
                       IMAGE_FIELD(block, lambdaAtReduction), IMAGE_FIELD(block, lambdaStep),
                       IMAGE_FIELD(block, relationEpsilon)})
    if (!std::isfinite(value)) return false;
  const int counter = IMAGE_FIELD(block, iterationCounter);
  const int extra = IMAGE_FIELD(block, extraIteration);
  const double reduction = IMAGE_FIELD(block, lambdaAtReduction);
  return HomotopyContinuable(IMAGE_FIELD(block, lambda), IMAGE_FIELD(block, lambdaStep)) && reduction >= 0 &&
         reduction <= 1 && isFlag(IMAGE_FIELD(block, homotopyActive)) &&
         isFlag(IMAGE_FIELD(block, homotopyUsed)) && counter >= 0 && counter <= eventIterationLimit + 1 &&
         extra >= 0 && extra <= 2 && IMAGE_FIELD(block, initialisationCount) >= 0;
}

// Whether what the image holds could be a state of this instance: values that steer the
// instance's modes, its stepping and the model's event iteration must be ones this unit makes,
// and the model block must have exactly the instance's size. A well-formed image can still
// carry anything, and these values decide what later calls do.
bool plausibleContents(const ModelInstance* instance, const Scratch& s) {
  const ModelInstance& r = s.record;
  if (r.mode < modeInstantiated || r.mode > modeTerminated) return false;
  if (r.levelReached < -1 || r.levelReached > demandTerminal) return false;
  if (!isFlag(r.useStateSnapshots) || !isFlag(r.inDirectionalDerivative) || !isFlag(r.valuesChanged) ||
      !isFlag(r.newDiscreteStatesNeeded))
    return false;
  if (!std::isfinite(r.time)) return false;
  if (!plausibleSolverBlocks(instance, r)) return false;
  if (!instance->modelData) return s.blob.length == 0;
  if (s.blob.length != static_cast<uint32_t>(modelDataSize)) return false;
  const void* block = s.blob.bytes;
  const int profileCount = IMAGE_FIELD(block, blockProfileCount);
  const int iterationLimit = IMAGE_FIELD(block, iterationLimit);
  return IMAGE_FIELD(block, inlineIntegration) == instance->modelData->inlineIntegration &&
         isEventPhase(IMAGE_FIELD(block, eventPhase)) && profileCount >= 0 && profileCount <= modelProfileCapacity &&
         iterationLimit >= 0 && iterationLimit <= eventIterationLimit && plausibleDriverState(block);
}

// The largest image a state of this instance can have: every value, every string at its
// longest, the model block, and the header. A larger one is refused before the serialiser
// allocates anything for it.
size_t largestImage(const ModelInstance* instance) {
  uint64_t values = 3 * (instance->nx + 1) + instance->np + instance->nu + instance->ny + instance->nw +
                    instance->ni + instance->nExtra + instance->nExtra2 + 7;
  return imageOverhead + 8 * values + instance->ns * (4 + stringBufferSize) +
         (instance->modelData ? static_cast<size_t>(modelDataSize) : 0);
}

// Moves what the scratch holds into the state: values, strings cut to their buffers, scalars,
// and the model block with the pointers a freshly made state has.
void adoptScratch(ModelInstance* state, const Scratch& s) {
  fmiCopyStateValues(state, &s.record);
  for (uint64_t i = 0; i < state->ns; ++i) {
    const char* text = s.record.strings[i] ? s.record.strings[i] : "";
    size_t length = strnlen(text, stringBufferSize - 1);
    memcpy(state->strings[i], text, length);
    state->strings[i][length] = '\0';
  }
  fmiCopyStateScalars(state, &s.record);
  if (state->modelData)
    fmiCopyModelDataBlock(state->modelData, s.blob.bytes, &modelDataTemplate, state->solverReals,
                          state->solverInts);
}

// The serialiser's part of readImage: the map and the unpacked texts are made and released
// here.
fmi2Status readImageArmed(ModelInstance* instance, Scratch* s, ModelInstance* state, const fmi2Byte buffer[],
                          size_t size, volatile int* step) {
  tpl_map_node* map = createTplMap(instance, &s->record, &s->blob);
  if (!map) return fmi2Error;
  fmi2Status status = fmi2OK;
  *step = stepLoad;
  if (tpl_load(map, TPL_MODE_MEMORY, buffer, size) != 0) {
    refuseStep(instance, deserializeName, *step);
    status = fmi2Error;
  } else {
    *step = stepUnpack;
    if (tpl_unpack(map, 0) < 0 || !plausibleContents(instance, *s)) {
      refuseStep(instance, deserializeName, *step);
      status = fmi2Error;
    } else {
      adoptScratch(state, *s);
    }
  }
  tpl_free_map(map);
  releaseUnpackedStrings(s);
  return status;
}

// Reads the image into the state. Nothing reaches the state unless every step succeeds and the
// contents are plausible. fmi2OK, or fmi2Error after the failure's message.
fmi2Status readImage(ModelInstance* instance, Scratch* s, ModelInstance* state, const fmi2Byte buffer[],
                     size_t size) {
  if (size > largestImage(instance)) {
    fail(instance, deserializeName, "tpl_load failed");
    return fmi2Error;
  }
  return serialiserCall(
      instance, deserializeName,
      [&](volatile int* step) { return readImageArmed(instance, s, state, buffer, size, step); },
      // The unpacked texts went with the serialiser's other blocks.
      [&] { memset(s->record.strings, 0, (s->record.ns + 1) * sizeof(char*)); });
}

}  // namespace

tpl_map_node* createTplMap(ModelInstance* instance, ModelInstance* r, tpl_blob* blob) {
  blob->bytes = r->modelData;
  blob->length = r->modelData ? static_cast<uint32_t>(modelDataSize) : 0;
  tpl_map_node* map =
      tpl_map(fmuStateFormat, r->states, count(r->nx), r->derivatives, count(r->nx), r->parameters, count(r->np),
              r->inputs, count(r->nu), r->outputs, count(r->ny), r->auxiliaries, count(r->nw), r->eventIndicators,
              count(r->ni), r->nominals, count(r->nx), r->extraValues, count(r->nExtra), r->extraValues2,
              count(r->nExtra2), r->strings, count(r->ns), &r->time, &r->levelReached, &r->mode,
              &r->inlineStepCounter, &r->useStateSnapshots, &r->inDirectionalDerivative, &r->valuesChanged,
              &r->newDiscreteStatesNeeded, r->solverReals, r->solverInts, blob, &r->modelDataBlob);
  if (!map) {
    fail(instance, "createTplMap", "tpl_map returned NULL");
    return nullptr;
  }
  // The model block is by far the largest item: packing reads it where it is and unpacking
  // leaves it in the image, so each direction copies it once.
  tpl_share_blobs(map);
  return map;
}

fmi2Status fmiSerializedFMUstateSize(ModelInstance* instance, ModelInstance* state, size_t* size) {
  if (!instance) return fmi2Warning;
  if (!state || !size) {
    warn(instance, sizeName, state ? "size == NULL" : "FMUstate == NULL");
    return fmi2Warning;
  }
  return packAndDump(instance, state, sizeName, [&](tpl_map_node* map) {
    uint64_t bytes = 0;
    if (tpl_dump(map, TPL_MODE_SIZE_ONLY, &bytes) != 0) return false;
    *size = static_cast<size_t>(bytes);
    return true;
  });
}

fmi2Status fmiSerializeFMUstate(ModelInstance* instance, ModelInstance* state, fmi2Byte buffer[], size_t size) {
  if (!instance) return fmi2Warning;
  if (!state || !buffer) {
    warn(instance, serializeName, state ? "serializedState == NULL" : "FMUstate == NULL");
    return fmi2Warning;
  }
  return packAndDump(instance, state, serializeName, [&](tpl_map_node* map) {
    return tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, buffer, size) == 0;
  });
}

fmi2Status fmiDeSerializeFMUstate(ModelInstance* instance, const fmi2Byte buffer[], size_t size,
                                  ModelInstance** handle) {
  if (!instance) return fmi2Warning;
  if (!buffer || !handle) {
    warn(instance, deserializeName, buffer ? "FMUstate == NULL" : "serializedState == NULL");
    return fmi2Warning;
  }
  // A refused image hands back no state: the host's handle stays as it was.
  Scratch scratch;
  ModelInstance* state = nullptr;
  // The scratch storage comes first, so that either allocation failing leaves nothing behind.
  if (!makeScratch(instance, &scratch)) {
    fmiPrintMessage(instance, instance->instanceName, fmi2Error, "", "memory allocation failed");
    return fmi2Error;
  }
  fmi2Status status = fmiAllocateFMUstateUnfilled(&state, instance);
  if (status == fmi2OK) {
    state->modelDataBlob = instance->modelDataBlob;
    status = readImage(instance, &scratch, state, buffer, size);
    if (status == fmi2OK)
      *handle = state;
    else
      fmiReleaseFMUstate(instance, &state);
  }
  instance->functions->freeMemory(scratch.block);
  return status;
}
