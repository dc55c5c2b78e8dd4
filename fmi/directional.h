// Directional derivatives: dz = (dz/dv) * dv for seed variables v (states or inputs) and result
// variables z (state derivatives or outputs).
#pragma once

#include <cstddef>

#include "fmi2.h"
#include "instance.h"

// Nonzero when the generated model fills the Jacobian blocks itself; this model does not, so the
// derivatives come from central differences through the value getters and setters.
extern int analyticJacobian;

// Accepted in every mode. The seed variables keep their values: every path that perturbed them
// sets them back before returning, a failure included. Null arrays with a nonzero count are
// refused with fmi2Warning and change nothing.
fmi2Status fmiGetDirectionalDerivative(ModelInstance* instance, const fmi2ValueReference vUnknown_ref[],
                                       size_t nUnknown, const fmi2ValueReference vKnown_ref[], size_t nKnown,
                                       const fmi2Real dvKnown[], fmi2Real dvUnknown[]);
