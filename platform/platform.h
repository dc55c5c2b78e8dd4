// The one layer that knows the operating system. Everything above it calls these functions
// instead of POSIX directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- Thread-local slot ------------------------------------------------------------------------
// One pointer per thread. `onThreadExit` runs when a thread that holds a non-null value ends
// (the slot's value is already null by then).
typedef void (*PlatformThreadExit)(void* value);

int PlatformSlotCreate(PlatformThreadExit onThreadExit);  // 0 ok, -1 no slot available
void PlatformSlotDelete(void);
int PlatformSlotCreated(void);  // 1 while a slot exists
void* PlatformSlotGet(void);    // null without a slot
int PlatformSlotSet(void* value);  // 0 ok, -1 without a slot or on failure

// ---- Lock ------------------------------------------------------------------------------------
struct PlatformLock;
PlatformLock* PlatformLockCreate(void);  // null when it cannot be created
void PlatformLockEnter(PlatformLock* lock);
void PlatformLockLeave(PlatformLock* lock);
void PlatformLockDelete(PlatformLock* lock);

// ---- The unit's own file ---------------------------------------------------------------------
// Writes the absolute path of the shared object that holds this code into `buffer` (size
// bytes, always terminated). Returns the length, or -1 when it cannot be found or does not fit.
int PlatformModulePath(char* buffer, size_t size);

// ---- Library loading -------------------------------------------------------------------------
void* PlatformLibraryOpen(const char* path);  // null on failure
void* PlatformLibrarySymbol(void* library, const char* name);
int PlatformLibraryClose(void* library);  // 0 ok
const char* PlatformLibraryError(void);   // last loader error text, never null

// ---- Clock -----------------------------------------------------------------------------------
// Processor time of the process in milliseconds (what the runtime's timers measure).
double PlatformProcessMilliseconds(void);
// Milliseconds of the monotonic wall clock since the unit was loaded. Unlike processor time,
// which is a system call here, it is read in a few nanoseconds.
double PlatformElapsedMilliseconds(void);

// ---- Files and directories ---------------------------------------------------------------------
// What a name designates: -1 nothing (or the query failed), 0 something that is not a directory,
// 1 a directory.
int PlatformFileKind(const char* name);

// A native directory search. Open fails with null and errno set. Read gives the next entry's name
// (valid until the next read or close; "." and ".." included, in the system's order), or null at
// the end with errno 0, or null with errno set when the read itself failed. Close returns 0 or -1.
struct PlatformDirectory;
PlatformDirectory* PlatformDirectoryOpen(const char* name);
const char* PlatformDirectoryRead(PlatformDirectory* directory);
int PlatformDirectoryClose(PlatformDirectory* directory);

// ---- Process and local time --------------------------------------------------------------------
int PlatformProcessId(void);

// The calendar time broken down into local time, all fields from one clock reading: month 1-12,
// the full year, second 0-60.
struct PlatformLocalTime {
  int millisecond, second, minute, hour, day, month, year;
};
int PlatformLocalTimeNow(PlatformLocalTime* out);  // 0 ok, -1 when the time cannot be had

// ---- Files and file mapping ------------------------------------------------------------------
// Each of these returns -1 (or PLATFORM_MAP_FAILED) on failure with errno set, as the C library
// functions they stand for do.
enum PlatformOpenMode : int {
  PLATFORM_OPEN_READ = 0,     // an existing file, read-only
  PLATFORM_OPEN_REWRITE = 1,  // read and write, created when missing, truncated to length 0
};
int PlatformFileOpen(const char* path, int openMode);  // a descriptor, or -1
int PlatformFileClose(int descriptor);                 // 0 or -1
// The length of the open file and whether it is a regular file: 0, or -1.
int PlatformFileStatus(int descriptor, uint64_t* length, int* isRegular);
int PlatformFileTruncate(int descriptor, uint64_t length);  // 0 or -1
// Sets the length of a file being written and reserves its blocks, so that a full disk fails
// here rather than later, inside a write through a view (which would end the process): 0 or -1.
int PlatformFileExtend(int descriptor, uint64_t length);
// Bytes read (0 at end of file) or written, or -1.
long PlatformFileRead(int descriptor, void* buffer, size_t size);
long PlatformFileWrite(int descriptor, const void* buffer, size_t size);
// Waits, without a time limit, until the descriptor can be read (PLATFORM_WAIT_READ) or written
// (PLATFORM_WAIT_WRITE) without blocking, either when both are given. A stream that has ended or
// failed counts as ready: the next read or write tells which. Interruptions by signals are waited
// through. 0, or -1 with EBADF for a descriptor that is not open (a negative one included) and
// EINVAL for events outside the two.
constexpr int PLATFORM_WAIT_READ = 1, PLATFORM_WAIT_WRITE = 2;
int PlatformFileWait(int descriptor, int events);
// Reads until `size` bytes came or the stream ended, repeating interrupted and short reads and
// waiting for a non-blocking descriptor that has nothing yet: the bytes read (fewer than `size`
// only at the end of the stream), or -1 with errno (EINVAL for a size beyond what one call can
// count).
long PlatformFileReadFully(int descriptor, void* buffer, size_t size);
// Writes `size` bytes at `offset` of the file a stream writes, after what the stream holds, and
// leaves the stream where it was: an update in place without two seeks. 0, or -1.
int PlatformStreamWriteAt(FILE* stream, const void* buffer, size_t size, uint64_t offset);

// A view of the first `length` bytes of the open file. Protection is a combination of the bits
// below; 0 and anything beyond 7 fail with EINVAL. Write access always includes read access and
// execute access includes read access. Views are shared (changes reach the file) unless
// PLATFORM_MAP_PRIVATE is given.
constexpr int PLATFORM_MAP_READ = 1, PLATFORM_MAP_WRITE = 2, PLATFORM_MAP_EXECUTE = 4;
constexpr int PLATFORM_MAP_SHARED = 1, PLATFORM_MAP_PRIVATE = 2;
#define PLATFORM_MAP_FAILED (reinterpret_cast<void*>(-1))
void* PlatformFileMap(size_t length, int protection, int flags, int descriptor);
int PlatformFileUnmap(void* view, size_t length);  // 0 or -1
int PlatformFileSync(void* view, size_t length);   // writes a shared view back: 0 or -1
