// The host's callbacks for test programs with the failing C heap (failing_heap.h): each runs with
// that heap disarmed, so that a failure the test injects is always the unit's, and the messages
// and blocks go to the HostCallbacks that disarmedRecording names.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "failing_heap.h"
#include "fmu_host.h"

inline HostCallbacks* disarmedRecording = nullptr;

extern "C" inline void disarmedLogger(fmi2ComponentEnvironment, fmi2String instanceName, fmi2Status status,
                                      fmi2String category, fmi2String message, ...) {
  heap::Suspended suspended;
  va_list args;
  va_start(args, message);
  disarmedRecording->record(instanceName, status, category, message, args);
  va_end(args);
}

extern "C" inline void* disarmedAllocate(size_t count, size_t size) {
  heap::Suspended suspended;
  return disarmedRecording->functions()->allocateMemory(count, size);
}

extern "C" inline void disarmedFree(void* block) {
  heap::Suspended suspended;
  disarmedRecording->functions()->freeMemory(block);
}
