// The process-wide hooks with their defaults, and the allocation helpers on top of them.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "records.h"

int tpl_default_report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  return 0;
}

void tpl_default_fatal(const char* format, ...) {
  char text[100];  // at most the first 99 characters
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  tpl_hooks.report("%s", text);
  exit(-1);
}

tpl_hook_table tpl_hooks = {tpl_default_report, malloc, realloc, free, tpl_default_fatal, 0};

void* tpl_alloc(size_t size) {
  void* block = tpl_hooks.malloc(size);
  if (block == nullptr) tpl_die("out of memory\n");
  return block;
}

void* tpl_alloc_zero(size_t size) {
  void* block = tpl_alloc(size);
  memset(block, 0, size);
  return block;
}

void* tpl_realloc(void* block, size_t size) {
  void* grown = tpl_hooks.realloc(block, size);
  if (grown == nullptr) tpl_die("out of memory\n");
  return grown;
}

char* tpl_copy_string(const char* text) {
  size_t size = strlen(text) + 1;
  char* copy = static_cast<char*>(tpl_alloc(size));
  memcpy(copy, text, size);
  return copy;
}

void tpl_free_block(void* block) {
  if (block != nullptr) tpl_hooks.free(block);
}
