// Images in files: the dump through a shared writable view of a new file, and the load of a
// copy of the file that stays with the map until it is cleared or released.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform.h"
#include "records.h"

namespace {

const char* tpl_error_text() { return strerror(errno); }
const char* tpl_file_name(const char* path) { return path != nullptr ? path : "(null)"; }

// Closes a descriptor without disturbing the errno of the failure being reported.
void tpl_close_keeping_errno(int descriptor) {
  int error = errno;
  PlatformFileClose(descriptor);
  errno = error;
}

// Creates (or truncates) the file and maps size bytes of it writable and shared, the file
// extended to them: 0, or -1 after its message with nothing left open or mapped.
int tpl_open_output_mapping(const char* path, uint64_t size, int* descriptor_out, void** view_out) {
  int descriptor = PlatformFileOpen(path, PLATFORM_OPEN_REWRITE);
  if (descriptor < 0) {
    tpl_hooks.report("Couldn't open file %s: %s\n", tpl_file_name(path), tpl_error_text());
    return -1;
  }
  void* view = PlatformFileMap(size, PLATFORM_MAP_READ | PLATFORM_MAP_WRITE, PLATFORM_MAP_SHARED, descriptor);
  if (view == PLATFORM_MAP_FAILED) {
    tpl_close_keeping_errno(descriptor);
    tpl_hooks.report("Failed to mmap %s: %s\n", tpl_file_name(path), tpl_error_text());
    return -1;
  }
  if (PlatformFileExtend(descriptor, size) != 0) {
    int error = errno;
    PlatformFileUnmap(view, size);
    PlatformFileClose(descriptor);
    tpl_hooks.report("ftruncate failed: %s\n", strerror(error));
    return -1;
  }
  *descriptor_out = descriptor;
  *view_out = view;
  return 0;
}

}  // namespace

int tpl_dump_to_file(tpl_map_node* root, uint64_t size, const char* path) {
  int descriptor = -1;
  void* view = nullptr;
  if (tpl_open_output_mapping(path, size, &descriptor, &view) != 0) return -1;
  int result = tpl_dump_to_buffer(root, static_cast<uint8_t*>(view), size);
  // A flush that failed leaves the file without the image, so the dump fails with it. The view
  // is written back by then, so a failed unmap only reports.
  if (PlatformFileSync(view, size) != 0) {
    tpl_hooks.report("msync failed on fd %d: %s\n", descriptor, tpl_error_text());
    result = -1;
  }
  if (PlatformFileUnmap(view, size) != 0)
    tpl_hooks.report("munmap failed on fd %d: %s\n", descriptor, tpl_error_text());
  PlatformFileClose(descriptor);
  return result;
}

namespace {

// Reads a whole file into a block of the allocation hook and closes it at once, so that the image
// belongs to the map and no later change of the file (cut short, rewritten, removed) can reach it:
// 0, or -1 after its message. A file that shrinks while it is read gives the bytes that came,
// which the check then refuses unless they hold a whole image. The failures of this step keep
// the messages and error codes of mapping the file: nothing to read (an empty file, a pipe)
// EINVAL, something that is not a file (a folder) ENODEV, no memory for it ENOMEM, and a failed
// read its own error.
int tpl_read_file_image(const char* path, tpl_mapped_image* image) {
  int descriptor = PlatformFileOpen(path, PLATFORM_OPEN_READ);
  if (descriptor < 0) {
    tpl_hooks.report("Couldn't open file %s: %s\n", tpl_file_name(path), tpl_error_text());
    return -1;
  }
  uint64_t size = 0;
  int regular = 0;
  if (PlatformFileStatus(descriptor, &size, &regular) != 0) {
    tpl_close_keeping_errno(descriptor);
    tpl_hooks.report("Couldn't stat file %s: %s\n", tpl_file_name(path), tpl_error_text());
    return -1;
  }
  int error = size == 0 ? EINVAL : regular == 0 ? ENODEV : size > static_cast<uint64_t>(PTRDIFF_MAX) ? ENOMEM : 0;
  uint8_t* buffer = nullptr;
  long count = 0;
  if (error == 0) {
    buffer = static_cast<uint8_t*>(tpl_hooks.malloc(size));
    if (buffer == nullptr) error = ENOMEM;
  }
  if (error == 0) {
    count = PlatformFileReadFully(descriptor, buffer, size);
    if (count < 0) error = errno;
  }
  PlatformFileClose(descriptor);
  if (error != 0) {
    tpl_free_block(buffer);
    tpl_hooks.report("Failed to mmap %s: %s\n", tpl_file_name(path), strerror(error));
    return -1;
  }
  *image = tpl_mapped_image{buffer, static_cast<uint64_t>(count)};
  return 0;
}

}  // namespace

int tpl_load_file(tpl_map_node* root, int mode, const char* path) {
  tpl_root_info* info = tpl_root(root);
  if (tpl_read_file_image(path, &info->image) != 0) {
    tpl_hooks.report("tpl_load failed for file %s\n", tpl_file_name(path));
    return -1;
  }
  int code = tpl_check_image(root, (mode & TPL_MODE_EXCESS_OK) != 0);
  if (code != 0) {
    const char* message = code == -6 ? "%s: format signature mismatch\n"
                          : code == -7 ? "%s: array lengths mismatch\n"
                                       : "%s: not a valid tpl file\n";
    tpl_hooks.report(message, tpl_file_name(path));
    tpl_free_block(const_cast<uint8_t*>(info->image.start));
    info->image = tpl_mapped_image{};
    info->flags = 0;
    return -1;
  }
  tpl_attach_image(root, TPL_MODE_FILE);
  return 0;
}
