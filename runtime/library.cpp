// Process attach and detach of the runtime.
#include "clocale.h"
#include "entry.h"
#include "platform.h"
#include "threadblock.h"

namespace {
int attachFailed = 0;
}

int RuntimeProcessAttach(void) {
  attachFailed = PlatformSlotCreate(ReleaseThreadBlock) != 0;
  return attachFailed;
}

void RuntimeProcessDetach(void) {
  FreeCurrentThreadBlock();
  PlatformSlotDelete();
  FreeCLocale();
}
