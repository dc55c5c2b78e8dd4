// Process attach and detach of the runtime.
#include "clocale.h"
#include "entry.h"
#include "platform.h"

namespace {
int attachFailed = 0;
}

int RuntimeProcessAttach(void) {
  attachFailed = PlatformSlotCreate(nullptr) != 0;
  return attachFailed;
}

void RuntimeProcessDetach(void) {
  PlatformSlotDelete();
  FreeCLocale();
}
