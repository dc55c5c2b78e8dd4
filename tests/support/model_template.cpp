// Test programs that do not link the generated model get a zero-filled template; the model's own
// definition takes precedence wherever it is linked.
#include "modeldata.h"

__attribute__((weak)) ModelData modelDataTemplate;
