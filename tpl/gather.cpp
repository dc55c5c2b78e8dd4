// Gathering whole images: one at a time from a blocking descriptor, and as they complete from a
// non-blocking descriptor or from pieces of memory, keeping an incomplete tail between calls.
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "platform.h"
#include "records.h"

namespace {

constexpr size_t TPL_PREFIX = 8;  // "tpl", the flag byte and the total length
constexpr size_t TPL_GATHER_CHUNK = 8192;
constexpr size_t TPL_GATHER_FIRST_BLOCK = 65536;

// The total length stated by an image's prefix, in the byte order its flag byte gives.
uint32_t tpl_stated_length(const uint8_t* prefix) {
  return tpl_read_u32(prefix + 4, (prefix[3] & TPL_IMAGE_BIG_ENDIAN) != 0);
}

bool tpl_over_limit(uint64_t length) {
  if (tpl_hooks.gather_limit == 0 || length <= tpl_hooks.gather_limit) return false;
  tpl_hooks.report("tpl exceeds max length %d\n", static_cast<int>(tpl_hooks.gather_limit));
  return true;
}

int tpl_gather_fd_blocking(int descriptor, void** image, size_t* length) {
  uint8_t prefix[TPL_PREFIX];
  long count = PlatformFileReadFully(descriptor, prefix, sizeof prefix);
  if (count < 0) {
    tpl_hooks.report("tpl_gather_fd_blocking failed: %s\n", strerror(errno));
    return -1;
  }
  if (count < static_cast<long>(sizeof prefix)) return 0;
  if (memcmp(prefix, "tpl", 3) != 0) {
    tpl_hooks.report("tpl_gather_fd_blocking: non-tpl input\n");
    return -1;
  }
  uint32_t total = tpl_stated_length(prefix);
  if (tpl_over_limit(total)) return -2;
  // A length that cannot even hold the prefix would make the copy below overrun the buffer.
  if (total < TPL_PREFIX) {
    tpl_hooks.report("internal error\n");
    return -1;
  }
  // The buffer grows with the bytes that arrive, so that a stated length far beyond what the
  // stream holds costs no more memory than the stream's own bytes.
  size_t capacity = total < TPL_GATHER_FIRST_BLOCK ? total : TPL_GATHER_FIRST_BLOCK;
  uint8_t* buffer = static_cast<uint8_t*>(tpl_alloc(capacity));
  memcpy(buffer, prefix, sizeof prefix);
  for (size_t filled = TPL_PREFIX; filled < total; filled = capacity) {
    if (filled == capacity) {
      capacity = total - capacity < capacity ? total : 2 * capacity;
      buffer = static_cast<uint8_t*>(tpl_realloc(buffer, capacity));
    }
    count = PlatformFileReadFully(descriptor, buffer + filled, capacity - filled);
    if (count != static_cast<long>(capacity - filled)) {
      // An error, or the end of the stream before the end of the image.
      if (count < 0) tpl_hooks.report("tpl_gather_fd_blocking failed: %s\n", strerror(errno));
      tpl_free_block(buffer);
      return count < 0 ? -1 : 0;
    }
  }
  *image = buffer;
  *length = total;
  return 1;
}

void tpl_free_partial(tpl_partial_image** partial) {
  if (*partial == nullptr) return;
  tpl_free_block((*partial)->buffer);
  tpl_free_block(*partial);
  *partial = nullptr;
}

// Adds `length` new bytes after the partial image, hands every image they complete to the
// callback and keeps what follows the last complete one as the new partial image. 1, or -2, -3,
// -4 with the partial image freed; a callback that stops the gather is reported with
// `abort_message`, which names the gather it ran under.
int tpl_gather_images(const uint8_t* bytes, size_t length, tpl_partial_image** partial,
                      tpl_gather_callback callback, void* data, const char* abort_message) {
  const uint8_t* scan = bytes;
  size_t available = length;
  if (*partial != nullptr) {
    size_t combined = (*partial)->length + length;
    if (tpl_over_limit(combined)) {
      tpl_free_partial(partial);
      return -2;
    }
    (*partial)->buffer = static_cast<char*>(tpl_realloc((*partial)->buffer, combined));
    if (length != 0) memcpy((*partial)->buffer + (*partial)->length, bytes, length);
    (*partial)->length = combined;
    scan = reinterpret_cast<const uint8_t*>((*partial)->buffer);
    available = combined;
  }
  size_t position = 0;
  while (available - position > TPL_PREFIX) {
    const uint8_t* image = scan + position;
    uint32_t total = tpl_stated_length(image);
    // An image shorter than its prefix would not move the scan on (length 0: for ever).
    if (memcmp(image, "tpl", 3) != 0 || total < TPL_PREFIX) {
      tpl_hooks.report("tpl prefix invalid\n");
      tpl_free_partial(partial);
      return -3;
    }
    // The limit holds for every image, however its bytes arrived.
    if (tpl_over_limit(total)) {
      tpl_free_partial(partial);
      return -2;
    }
    if (total > available - position) break;
    if (callback(image, total, data) < 0) {
      tpl_hooks.report(abort_message);
      tpl_free_partial(partial);
      return -4;
    }
    position += total;
  }
  if (*partial != nullptr && position == 0) return 1;  // nothing consumed: the buffer stays
  tpl_partial_image* rest = nullptr;
  if (position < available) {
    rest = static_cast<tpl_partial_image*>(tpl_alloc(sizeof(tpl_partial_image)));
    rest->length = available - position;
    rest->buffer = static_cast<char*>(tpl_alloc(rest->length));
    memcpy(rest->buffer, scan + position, rest->length);
  }
  tpl_free_partial(partial);
  *partial = rest;
  return 1;
}

int tpl_fd_gather(int descriptor, tpl_partial_image** partial, tpl_gather_callback callback, void* data) {
  uint8_t chunk[TPL_GATHER_CHUNK];
  for (;;) {
    long count = PlatformFileRead(descriptor, chunk, sizeof chunk);
    if (count < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return 1;
      tpl_hooks.report("tpl_gather failed: %s\n", strerror(errno));
      tpl_free_partial(partial);
      return -1;
    }
    if (count == 0) {
      if (*partial != nullptr) {
        tpl_hooks.report("tpl_gather: partial tpl image precedes EOF\n");
        tpl_free_partial(partial);
      }
      return 0;
    }
    int result = tpl_gather_images(chunk, static_cast<size_t>(count), partial, callback, data,
                                   "tpl_fd_gather aborted by app callback\n");
    if (result < 0) return result;
  }
}

// The gather from pieces of memory: each call adds one piece.
int tpl_mem_gather(const void* address, size_t length, tpl_partial_image** partial, tpl_gather_callback callback,
                   void* data) {
  return tpl_gather_images(static_cast<const uint8_t*>(address), length, partial, callback, data,
                           "tpl_mem_gather aborted by app callback\n");
}

}  // namespace

