// A directory stream with counted positions, under the Modelica library's directory functions.
// Each function sets errno to 0 on entry and to a POSIX code on failure: EFAULT (no stream),
// ENOTDIR (an empty name or not a directory), ENOENT (a missing name), ENOMEM, EINVAL (a stream
// that is not one of ours); they report through errno and a null or -1 result only.
#pragma once

#include <cstdint>

struct PlatformDirectory;

struct DirectoryEntry {
  int32_t d_ino;           // always 0
  int16_t entryReserved;   // always 0
  int16_t entryNameLength; // length of the name, set by DirectoryRead (at most 255 characters)
  const char* d_name;      // the name, inside the stream's own record
};

struct DirectoryStream {
  PlatformDirectory* search;  // the native search; null while none runs
  int32_t position;           // -1 end reached (or the search failed), 0 not started, n: n delivered
  DirectoryEntry entry;
  char foundName[256];
  char name[1];               // the directory's name; the record is allocated to hold all of it
};

// Checks that name is a directory; the search starts with the first DirectoryRead.
DirectoryStream* DirectoryOpen(const char* name);
// The next entry ("." and ".." included, in the system's order), or null at the end (errno 0) or
// when the read failed (errno kept from the system). The end stays the end.
DirectoryEntry* DirectoryRead(DirectoryStream* stream);
// Ends a running search and frees the stream: 0, or -1 when ending the search failed or (EFAULT)
// for no stream.
int DirectoryClose(DirectoryStream* stream);
// Back to the start: the next read delivers the first entry again.
void DirectoryRewind(DirectoryStream* stream);
// The number of entries delivered, -1 at the end, or -1 with EFAULT for no stream.
int32_t DirectoryTell(DirectoryStream* stream);
// -1 goes to the end; a count n rewinds and reads until n entries are delivered or the end comes;
// below -1 is EINVAL.
void DirectorySeek(DirectoryStream* stream, int32_t position);
