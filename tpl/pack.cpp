// Packing the mapped variables into the map, the image size and writing the image.
#include <cstdarg>
#include <cstring>

#include "records.h"

namespace {

// Where a pack goes besides the nodes' own buffers: while packing an element of `array`, the
// element's bytes at `cursor`.
struct tpl_pack_target {
  tpl_map_node* array;
  uint8_t* cursor;
};

void tpl_store_pointer(uint8_t* slot, const void* pointer) { memcpy(slot, &pointer, sizeof pointer); }

template <typename T>
T* tpl_load_pointer(const uint8_t* slot) {
  T* pointer;
  memcpy(&pointer, slot, sizeof pointer);
  return pointer;
}

void tpl_pack_strings(tpl_map_node* node, const uint8_t* variable, uint8_t* values, tpl_pack_target* target) {
  for (int32_t i = 0; i < node->count; ++i) {
    const char* text = tpl_load_pointer<const char>(variable + 8 * i);
    char* copy = text == nullptr ? nullptr : tpl_copy_string(text);
    tpl_free_block(tpl_load_pointer<char>(values + 8 * i));
    if (target->array == nullptr) {
      tpl_store_pointer(values + 8 * i, copy);
      continue;
    }
    tpl_store_pointer(values + 8 * i, nullptr);
    tpl_store_pointer(target->cursor, copy);
    target->cursor += 8;
    target->array->packed_size += 4 + (copy == nullptr ? 0 : strlen(copy));
  }
}

void tpl_pack_blob(tpl_map_node* node, const tpl_blob* source, tpl_pack_target* target) {
  tpl_blob* packed = static_cast<tpl_blob*>(tpl_alloc(sizeof(tpl_blob)));
  packed->length = source->length;
  packed->bytes = nullptr;
  if (source->length != 0 && tpl_blob_shared(node)) {
    packed->bytes = source->bytes;
  } else if (source->length != 0) {
    packed->bytes = tpl_alloc(source->length);
    memcpy(packed->bytes, source->bytes, source->length);
  }
  tpl_free_packed_blob(node, static_cast<tpl_blob*>(node->node_data));
  if (target->array == nullptr) {
    node->node_data = packed;
    return;
  }
  node->node_data = nullptr;
  tpl_store_pointer(target->cursor, packed);
  target->cursor += 16;
  target->array->packed_size += 4 + static_cast<uint64_t>(packed->length);
}

void tpl_pack_node(tpl_map_node* node, uint8_t* variable, uint8_t* values, tpl_pack_target* target) {
  switch (node->node_type) {
    case TPL_TYPE_STR:
      tpl_pack_strings(node, variable, values, target);
      return;
    case TPL_TYPE_BIN:
      tpl_pack_blob(node, reinterpret_cast<const tpl_blob*>(variable), target);
      return;
    case TPL_TYPE_ARY: {
      // An array at the root is packed through its own index; a nested one moves with all its
      // elements into the element being packed.
      if (target->array == nullptr) return;
      tpl_array_info* nested = tpl_array(node);
      tpl_store_pointer(target->cursor, nested);
      target->cursor += 8;
      target->array->packed_size += 4 + node->packed_size;
      node->packed_size = 0;
      node->node_data = tpl_new_array_info(nested->element_size);
      return;
    }
    default: {
      size_t bytes = tpl_value_size(node->node_type) * static_cast<size_t>(node->count);
      memcpy(values, variable, bytes);
      if (target->array == nullptr) return;
      memcpy(target->cursor, variable, bytes);
      target->cursor += bytes;
      target->array->packed_size += bytes;
    }
  }
}

uint8_t* tpl_write_u32(uint8_t* position, uint32_t value) {
  memcpy(position, &value, 4);
  return position + 4;
}

// A length word, 0 for a null string and strlen + 1 otherwise, then the characters.
uint8_t* tpl_write_string(uint8_t* position, const char* text) {
  if (text == nullptr) return tpl_write_u32(position, 0);
  size_t length = strlen(text);
  position = tpl_write_u32(position, static_cast<uint32_t>(length + 1));
  memcpy(position, text, length);
  return position + length;
}

// A blob never packed counts as an empty one.
uint8_t* tpl_write_blob(uint8_t* position, const tpl_blob* packed) {
  uint32_t length = packed == nullptr ? 0 : packed->length;
  position = tpl_write_u32(position, length);
  if (length != 0) memcpy(position, packed->bytes, length);
  return position + length;
}

// Bytes a child takes inside an array element.
size_t tpl_element_slot(const tpl_map_node* node) {
  switch (node->node_type) {
    case TPL_TYPE_BIN: return 16;
    case TPL_TYPE_ARY: return 8;
    default: return tpl_value_size(node->node_type) * static_cast<size_t>(node->count);
  }
}

// Calls visit(child, slot) for each child of an array, in image order, with the child's bytes
// in one element's data.
template <typename Visit>
void tpl_walk_element(tpl_map_node* array, uint8_t* data, Visit&& visit) {
  tpl_walk(array, [&](tpl_map_node* node, uint8_t*, uint8_t*) {
    visit(node, data);
    data += tpl_element_slot(node);
    return true;
  });
}

// Writes one node's data: values and string pointers from `values`; a blob from its packed
// tpl_blob and an array from its tpl_array_info, given as `record`.
uint8_t* tpl_write_node(tpl_map_node* node, const uint8_t* values, const void* record, uint8_t* position) {
  switch (node->node_type) {
    case TPL_TYPE_STR:
      for (int32_t i = 0; i < node->count; ++i)
        position = tpl_write_string(position, tpl_load_pointer<const char>(values + 8 * i));
      return position;
    case TPL_TYPE_BIN: return tpl_write_blob(position, static_cast<const tpl_blob*>(record));
    case TPL_TYPE_ARY: return tpl_dump_array(node, static_cast<const tpl_array_info*>(record), position);
    default: {
      size_t bytes = tpl_value_size(node->node_type) * static_cast<size_t>(node->count);
      if (bytes == 0) tpl_die("unsupported format character\n");
      memcpy(position, values, bytes);
      return position + bytes;
    }
  }
}

}  // namespace

