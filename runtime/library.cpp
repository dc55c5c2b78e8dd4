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

int RuntimeHasThreadSlot(void) { return !attachFailed && PlatformSlotCreated(); }

void RuntimeProcessDetach(void) {
  FreeCurrentThreadBlock();
  PlatformSlotDelete();
  FreeCLocale();
}
