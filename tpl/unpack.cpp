// Unpacking a loaded image into the mapped variables.
#include <cstring>

#include "records.h"

namespace {

void tpl_unpack_node(tpl_map_node* root, tpl_map_node* node, uint8_t* variable, const uint8_t** position) {
  int32_t flags = tpl_root(root)->flags;
  bool swap = (flags & TPL_STATE_SWAP_BYTES) != 0;
  switch (node->node_type) {
    case TPL_TYPE_STR:
      for (int32_t i = 0; i < node->count; ++i) {
        uint64_t n = tpl_read_u32(*position, swap);
        *position += 4;
        if ((flags & TPL_STATE_OLD_STRINGS) != 0) ++n;  // old images store strlen, no null strings
        char* text = nullptr;
        if (n != 0) {
          text = static_cast<char*>(tpl_alloc(n));
          memcpy(text, *position, n - 1);
          text[n - 1] = '\0';
          *position += n - 1;
        }
        memcpy(variable + 8 * i, &text, sizeof text);
      }
      return;
    case TPL_TYPE_BIN: {
      uint32_t length = tpl_read_u32(*position, swap);
      *position += 4;
      void* bytes = nullptr;
      if (length != 0 && tpl_blob_shared(node) && (flags & (TPL_MODE_FREE_BUFFER | TPL_MODE_FILE)) == 0) {
        // The image is the caller's and outlives the unpack: lend its bytes. A file's image
        // goes with the map.
        bytes = const_cast<uint8_t*>(*position);
        *position += length;
      } else if (length != 0) {
        bytes = tpl_alloc(length);
        memcpy(bytes, *position, length);
        *position += length;
      }
      tpl_blob* blob = reinterpret_cast<tpl_blob*>(variable);
      blob->bytes = bytes;
      blob->length = length;
      return;
    }
    case TPL_TYPE_ARY: {
      tpl_array_info* info = tpl_array(node);
      info->element_count = tpl_read_u32(*position, swap);
      info->unpack_position = *position + 4;
      if (!tpl_skip_node(root, node, position)) tpl_die("internal error in unpack\n");
      return;
    }
    default: {
      size_t size = tpl_value_size(node->node_type);
      if (size == 0) tpl_die("unsupported format character\n");
      for (int32_t i = 0; i < node->count; ++i, *position += size)
        tpl_read_value(variable + size * i, *position, size, swap);
    }
  }
}

}  // namespace

int tpl_unpack(tpl_map_node* root, int index) {
  if (root == nullptr || root->node_type != TPL_TYPE_ROOT) {
    tpl_hooks.report("invalid index %d to tpl_unpack\n", index);
    return -1;
  }
  tpl_root_info* info = tpl_root(root);
  if ((info->flags & TPL_STATE_PACKED) != 0) {
    void* buffer;
    size_t size;
    tpl_dump(root, TPL_MODE_MEMORY, &buffer, &size);
    if (tpl_load(root, TPL_MODE_MEMORY | TPL_MODE_FREE_BUFFER, buffer, size) != 0) {
      tpl_free_block(buffer);
      return -1;
    }
  }
  tpl_map_node* node = index == 0 ? root : tpl_find_array(root, index);
  if (node == nullptr) {
    tpl_hooks.report("invalid index %d to tpl_unpack\n", index);
    return -1;
  }
  const uint8_t* position;
  int result = 1;
  if (node == root) {
    // Nothing was loaded: there is no image to read from.
    if ((info->flags & TPL_STATE_LOADED) == 0) {
      tpl_hooks.report("tpl_unpack called for a tpl without data\n");
      return -1;
    }
    position = info->image.start + tpl_data_start(root);
  } else {
    tpl_array_info* array = tpl_array(node);
    if (array->element_count == 0) return 0;
    result = static_cast<int>(array->element_count--);
    position = array->unpack_position;
    if (position == nullptr) tpl_die("must unpack parent of node before node itself\n");
  }
  tpl_walk(node, [&](tpl_map_node* child, uint8_t* variable, uint8_t*) {
    tpl_unpack_node(root, child, variable, &position);
    return true;
  });
  if (node != root) tpl_array(node)->unpack_position = position;
  return result;
}
