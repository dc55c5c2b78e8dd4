// The process-wide cache of text files being read line by line: a stream lent out by
// FileCacheOpen and handed back by FileCacheStore with the number of lines read from it, so that
// reading the next line continues where the previous read stopped. One lock guards the table; it
// is created when the library is loaded and deleted, with every cached stream closed, at exit.
#pragma once

#include <cstdint>
#include <cstdio>

extern "C" {

// A stream of the file opened for reading in text mode and positioned after `skip` lines (or at
// the end of a shorter file): the cached one when it has read no more than that (a skip of 0
// always starts from the beginning), else the file from its start. An unreadable file ends the
// evaluation through ModelicaFormatError.
FILE* FileCacheOpen(const char* name, int32_t skip);
// Hands stream to the cache as having read `line` lines of name (replacing and closing a stream
// the entry still held); without a name, or when the entry cannot be made, the stream is closed.
void FileCacheStore(FILE* stream, const char* name, int32_t line);
// Closes and forgets the cached stream of name.
void FileCacheClose(const char* name);

// The lock's lifecycle; the library's loading runs them. Delete also closes every cached stream.
void FileCacheLockCreate(void);
void FileCacheLockDelete(void);

}  // extern "C"
