// Loading an image into a map: the check of an image against the map, the bounded walk over its
// data, and the clearing of what a map holds.
#include <cstdarg>
#include <cstring>

#include "records.h"

void tpl_read_value(void* out, const uint8_t* position, size_t size, bool swap) {
  if (!swap) {
    memcpy(out, position, size);
    return;
  }
  uint8_t* bytes = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < size; ++i) bytes[i] = position[size - 1 - i];
}

uint32_t tpl_read_u32(const uint8_t* position, bool swap) {
  uint32_t value;
  tpl_read_value(&value, position, 4, swap);
  return value;
}

// The header of an image made from this map is exactly as long as the map's own.
uint64_t tpl_data_start(tpl_map_node* root) { return root->packed_size; }

bool tpl_skip_node(tpl_map_node* root, tpl_map_node* node, const uint8_t** position) {
  const tpl_root_info* info = tpl_root(root);
  const uint8_t* end = info->image.start + info->image.size;
  bool swap = (info->flags & TPL_STATE_SWAP_BYTES) != 0;
  bool old_strings = (info->flags & TPL_STATE_OLD_STRINGS) != 0;
  // Every step is measured against what is left, so no length from the image can move the
  // position past the end (or wrap it).
  auto take = [&](uint64_t bytes) {
    if (static_cast<uint64_t>(end - *position) < bytes) return false;
    *position += bytes;
    return true;
  };
  switch (node->node_type) {
    case TPL_TYPE_STR:
      for (int32_t i = 0; i < node->count; ++i) {
        if (!take(4)) return false;
        uint64_t n = tpl_read_u32(*position - 4, swap);
        if (!take(old_strings ? n : (n >= 2 ? n - 1 : 0))) return false;
      }
      return true;
    case TPL_TYPE_BIN:
      return take(4) && take(tpl_read_u32(*position - 4, swap));
    case TPL_TYPE_ARY: {
      if (!take(4)) return false;
      uint32_t elements = tpl_read_u32(*position - 4, swap);
      // Each element takes at least one byte, so a false count ends at the image's end.
      for (uint32_t e = 0; e < elements; ++e) {
        bool inside = tpl_walk(node, [&](tpl_map_node* child, uint8_t*, uint8_t*) {
          return tpl_skip_node(root, child, position);
        });
        if (!inside) return false;
      }
      return true;
    }
    default: {
      uint64_t bytes = tpl_value_size(node->node_type) * static_cast<uint64_t>(node->count);
      if (bytes == 0) tpl_die("internal error in tpl_serlen\n");
      return take(bytes);
    }
  }
}

int tpl_serlen(tpl_map_node* root, tpl_map_node* node, const uint8_t* position, uint64_t* length) {
  const uint8_t* cursor = position;
  bool inside = node == root ? tpl_walk(root, [&](tpl_map_node* child, uint8_t*, uint8_t*) {
    return tpl_skip_node(root, child, &cursor);
  })
                             : tpl_skip_node(root, node, &cursor);
  if (!inside) return -1;
  *length = static_cast<uint64_t>(cursor - position);
  return 0;
}

int tpl_check_image(tpl_map_node* root, bool excess_ok) {
  tpl_root_info* info = tpl_root(root);
  const uint8_t* image = info->image.start;
  uint64_t size = info->image.size;
  if (size < 9) return -1;
  if (memcmp(image, "tpl", 3) != 0) return -2;
  uint8_t image_flags = image[3];
  if ((image_flags & TPL_IMAGE_BIG_ENDIAN) != 0) info->flags |= TPL_STATE_SWAP_BYTES;
  if ((image_flags & ~(TPL_IMAGE_BIG_ENDIAN | TPL_IMAGE_NULL_STRINGS)) != 0) return -11;
  if ((image_flags & TPL_IMAGE_NULL_STRINGS) == 0) info->flags |= TPL_STATE_OLD_STRINGS;
  bool swap = (info->flags & TPL_STATE_SWAP_BYTES) != 0;
  if (!excess_ok && tpl_read_u32(image + 4, swap) != size) return -3;
  uint64_t position = 8;
  uint64_t lengths = 0;
  for (;; ++position) {
    if (position >= size) return -5;
    char c = static_cast<char>(image[position]);
    if (c == '\0') break;
    if (strchr(tpl_format_chars, c) == nullptr) return -4;
    if (c == '#') ++lengths;
  }
  if (strcmp(reinterpret_cast<const char*>(image + 8), info->format) != 0) return -6;
  uint64_t data_start = position + 1 + 4 * lengths;
  if (data_start > size) return -10;
  for (uint64_t i = 0; i < lengths; ++i)
    if (tpl_read_u32(image + position + 1 + 4 * i, swap) != static_cast<uint32_t>(info->fixed_lengths[i]))
      return -7;
  uint64_t data_length;
  if (tpl_serlen(root, root, image + data_start, &data_length) != 0) return -8;
  uint64_t data_end = data_start + data_length;
  if (excess_ok ? data_end > size : data_end != size) return -9;
  return 0;
}

