#include "platform.h"

#include <pthread.h>

namespace {
pthread_key_t slotKey;
int slotExists = 0;
}  // namespace

int PlatformSlotCreate(PlatformThreadExit onThreadExit) {
  if (slotExists) return 0;
  if (pthread_key_create(&slotKey, onThreadExit) != 0) return -1;
  slotExists = 1;
  return 0;
}

void PlatformSlotDelete(void) {
  if (!slotExists) return;
  // Deleting the key before the code is unmapped keeps threads that outlive the library from
  // running a destructor that no longer exists.
  pthread_key_delete(slotKey);
  slotExists = 0;
}

int PlatformSlotCreated(void) { return slotExists; }

void* PlatformSlotGet(void) { return slotExists ? pthread_getspecific(slotKey) : nullptr; }

int PlatformSlotSet(void* value) {
  if (!slotExists) return -1;
  return pthread_setspecific(slotKey, value) == 0 ? 0 : -1;
}
