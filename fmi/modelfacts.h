// Constants of the generated model that the FMI layer reads and that the model's interface does
// not carry: this model loads no external libraries, takes no state snapshots for directional
// derivatives and lists no Boolean references to re-apply after an event-iteration step.
#pragma once

// The model's null-terminated list of external libraries; null for none.
inline const char** const modelExternalLibraries = nullptr;
// Whether directional derivatives work on FMU-state snapshots.
constexpr int modelUseStateSnapshots = 0;
// Number of Boolean references re-applied after each successful event-iteration step.
constexpr int modelBooleanReapplyCount = 0;
