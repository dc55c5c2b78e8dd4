// Images through descriptors: the dump as repeated writes, and the load of one whole image read
// by the blocking gather.
#include <cerrno>
#include <cstring>

#include "platform.h"
#include "records.h"

int tpl_dump_to_descriptor(tpl_map_node* root, uint64_t size, int descriptor) {
  uint8_t* buffer = static_cast<uint8_t*>(tpl_alloc(size));
  tpl_dump_to_buffer(root, buffer, size);
  uint64_t written = 0;
  while (written < size) {
    long count = PlatformFileWrite(descriptor, buffer + written, size - written);
    if (count > 0) {
      written += static_cast<uint64_t>(count);
      continue;
    }
    if (count == 0 || errno == EINTR) continue;
    // A non-blocking descriptor that is full is waited for, not tried again at once; a wait that
    // fails is the write's failure.
    if (errno == EAGAIN && PlatformFileWait(descriptor, PLATFORM_WAIT_WRITE) == 0) continue;
    tpl_hooks.report("error writing to fd %d: %s\n", descriptor, strerror(errno));
    tpl_free_block(buffer);
    // A file keeps no half image: it goes back to the length it had before.
    uint64_t length = 0;
    int regular = 0;
    if (PlatformFileStatus(descriptor, &length, &regular) == 0 && regular != 0 &&
        PlatformFileTruncate(descriptor, length > written ? length - written : 0) != 0)
      tpl_hooks.report("can't rewind: %s\n", strerror(errno));
    return -1;
  }
  tpl_free_block(buffer);
  return 0;
}

int tpl_load_descriptor(tpl_map_node* root, int descriptor) {
  void* image = nullptr;
  size_t size = 0;
  if (tpl_gather(TPL_GATHER_BLOCKING, descriptor, &image, &size) <= 0) return -1;
  if (tpl_load(root, TPL_MODE_MEMORY | TPL_MODE_FREE_BUFFER, image, size) != 0) {
    tpl_free_block(image);
    return -1;
  }
  return 0;
}