// The element count, then each element's children from the pointers and values in its bytes.
uint8_t* tpl_dump_array(tpl_map_node* node, const tpl_array_info* info, uint8_t* position) {
  position = tpl_write_u32(position, info->element_count);
  for (tpl_array_element* element = info->first_element; element != nullptr; element = element->next) {
    tpl_walk_element(node, element->element_data, [&](tpl_map_node* child, uint8_t* slot) {
      bool pointer = child->node_type == TPL_TYPE_BIN || child->node_type == TPL_TYPE_ARY;
      position = tpl_write_node(child, slot, pointer ? tpl_load_pointer<const void>(slot) : nullptr, position);
    });
  }
  return position;
}

// One block for the head and the data; the data zero-filled.
uint8_t* tpl_add_array_element(tpl_map_node* node) {
  tpl_array_info* info = tpl_array(node);
  tpl_array_element* element =
      static_cast<tpl_array_element*>(tpl_alloc_zero(sizeof(tpl_array_element) + info->element_size));
  element->element_data = reinterpret_cast<uint8_t*>(element + 1);
  if (info->last_element == nullptr)
    info->first_element = element;
  else
    info->last_element->next = element;
  info->last_element = element;
  ++info->element_count;
  return element->element_data;
}

uint64_t tpl_ser_osz(tpl_map_node* root) {
  if (root == nullptr || root->node_type != TPL_TYPE_ROOT)
    tpl_die("internal error: tpl_ser_osz on non-root node\n");
  uint64_t size = root->packed_size;
  tpl_walk(root, [&](tpl_map_node* node, uint8_t*, uint8_t* values) {
    switch (node->node_type) {
      case TPL_TYPE_STR:
        for (int32_t i = 0; i < node->count; ++i) {
          const char* text = tpl_load_pointer<const char>(values + 8 * i);
          size += 4 + (text == nullptr ? 0 : strlen(text));
        }
        break;
      case TPL_TYPE_BIN: {
        const tpl_blob* packed = static_cast<const tpl_blob*>(node->node_data);
        size += 4 + (packed == nullptr ? 0 : static_cast<uint64_t>(packed->length));
        break;
      }
      case TPL_TYPE_ARY: size += 4 + node->packed_size; break;
      default: size += tpl_value_size(node->node_type) * static_cast<uint64_t>(node->count);
    }
    return true;
  });
  return size;
}

