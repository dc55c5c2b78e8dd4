// An FMU is a zip archive; the host works on a copy unpacked into a temporary folder.
#pragma once

#include <string>

// Unpacks the archive into a new folder under $TMPDIR (or /tmp) with the unzip program. On
// success *folder is its path; on failure nothing is left behind and *error says why.
bool unpackFmu(const char* fmuPath, std::string* folder, std::string* error);

// Removes the folder and everything in it (symbolic links are removed, not followed).
void removeUnpackedFmu(const std::string& folder);

// The shared library of a Model Exchange or Co-Simulation identifier for this platform.
std::string fmuBinaryPath(const std::string& folder, const std::string& modelIdentifier);
