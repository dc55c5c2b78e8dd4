#include "filecache.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "modelicautilities.h"
#include "platform.h"

// An entry that cannot be added is left out instead of ending the process.
#define HASH_NONFATAL_OOM 1
#define uthash_nonfatal_oom(entry) (addFailed = 1)
static int addFailed = 0;
#include <uthash.h>

namespace {

struct FileCacheEntry {
  char* fileName;
  FILE* stream;  // null while lent out
  int32_t line;  // lines already read from stream
  UT_hash_handle hh;
};

FileCacheEntry* fileCache = nullptr;
PlatformLock* fileCacheLock = nullptr;

FileCacheEntry* Find(const char* name) {
  FileCacheEntry* entry = nullptr;
  HASH_FIND_STR(fileCache, name, entry);
  return entry;
}

void Remove(FileCacheEntry* entry) {
  HASH_DEL(fileCache, entry);
  if (entry->stream) fclose(entry->stream);
  free(entry->fileName);
  free(entry);
}

// The lock is entered and left as the library's loading made it; a lock that could not be created
// leaves the cache unguarded, as a single-threaded caller needs nothing more.
void Lock(void) { PlatformLockEnter(fileCacheLock); }
void Unlock(void) { PlatformLockLeave(fileCacheLock); }

void SkipLines(FILE* stream, int32_t lines) {
  for (int32_t i = 0; i < lines; ++i) {
    int c;
    while ((c = fgetc(stream)) != EOF && c != '\n') {
    }
    if (c == EOF) return;
  }
}

}  // namespace

extern "C" {

FILE* FileCacheOpen(const char* name, int32_t skip) {
  FILE* stream = nullptr;
  if (skip < 0) skip = 0;
  Lock();
  FileCacheEntry* entry = name ? Find(name) : nullptr;
  if (entry && entry->stream) {
    stream = entry->stream;
    entry->stream = nullptr;
    if (skip != 0 && skip >= entry->line) {
      skip -= entry->line;
    } else if (fseek(stream, 0L, SEEK_SET) != 0) {
      fclose(stream);
      stream = nullptr;
    }
  }
  Unlock();
  if (!stream) {
    stream = name ? fopen(name, "r") : nullptr;
    if (!stream)
      ModelicaFormatError("Not possible to open file \"%s\" for reading:\n%s\n", name ? name : "",
                          strerror(errno));
  }
  SkipLines(stream, skip);
  return stream;
}

void FileCacheStore(FILE* stream, const char* name, int32_t line) {
  if (!stream) return;
  if (!name) {
    fclose(stream);
    return;
  }
  int tableOutOfMemory = 0;
  FILE* toClose = nullptr;
  Lock();
  FileCacheEntry* entry = Find(name);
  if (entry) {
    // Handing back the stream the entry already holds must not close it under the cache.
    toClose = entry->stream != stream ? entry->stream : nullptr;
    entry->stream = stream;
    entry->line = line;
  } else {
    entry = static_cast<FileCacheEntry*>(calloc(1, sizeof(FileCacheEntry)));
    char* copy = entry ? strdup(name) : nullptr;
    if (copy) {
      entry->fileName = copy;
      entry->stream = stream;
      entry->line = line;
      const bool creatingTable = fileCache == nullptr;
      addFailed = 0;
      HASH_ADD_KEYPTR(hh, fileCache, entry->fileName, strlen(entry->fileName), entry);
      if (addFailed) {
        tableOutOfMemory = creatingTable;
        free(copy);
        free(entry);
        toClose = stream;
      }
    } else {
      free(entry);
      toClose = stream;
    }
  }
  Unlock();
  if (toClose) fclose(toClose);
  if (tableOutOfMemory) ModelicaFormatMessage("Error: %s\n", "out of memory");
}

void FileCacheClose(const char* name) {
  if (!name) return;
  Lock();
  FileCacheEntry* entry = Find(name);
  if (entry) Remove(entry);
  Unlock();
}

void FileCacheLockCreate(void) {
  if (!fileCacheLock) fileCacheLock = PlatformLockCreate();
}

void FileCacheLockDelete(void) {
  Lock();
  FileCacheEntry* entry;
  FileCacheEntry* next;
  HASH_ITER(hh, fileCache, entry, next) { Remove(entry); }
  Unlock();
  PlatformLockDelete(fileCacheLock);
  fileCacheLock = nullptr;
}

}  // extern "C"

namespace {
// Created when the library is loaded, before any caller can read a file; deleted at exit (for a
// shared library: when it is unloaded).
__attribute__((constructor)) void CreateFileCacheLock(void) {
  FileCacheLockCreate();
  atexit(FileCacheLockDelete);
}
}  // namespace