int tpl_gather(int mode, ...) {
  va_list args;
  va_start(args, mode);
  int result;
  if (mode == TPL_GATHER_BLOCKING) {
    int descriptor = va_arg(args, int);
    void** image = va_arg(args, void**);
    size_t* length = va_arg(args, size_t*);
    result = tpl_gather_fd_blocking(descriptor, image, length);
  } else if (mode == TPL_GATHER_NONBLOCKING) {
    int descriptor = va_arg(args, int);
    tpl_partial_image** partial = va_arg(args, tpl_partial_image**);
    tpl_gather_callback callback = va_arg(args, tpl_gather_callback);
    void* data = va_arg(args, void*);
    result = tpl_fd_gather(descriptor, partial, callback, data);
  } else if (mode == TPL_GATHER_MEM) {
    const void* address = va_arg(args, const void*);
    size_t length = va_arg(args, size_t);
    tpl_partial_image** partial = va_arg(args, tpl_partial_image**);
    tpl_gather_callback callback = va_arg(args, tpl_gather_callback);
    void* data = va_arg(args, void*);
    result = tpl_mem_gather(address, length, partial, callback, data);
  } else {
    va_end(args);
    tpl_die("unsupported tpl_gather mode %d\n", mode);
  }
  va_end(args);
  return result;
}
