#include "platform.h"

#include <time.h>

double PlatformProcessMilliseconds(void) {
  return static_cast<double>(clock()) * 1000.0 / CLOCKS_PER_SEC;
}

uint64_t PlatformWallMilliseconds(void) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
