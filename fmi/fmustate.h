// FMU states: a record of the ModelInstance layout holding copies of an instance's values,
// strings, solver blocks, ModelData and (Co-Simulation) integrator data; taking, restoring and
// releasing one, and its byte image through the serialiser.
#pragma once

#include <cstddef>

#include "fmi2.h"
#include "instance.h"
#include "tpl.h"

// Format of the FMU-state image: the ten value arrays, the string table, time, levelReached,
// mode, inlineStepCounter, the four flags, SolverReals, SolverInts, the ModelData block and one
// word that readers ignore.
inline constexpr const char fmuStateFormat[] = "f#f#f#f#f#f#f#f#f#f#s#fiiUiiiiS(ffff)S(iiiiiiiiiii)BU";

// Bytes of one string buffer of an instance or a state: at most stringBufferSize - 1 characters.
constexpr size_t stringBufferSize = 501;

// A new state for the instance: its counts and callbacks, zero values, empty strings and a
// ModelData filled from the model's template. On failure "memory allocation failed" is logged,
// everything made is released, *out is null and the result is fmi2Error; the instance goes on.
fmi2Status fmiAllocateFMUstate(ModelInstance** out, ModelInstance* instance);

// Copies the instance into *state, allocating the state when *state is null and overwriting it
// in place otherwise. A Co-Simulation instance also saves its integrator data. A get that fails
// (fmi2Error) leaves *state as it was, and the state it referred to as well.
fmi2Status fmiGetFMUstate(ModelInstance* instance, ModelInstance** state);

// Copies the state back into the instance (its mode included); the instance keeps its own
// callbacks, solver-block addresses, ModelData pointers and blob record. A Co-Simulation
// instance restarts its integrator at the restored time and states. The state is unchanged.
// Everything that can fail is done before the instance is written: a restore refused for want
// of memory (fmi2Error) leaves the instance as it was.
fmi2Status fmiSetFMUstate(ModelInstance* instance, ModelInstance* state);

// Releases *state through the instance's freeMemory and nulls the handle; a null pointer or
// handle does nothing.
fmi2Status fmiFreeFMUstate(ModelInstance* instance, ModelInstance** state);
// The same without a message, for the instance's own states (the directional derivative's
// snapshot); a null *state does nothing.
void fmiReleaseFMUstate(ModelInstance* instance, ModelInstance** state);

// Maps the record's data with fmuStateFormat; blob := {the record's ModelData, its size}.
// The last item is the record's modelDataBlob pointer. Null after "createTplMap: tpl_map
// returned NULL" (fmi2Error, on the instance's logger).
tpl_map_node* createTplMap(ModelInstance* instance, ModelInstance* record, tpl_blob* blob);

// The three image calls run the serialiser under a call record (serialiser_call.h): its own
// messages reach the instance's logger at fmi2Warning, and when it runs out of memory the call
// refuses after "out of memory", as for the step it was in. A refused argument (a null pointer)
// is fmi2Warning; a call that could not do what was asked is fmi2Error after the failed step's
// message, and hands back nothing: no size, nothing written into the host's buffer, no state.
// The exact byte count of the state's image.
fmi2Status fmiSerializedFMUstateSize(ModelInstance* instance, ModelInstance* state, size_t* size);
// Writes the state's image into the first bytes of buffer; nothing when it does not fit.
fmi2Status fmiSerializeFMUstate(ModelInstance* instance, ModelInstance* state, fmi2Byte buffer[], size_t size);
// A new state in *state from an image of exactly `size` bytes. An image that fails to load or
// whose contents are not those of a state of this instance gives fmi2Error and leaves *state as
// the host had it: no state is made.
fmi2Status fmiDeSerializeFMUstate(ModelInstance* instance, const fmi2Byte buffer[], size_t size,
                                  ModelInstance** state);

// Copies the nine counts.
void fmiCopyStateCounts(ModelInstance* to, const ModelInstance* from);
// Copies the ten value arrays (the source's counts, without the spare element).
void fmiCopyStateValues(ModelInstance* to, const ModelInstance* from);
// Copies time, levelReached, mode, inlineStepCounter, the four flags and the solver blocks'
// values.
void fmiCopyStateScalars(ModelInstance* to, const ModelInstance* from);

// Copies a ModelData block from source (at any alignment) into destination, up to the reserve
// (which stays as the destination has it), except its pointers: the pointer fields (external objects with their destructors, Jacobian hand-over,
// string table) are taken from `pointers` (destination itself to keep its own) and the first two
// words are set to the given solver blocks. No pointer ever travels with a copied block.
void fmiCopyModelDataBlock(ModelData* destination, const void* source, const ModelData* pointers,
                           double* solverReals, int32_t* solverInts);

// Allocation as fmiAllocateFMUstate does it, but leaving the ModelData block unwritten for a
// caller that fills it completely at once.
fmi2Status fmiAllocateFMUstateUnfilled(ModelInstance** out, ModelInstance* instance);
