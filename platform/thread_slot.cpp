#include "platform.h"

#include <pthread.h>

namespace {
// The one slot there is: the runtime keeps each thread's ThreadBlock under it.
pthread_key_t threadBlockSlot;
int slotExists = 0;
}  // namespace

int PlatformSlotCreate(PlatformThreadExit onThreadExit) {
  if (slotExists) return 0;
  if (pthread_key_create(&threadBlockSlot, onThreadExit) != 0) return -1;
  slotExists = 1;
  return 0;
}

void PlatformSlotDelete(void) {
  if (!slotExists) return;
  // Deleting the key before the code is unmapped keeps threads that outlive the library from
  // running a destructor that no longer exists.
  pthread_key_delete(threadBlockSlot);
  slotExists = 0;
}

int PlatformSlotCreated(void) { return slotExists; }

void* PlatformSlotGet(void) { return slotExists ? pthread_getspecific(threadBlockSlot) : nullptr; }

int PlatformSlotSet(void* value) {
  if (!slotExists) return -1;
  return pthread_setspecific(threadBlockSlot, value) == 0 ? 0 : -1;
}
