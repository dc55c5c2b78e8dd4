#include "platform.h"

#include <pthread.h>
#include <stdlib.h>

struct PlatformLock {
  pthread_mutex_t mutex;
};

PlatformLock* PlatformLockCreate(void) {
  PlatformLock* lock = static_cast<PlatformLock*>(calloc(1, sizeof(PlatformLock)));
  if (!lock) return nullptr;
  if (pthread_mutex_init(&lock->mutex, nullptr) != 0) {
    free(lock);
    return nullptr;
  }
  return lock;
}

void PlatformLockEnter(PlatformLock* lock) {
  if (lock) pthread_mutex_lock(&lock->mutex);
}

void PlatformLockLeave(PlatformLock* lock) {
  if (lock) pthread_mutex_unlock(&lock->mutex);
}

void PlatformLockDelete(PlatformLock* lock) {
  if (!lock) return;
  pthread_mutex_destroy(&lock->mutex);
  free(lock);
}
