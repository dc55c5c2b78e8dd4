#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

int PlatformFileOpen(const char* path, int openMode) {
  if (path == nullptr) {
    errno = EFAULT;
    return -1;
  }
  if (openMode == PLATFORM_OPEN_REWRITE) return open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return open(path, O_RDONLY | O_CLOEXEC);
}

int PlatformFileClose(int descriptor) { return close(descriptor) == 0 ? 0 : -1; }

int PlatformFileStatus(int descriptor, uint64_t* length, int* isRegular) {
  struct stat status;
  if (fstat(descriptor, &status) != 0) return -1;
  if (length != nullptr) *length = static_cast<uint64_t>(status.st_size);
  if (isRegular != nullptr) *isRegular = S_ISREG(status.st_mode) ? 1 : 0;
  return 0;
}

int PlatformFileTruncate(int descriptor, uint64_t length) {
  return ftruncate(descriptor, static_cast<off_t>(length)) == 0 ? 0 : -1;
}

int PlatformFileExtend(int descriptor, uint64_t length) {
  if (ftruncate(descriptor, static_cast<off_t>(length)) != 0) return -1;
  int error = posix_fallocate(descriptor, 0, static_cast<off_t>(length));
  // Some file systems cannot reserve blocks; their files keep the plain length.
  if (error == 0 || error == EOPNOTSUPP) return 0;
  errno = error;
  return -1;
}

long PlatformFileRead(int descriptor, void* buffer, size_t size) { return read(descriptor, buffer, size); }

long PlatformFileWrite(int descriptor, const void* buffer, size_t size) { return write(descriptor, buffer, size); }

int PlatformFileWait(int descriptor, int events) {
  // poll passes over a negative descriptor and would wait for ever.
  if (descriptor < 0) {
    errno = EBADF;
    return -1;
  }
  if (events == 0 || (events & ~(PLATFORM_WAIT_READ | PLATFORM_WAIT_WRITE)) != 0) {
    errno = EINVAL;
    return -1;
  }
  pollfd entry = {};
  entry.fd = descriptor;
  entry.events = static_cast<short>(((events & PLATFORM_WAIT_READ) != 0 ? POLLIN : 0) |
                                    ((events & PLATFORM_WAIT_WRITE) != 0 ? POLLOUT : 0));
  for (;;) {
    int ready = poll(&entry, 1, -1);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) return -1;
  }
  if ((entry.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  return 0;
}

long PlatformFileReadFully(int descriptor, void* buffer, size_t size) {
  if (size > static_cast<size_t>(LONG_MAX)) {
    errno = EINVAL;
    return -1;
  }
  char* bytes = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t count = read(descriptor, bytes + done, size - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count == 0) {
      break;
    } else if (errno != EINTR && (errno != EAGAIN || PlatformFileWait(descriptor, PLATFORM_WAIT_READ) != 0)) {
      return -1;
    }
  }
  return static_cast<long>(done);
}

int PlatformStreamWriteAt(FILE* stream, const void* buffer, size_t size, uint64_t offset) {
  if (fflush(stream) != 0) return -1;
  int descriptor = fileno(stream);
  if (descriptor < 0 || offset > static_cast<uint64_t>(INT64_MAX)) return -1;
  const char* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    ssize_t written = pwrite(descriptor, bytes, size, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return -1;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
    offset += static_cast<uint64_t>(written);
  }
  return 0;
}

void* PlatformFileMap(size_t length, int protection, int flags, int descriptor) {
  // Write access comes with read access, and execute access with read access, whatever the
  // bits asked for, as file-mapping protections elsewhere grant them.
  int native;
  switch (protection) {
    case 1: native = PROT_READ; break;
    case 2:
    case 3: native = PROT_READ | PROT_WRITE; break;
    case 4:
    case 5: native = PROT_READ | PROT_EXEC; break;
    case 6:
    case 7: native = PROT_READ | PROT_WRITE | PROT_EXEC; break;
    default: errno = EINVAL; return PLATFORM_MAP_FAILED;
  }
  int sharing = (flags & PLATFORM_MAP_PRIVATE) != 0 ? MAP_PRIVATE : MAP_SHARED;
  void* view = mmap(nullptr, length, native, sharing, descriptor, 0);
  return view == MAP_FAILED ? PLATFORM_MAP_FAILED : view;
}

int PlatformFileUnmap(void* view, size_t length) { return munmap(view, length) == 0 ? 0 : -1; }

int PlatformFileSync(void* view, size_t length) { return msync(view, length, MS_SYNC) == 0 ? 0 : -1; }
