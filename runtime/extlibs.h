// Loading and unloading the external libraries that a generated model lists.
#pragma once

// `list` is the model's null-terminated list of library paths (UTF-8). `*handles` is the
// caller's table of library handles, one per entry: null until the first load, which allocates
// it zero-filled from the C heap (the caller releases it with free). `load` 1 loads every entry
// not loaded yet, 0 unloads every loaded entry. `ownPath` is the unit's own file path.
//
// An entry that begins with "./" or ".\" names a file in the unit's own folder (in the current
// folder when ownPath is null or empty); any other entry is opened as it stands. Dependencies
// of a library are found through its own run path. A library that cannot be loaded (or whose
// path would be too long) keeps a null handle without a message and is tried again at the next
// load. Returns `list`.
const char** LoadExternalLibraries(const char** list, void*** handles, int load,
                                   const char* ownPath);