int tpl_dump_to_buffer(tpl_map_node* root, uint8_t* buffer, uint64_t size) {
  const tpl_root_info* info = tpl_root(root);
  memcpy(buffer, "tpl", 3);
  buffer[3] = strchr(info->format, 's') != nullptr ? TPL_IMAGE_NULL_STRINGS : 0;
  uint8_t* position = tpl_write_u32(buffer + 4, static_cast<uint32_t>(size));
  size_t format_size = strlen(info->format) + 1;
  memcpy(position, info->format, format_size);
  position += format_size;
  for (int32_t i = 0; i < info->fixed_length_count; ++i)
    position = tpl_write_u32(position, static_cast<uint32_t>(info->fixed_lengths[i]));
  tpl_walk(root, [&](tpl_map_node* node, uint8_t*, uint8_t* values) {
    position = tpl_write_node(node, values, node->node_data, position);
    return true;
  });
  return 0;
}

void tpl_free_array(tpl_map_node* node, tpl_array_info* info) {
  if (info == nullptr) return;
  for (tpl_array_element* element = info->first_element; element != nullptr;) {
    tpl_walk_element(node, element->element_data, [&](tpl_map_node* child, uint8_t* slot) {
      if (child->node_type == TPL_TYPE_STR) {
        for (int32_t i = 0; i < child->count; ++i) tpl_free_block(tpl_load_pointer<char>(slot + 8 * i));
      } else if (child->node_type == TPL_TYPE_BIN) {
        tpl_blob* packed = tpl_load_pointer<tpl_blob>(slot);
        tpl_free_block(packed->bytes);
        tpl_free_block(packed);
      } else if (child->node_type == TPL_TYPE_ARY) {
        tpl_free_array(child, tpl_load_pointer<tpl_array_info>(slot));
      }
    });
    tpl_array_element* next = element->next;
    tpl_free_block(element);
    element = next;
  }
  tpl_free_block(info);
}

int tpl_pack(tpl_map_node* root, int index) {
  bool is_root = root != nullptr && root->node_type == TPL_TYPE_ROOT;
  tpl_map_node* node = index == 0 && is_root ? root : tpl_find_array(root, index);
  if (node == nullptr) {
    tpl_hooks.report("invalid index %d to tpl_pack\n", index);
    return -1;
  }
  tpl_root_info* info = tpl_root(root);
  if ((info->flags & TPL_STATE_LOADED) != 0) tpl_clear_data(root);
  info->flags |= TPL_STATE_PACKED;
  tpl_pack_target target = {nullptr, nullptr};
  if (node != root) {
    target.array = node;
    target.cursor = tpl_add_array_element(node);
  }
  tpl_walk(node, [&](tpl_map_node* child, uint8_t* variable, uint8_t* values) {
    tpl_pack_node(child, variable, values, &target);
    return true;
  });
  return 0;
}

int tpl_dump(tpl_map_node* root, int mode, ...) {
  uint64_t size = tpl_ser_osz(root);
  if ((tpl_root(root)->flags & TPL_STATE_LOADED) != 0) {
    tpl_hooks.report("error: tpl_dump called for a loaded tpl\n");
    return -1;
  }
  va_list args;
  va_start(args, mode);
  int result = -1;
  if ((mode & TPL_MODE_FILE) != 0) {
    result = tpl_dump_to_file(root, size, va_arg(args, const char*));
  } else if ((mode & TPL_MODE_DESCRIPTOR) != 0) {
    result = tpl_dump_to_descriptor(root, size, va_arg(args, int));
  } else if ((mode & TPL_MODE_MEMORY) != 0 && (mode & TPL_MODE_PREALLOCATED) != 0) {
    uint8_t* buffer = static_cast<uint8_t*>(va_arg(args, void*));
    size_t capacity = va_arg(args, size_t);
    if (capacity < size) {
      tpl_hooks.report("tpl_dump: buffer too small, need %d bytes\n", static_cast<int>(size));
    } else {
      result = tpl_dump_to_buffer(root, buffer, size);
    }
  } else if ((mode & TPL_MODE_MEMORY) != 0) {
    void** out_buffer = va_arg(args, void**);
    size_t* out_size = va_arg(args, size_t*);
    uint8_t* buffer = static_cast<uint8_t*>(tpl_alloc(size));
    result = tpl_dump_to_buffer(root, buffer, size);
    *out_buffer = buffer;
    *out_size = size;
  } else if ((mode & TPL_MODE_SIZE_ONLY) != 0) {
    *va_arg(args, uint64_t*) = size;
    result = 0;
  } else {
    tpl_hooks.report("unsupported tpl_dump mode %d\n", mode);
  }
  va_end(args);
  return result;
}
