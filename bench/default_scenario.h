// The README's default scenario as the benchmarks run it: communication steps of 1 ms, both lower
// limits -1, the ramp starting at 2, the switch as output, and a logger that shows only errors.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "fmi2.h"

namespace scenario {

constexpr double stepSize = 1e-3;
constexpr double tolerance = 1e-5;
constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";

// The bytes taking or restoring a state moves: the written part of the model block (86,616 of
// its 881,920 bytes; the reserve after it is never copied) and the values (ten arrays of 54
// doubles with their spare elements, the two solver blocks); and the length of a state's image,
// which carries the whole block.
constexpr size_t stateBytes = 86616 + 54 * 8 + 32 + 44;
constexpr size_t imageBytes = 882590;

constexpr fmi2ValueReference parameter(unsigned index) { return (1u << 24) | index; }

// The settings, made before the initialisation.
constexpr fmi2ValueReference references[] = {parameter(5), parameter(7), parameter(14), parameter(0)};
constexpr fmi2Real values[] = {-1.0, -1.0, 2.0, 2.0};
constexpr size_t settings = sizeof references / sizeof references[0];

extern "C" inline void quietLogger(fmi2ComponentEnvironment, fmi2String, fmi2Status status, fmi2String,
                                   fmi2String message, ...) {
  if (status > fmi2Warning) fprintf(stderr, "%s\n", message);
}

inline const fmi2CallbackFunctions callbacks = {quietLogger, calloc, free, nullptr, nullptr};

}  // namespace scenario