// Records where each array at the root begins and how many elements it has.
void unpackA0(tpl_map_node* root) {
  tpl_root_info* info = tpl_root(root);
  bool swap = (info->flags & TPL_STATE_SWAP_BYTES) != 0;
  const uint8_t* position = info->image.start + tpl_data_start(root);
  tpl_walk(root, [&](tpl_map_node* node, uint8_t*, uint8_t*) {
    if (node->node_type == TPL_TYPE_ARY) {
      tpl_array(node)->element_count = tpl_read_u32(position, swap);
      tpl_array(node)->unpack_position = position + 4;
    }
    if (!tpl_skip_node(root, node, &position)) tpl_die("internal error in unpackA0\n");
    return true;
  });
}

void tpl_attach_image(tpl_map_node* root, int32_t mode_bits) {
  tpl_root_info* info = tpl_root(root);
  int32_t image_state = info->flags & (TPL_STATE_SWAP_BYTES | TPL_STATE_OLD_STRINGS);
  info->flags = TPL_STATE_LOADED | mode_bits | image_state;
  unpackA0(root);
}

void tpl_release_image(tpl_map_node* root) {
  tpl_root_info* info = tpl_root(root);
  if ((info->flags & (TPL_MODE_FILE | TPL_MODE_FREE_BUFFER)) != 0)
    tpl_free_block(const_cast<uint8_t*>(info->image.start));
  info->image = tpl_mapped_image{};
}

void tpl_clear_data(tpl_map_node* root) {
  tpl_release_image(root);
  tpl_release_packed(root, true);
  tpl_root(root)->flags = 0;
}

int tpl_load(tpl_map_node* root, int mode, ...) {
  if ((mode & (TPL_MODE_FILE | TPL_MODE_MEMORY | TPL_MODE_DESCRIPTOR)) == 0) {
    tpl_hooks.report("unsupported tpl_load mode %d\n", mode);
    return -1;
  }
  if (root == nullptr || root->node_type != TPL_TYPE_ROOT) {
    tpl_hooks.report("error: tpl_load to non-root node\n");
    return -1;
  }
  tpl_root_info* info = tpl_root(root);
  if ((info->flags & (TPL_STATE_PACKED | TPL_STATE_LOADED)) != 0) tpl_clear_data(root);
  va_list args;
  va_start(args, mode);
  if ((mode & TPL_MODE_FILE) != 0) {
    const char* path = va_arg(args, const char*);
    va_end(args);
    return tpl_load_file(root, mode, path);
  }
  if ((mode & TPL_MODE_MEMORY) == 0) {
    int descriptor = va_arg(args, int);
    va_end(args);
    return tpl_load_descriptor(root, descriptor);
  }
  info->image.start = static_cast<const uint8_t*>(va_arg(args, const void*));
  info->image.size = va_arg(args, size_t);
  va_end(args);
  int code = tpl_check_image(root, (mode & TPL_MODE_EXCESS_OK) != 0);
  if (code != 0) {
    tpl_hooks.report(code == -6 ? "format signature mismatch\n" : "not a valid tpl file\n");
    info->image = tpl_mapped_image{};
    info->flags = 0;
    return -1;
  }
  tpl_attach_image(root, TPL_MODE_MEMORY | (mode & TPL_MODE_FREE_BUFFER));
  return 0;
}
