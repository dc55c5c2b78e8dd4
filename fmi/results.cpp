#include "results.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "instantiate.h"
#include "messages.h"
#include "model.h"

int32_t resultSetupCount = 0;

namespace {

constexpr double noTime = -1.0;
// Unforced samples closer than this to the newest buffered one are skipped.
constexpr double sampleSpacing = 1e-3;
// The time of data_1's second row.
constexpr double secondDataTime = 1e-9;
constexpr int fileNameSize = 256;
// Goes into the sample warnings' "%s: ..." colon and all, so hosts see "Result generation:: ...",
// the text they know these warnings by.
const char warningPrefix[] = "Result generation:";

// The six value arrays of a slot beside the instance's arrays and counts they copy.
struct SlotArray {
  double* ResultSlot::*copy;
  double* ModelInstance::*values;
  uint64_t ModelInstance::*count;
};
constexpr SlotArray slotArrays[] = {
    {&ResultSlot::parameters, &ModelInstance::parameters, &ModelInstance::np},
    {&ResultSlot::states, &ModelInstance::states, &ModelInstance::nx},
    {&ResultSlot::derivatives, &ModelInstance::derivatives, &ModelInstance::nx},
    {&ResultSlot::outputs, &ModelInstance::outputs, &ModelInstance::ny},
    {&ResultSlot::inputs, &ModelInstance::inputs, &ModelInstance::nu},
    {&ResultSlot::auxiliaries, &ModelInstance::auxiliaries, &ModelInstance::nw},
};

int32_t ringIndex(int32_t slot) { return slot % resultSlotCount; }

ResultSlot* newestSlot(const ResultBuffer* b) {
  return b->slots[ringIndex(b->oldest + b->used - 1 + resultSlotCount)];
}

void copyValues(ResultSlot* slot, const ModelInstance* instance) {
  slot->time = instance->time;
  for (const SlotArray& a : slotArrays) {
    uint64_t n = instance->*a.count;
    if (n) memcpy(slot->*a.copy, instance->*a.values, static_cast<size_t>(n) * sizeof(double));
  }
}

// Releases the value arrays of slots from ... to - 1.
void releaseArrays(ModelInstance* instance, int32_t from, int32_t to) {
  ResultBuffer* b = instance->resultBuffer;
  for (int32_t s = from; s < to; ++s)
    for (const SlotArray& a : slotArrays) fmiRelease(instance->functions, b->slots[s]->*a.copy);
}

// Everything of the buffer, the writer's storage and file included; the instance is left with
// no buffer. A file that cannot be completed is reported, unless a failed write was already.
void releaseBuffer(ModelInstance* instance, bool reportFailedClose = true) {
  ResultBuffer* b = instance->resultBuffer;
  if (!b) return;
  const fmi2CallbackFunctions* functions = instance->functions;
  if (resultFileRequest(resultRequestClose, &b->writer, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
      reportFailedClose)
    fmiLog(instance, fmi2Warning, "%s writing the result file %s failed at t = %.4f.", warningPrefix,
           b->writer.fileName ? b->writer.fileName : "", instance->time);
  fmiRelease(functions, b->writer.fileName);
  if (b->slots) {
    releaseArrays(instance, 0, b->slotsWithArrays);
    for (int32_t s = 0; s < resultSlotCount; ++s) fmiRelease(functions, b->slots[s]);
    fmiRelease(functions, b->slots);
  }
  fmiRelease(functions, instance->resultBuffer);
}

// A sample the file did not take: the file keeps what it has, and result generation ends for the
// instance rather than going on with a gap.
void stopAfterFailedWrite(ModelInstance* instance, double time) {
  ResultBuffer* b = instance->resultBuffer;
  fmiLog(instance, fmi2Warning, "%s writing the result file %s failed at t = %.4f, stopping result generation.",
         warningPrefix, b->writer.fileName ? b->writer.fileName : "", time);
  releaseBuffer(instance, false);
  instance->resultGeneration = 0;
}

// One buffered sample as the next row of data_2. False when writing failed (and result
// generation has stopped).
bool writeSlot(ModelInstance* instance, const ResultSlot* slot) {
  ResultWriter* w = &instance->resultBuffer->writer;
  bool written =
      resultFileRequest(resultRequestSampleRow, w, slot->time, secondDataTime, slot->parameters, slot->states,
                        slot->derivatives, slot->outputs, slot->inputs, slot->auxiliaries) == 0;
  if (written) {
    declareVariables(slot->states, slot->parameters, nullptr, nullptr, nullptr, 0, w);
    written = resultFileRequest(resultRequestWriteRow, w, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr) == 0;
  }
  if (!written) stopAfterFailedWrite(instance, slot->time);
  return written;
}

// The base name with its number: "<base>.mat" for the process's first result file, then
// "<base>2.mat", "<base>3.mat", ...; every "/" made "_". False when the name is 256 characters
// or longer, or memory is missing.
bool nameResultFile(ModelInstance* instance, int32_t number) {
  const fmi2CallbackFunctions* functions = instance->functions;
  const char* name = instance->instanceName ? instance->instanceName : "";
  const char* stem = name[0] ? name : "dres";
  size_t baseSize = strlen(stem) + sizeof "_internal";
  char* base = static_cast<char*>(functions->allocateMemory(baseSize, 1));
  if (!base) return false;
  snprintf(base, baseSize, "%s_internal", stem);
  char formatted[fileNameSize];
  int length = number == 1 ? snprintf(formatted, sizeof formatted, "%s.mat", base)
                           : snprintf(formatted, sizeof formatted, "%s%d.mat", base, number);
  functions->freeMemory(base);
  if (length < 0 || length >= fileNameSize) return false;
  for (char* c = formatted; *c; ++c)
    if (*c == '/') *c = '_';
  instance->resultBuffer->writer.fileName = fmiStrdup(functions, formatted);
  return instance->resultBuffer->writer.fileName != nullptr;
}

bool setUp(ModelInstance* instance, int32_t number) {
  const fmi2CallbackFunctions* functions = instance->functions;
  auto* b = static_cast<ResultBuffer*>(fmiAllocateZeroed(functions, 1, sizeof(ResultBuffer)));
  instance->resultBuffer = b;
  if (!b) return false;
  b->slots = static_cast<ResultSlot**>(fmiAllocateZeroed(functions, resultSlotCount, sizeof(ResultSlot*)));
  if (!b->slots) return false;
  for (int32_t s = 0; s < resultSlotCount; ++s) {
    b->slots[s] = static_cast<ResultSlot*>(fmiAllocateZeroed(functions, 1, sizeof(ResultSlot)));
    if (!b->slots[s]) return false;
  }
  if (!resultBufferExtend(instance)) return false;

  // A declaration routine sees an empty request without a writer before its writer is set up.
  resultFileRequest(resultRequestNone, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  declareVariables(nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr);
  int failed = resultFileSetup(&b->writer);
  b->writer.fileName = nullptr;  // the writer's constant default; ours is made below
  if (failed || !nameResultFile(instance, number)) return false;

  // The declaration routine writes into the states and parameters it is given: it gets the
  // copies in slot 0, which the first sample overwrites.
  ResultSlot* scratch = b->slots[0];
  copyValues(scratch, instance);
  if (resultFileStart(&b->writer, instance->time, secondDataTime, scratch->parameters, scratch->states,
                      scratch->derivatives, scratch->outputs, scratch->inputs, scratch->auxiliaries))
    return false;
  b->lastWarnedTime = b->lastWrittenTime = b->newestTime = noTime;
  resultSample(instance, 0);
  return true;
}

}  // namespace

void resultSetup(ModelInstance* instance) {
  // A run that never reached its terminate (the instance was initialised again) keeps what it
  // buffered, but no sample of the new run.
  resultBufferFlush(instance);
  releaseBuffer(instance);
  int32_t number = ++resultSetupCount;
  fmiLog(instance, fmi2OK, "Setting up result generation");
  if (setUp(instance, number)) return;
  fmiLog(instance, fmi2Warning, "Failed to setup result generation, skipping it");
  releaseBuffer(instance);
  instance->resultGeneration = 0;
}

void resultSample(ModelInstance* instance, int force) {
  ResultBuffer* b = instance->resultBuffer;
  if (!b) return;
  double t = instance->time;
  if (t < b->lastWrittenTime || (t == b->lastWrittenTime && !force)) {
    if (b->lastWrittenTime > b->lastWarnedTime) {
      fmiLog(instance, fmi2Warning, "%s: duplicate sample point at t = %.4f (and others at t < %f) neglected.",
             warningPrefix, t, b->lastWrittenTime);
      b->lastWarnedTime = b->lastWrittenTime;
    }
    return;
  }
  // An earlier FMU state was restored: the samples after it are taken back, however many.
  if (t < b->newestTime) {
    while (b->used > 0 && newestSlot(b)->time > t) b->used -= 1;
    b->next = ringIndex(b->oldest + b->used);
    b->newestTime = b->used > 0 ? newestSlot(b)->time : noTime;
  }
  if ((t - b->newestTime) * (1.0 / sampleSpacing) < 1.0 && !force) return;

  if (b->used == b->slotsWithArrays) {
    if (b->slotsWithArrays == resultSlotCount) {
      if (!b->fullWarned && instance->fmuType == fmi2CoSimulation) {
        fmiLog(instance, fmi2Warning,
               "%s: buffer full at t = %.4f, forcing file output for interval t = %.4f ... %.4f. To avoid this for "
               "FMI 2, set SetFMUStatePriorToCurrentPoint = fmiTrue in fmiDoStep. Will not warn about this again.",
               warningPrefix, t, b->slots[b->oldest]->time, b->slots[b->oldest + resultSlotChunk - 1]->time);
        b->fullWarned = 1;
      }
      if (!resultBufferFlushOldest(instance)) return;
    } else if (!resultBufferExtend(instance)) {
      fmiLog(instance, fmi2Warning, "%s: buffer extension failed at t = %.4f, forcing file output for interval t = %.4f ... %.4f",
             warningPrefix, t, b->slots[0]->time, b->slots[b->next - 1]->time);
      if (!resultBufferFlushOldest(instance)) return;
      // The slot at `next` has no arrays: the written slots, which have, go behind the kept
      // samples, so that the ring starts at slot 0 again and grows on from where it stands.
      std::rotate(b->slots, b->slots + resultSlotChunk, b->slots + b->slotsWithArrays);
      b->oldest = 0;
      b->next = b->used;
    }
  }
  resultBufferAppend(instance);
}

void resultBufferFlush(ModelInstance* instance) {
  ResultBuffer* b = instance->resultBuffer;
  if (!b || b->used == 0) return;
  double newest = newestSlot(b)->time;
  for (int32_t i = 0; i < b->used; ++i)
    if (!writeSlot(instance, b->slots[ringIndex(b->oldest + i)])) return;
  b->lastWrittenTime = newest;
  b->oldest = b->next = b->used = 0;
}

void resultFinish(ModelInstance* instance) {
  ResultBuffer* b = instance->resultBuffer;
  if (!b) return;
  if (instance->time > b->newestTime) {
    // With no newest time the spacing lets the final sample through; a time equal to the last
    // written one is still a duplicate.
    b->newestTime = noTime;
    resultSample(instance, 0);
  }
  resultBufferFlush(instance);
  releaseBuffer(instance);
}

void resultBufferAppend(ModelInstance* instance) {
  ResultBuffer* b = instance->resultBuffer;
  if (b->next >= b->slotsWithArrays) return;  // never: the ring makes room before every sample
  copyValues(b->slots[b->next], instance);
  b->newestTime = instance->time;
  b->next = ringIndex(b->next + 1);
  b->used += 1;
}

int resultBufferFlushOldest(ModelInstance* instance) {
  ResultBuffer* b = instance->resultBuffer;
  // `oldest` is a multiple of the chunk: the chunk does not wrap.
  for (int32_t i = 0; i < resultSlotChunk; ++i)
    if (!writeSlot(instance, b->slots[b->oldest + i])) return 0;
  b->lastWrittenTime = b->slots[b->oldest + resultSlotChunk - 1]->time;
  b->used -= resultSlotChunk;
  b->oldest = ringIndex(b->oldest + resultSlotChunk);
  return 1;
}

int resultBufferExtend(ModelInstance* instance) {
  ResultBuffer* b = instance->resultBuffer;
  if (b->next != b->slotsWithArrays || b->next + resultSlotChunk > resultSlotCount) return 0;
  for (int32_t s = b->next; s < b->next + resultSlotChunk; ++s) {
    ResultSlot* slot = b->slots[s];
    for (const SlotArray& a : slotArrays) slot->*a.copy = nullptr;
    b->slotsWithArrays += 1;
    for (const SlotArray& a : slotArrays) {
      slot->*a.copy = static_cast<double*>(
          instance->functions->allocateMemory(static_cast<size_t>(instance->*a.count), sizeof(double)));
      if (!(slot->*a.copy)) {
        resultBufferFree(instance);
        b->slotsWithArrays = b->next;
        return 0;
      }
    }
  }
  return 1;
}

void resultBufferFree(ModelInstance* instance) {
  ResultBuffer* b = instance->resultBuffer;
  releaseArrays(instance, b->next, b->slotsWithArrays);
}
