// The unit's resources folder as the built-in resources function hands it to generated code.
#pragma once

// Process-wide: the folder text, null until it is computed or preset by the model.
extern const char* resourcesPath;
