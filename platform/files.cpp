#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"

int PlatformFileKind(const char* name) {
  struct stat status;
  if (!name || stat(name, &status) != 0) return -1;
  return S_ISDIR(status.st_mode) ? 1 : 0;
}

PlatformDirectory* PlatformDirectoryOpen(const char* name) {
  DIR* native = name ? opendir(name) : nullptr;
  if (!native) {
    if (!name) errno = EFAULT;
    return nullptr;
  }
  // The record is the native stream itself: nothing else needs keeping.
  return reinterpret_cast<PlatformDirectory*>(native);
}

const char* PlatformDirectoryRead(PlatformDirectory* directory) {
  if (!directory) {
    errno = EFAULT;
    return nullptr;
  }
  // readdir leaves errno alone at the end and sets it on failure: only a fresh 0 tells them apart.
  errno = 0;
  struct dirent* entry = readdir(reinterpret_cast<DIR*>(directory));
  return entry ? entry->d_name : nullptr;
}

int PlatformDirectoryClose(PlatformDirectory* directory) {
  if (!directory) return -1;
  return closedir(reinterpret_cast<DIR*>(directory)) == 0 ? 0 : -1;
}

int PlatformProcessId(void) { return static_cast<int>(getpid()); }

int PlatformLocalTimeNow(PlatformLocalTime* out) {
  if (!out) return -1;
  struct timespec now;
  struct tm local;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || !localtime_r(&now.tv_sec, &local)) return -1;
  out->millisecond = static_cast<int>(now.tv_nsec / 1000000);
  out->second = local.tm_sec;
  out->minute = local.tm_min;
  out->hour = local.tm_hour;
  out->day = local.tm_mday;
  out->month = local.tm_mon + 1;
  out->year = local.tm_year + 1900;
  return 0;
}
