#include "directory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform.h"

namespace {

int EndSearch(DirectoryStream* stream) {
  int result = 0;
  if (stream->search) result = PlatformDirectoryClose(stream->search);
  stream->search = nullptr;
  return result;
}

}  // namespace

DirectoryStream* DirectoryOpen(const char* name) {
  errno = 0;
  if (!name) {
    errno = EFAULT;
    return nullptr;
  }
  if (!name[0]) {
    errno = ENOTDIR;
    return nullptr;
  }
  int kind = PlatformFileKind(name);
  if (kind < 0) {
    errno = ENOENT;
    return nullptr;
  }
  if (kind == 0) {
    errno = ENOTDIR;
    return nullptr;
  }
  size_t length = strlen(name);
  DirectoryStream* stream = static_cast<DirectoryStream*>(calloc(1, sizeof(DirectoryStream) + length));
  if (!stream) {
    errno = ENOMEM;
    return nullptr;
  }
  memcpy(stream->name, name, length + 1);
  stream->entry.d_name = stream->foundName;
  return stream;
}

DirectoryEntry* DirectoryRead(DirectoryStream* stream) {
  errno = 0;
  if (!stream) {
    errno = EFAULT;
    return nullptr;
  }
  if (stream->entry.d_name != stream->foundName) {
    errno = EINVAL;
    return nullptr;
  }
  if (stream->position < 0) return nullptr;
  if (stream->position == 0) {
    stream->search = PlatformDirectoryOpen(stream->name);
    if (!stream->search) {
      stream->position = -1;
      return nullptr;
    }
  }
  const char* found = PlatformDirectoryRead(stream->search);
  if (!found) {
    // errno stays as the read left it: 0 at the end, the system's code when the read failed.
    int readError = errno;
    EndSearch(stream);
    stream->position = -1;
    errno = readError;
    return nullptr;
  }
  size_t length = strnlen(found, sizeof stream->foundName - 1);
  memcpy(stream->foundName, found, length);
  stream->foundName[length] = '\0';
  stream->entry.entryNameLength = static_cast<int16_t>(length);
  // A directory with more entries than an int32 counts stays at the last count.
  if (stream->position < INT32_MAX) stream->position += 1;
  return &stream->entry;
}

int DirectoryClose(DirectoryStream* stream) {
  errno = 0;
  if (!stream) {
    errno = EFAULT;
    return -1;
  }
  int result = EndSearch(stream);
  free(stream);
  return result;
}

void DirectoryRewind(DirectoryStream* stream) {
  errno = 0;
  if (!stream) {
    errno = EFAULT;
    return;
  }
  EndSearch(stream);
  stream->position = 0;
}

int32_t DirectoryTell(DirectoryStream* stream) {
  errno = 0;
  if (!stream) {
    errno = EFAULT;
    return -1;
  }
  return stream->position;
}

void DirectorySeek(DirectoryStream* stream, int32_t position) {
  errno = 0;
  if (!stream) {
    errno = EFAULT;
    return;
  }
  if (position < -1) {
    errno = EINVAL;
    return;
  }
  if (position == -1) {
    EndSearch(stream);
    stream->position = -1;
    return;
  }
  DirectoryRewind(stream);
  while (stream->position >= 0 && stream->position < position && DirectoryRead(stream)) {
  }
}
