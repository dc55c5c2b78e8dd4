// Maps: the parse of a format string and the variables' addresses into a node tree, the layout
// of structure fields, and the release of a map.
#include <cstdarg>
#include <cstring>

#include "records.h"

const char tpl_format_chars[] = "AS($)BiucsfIUjv#";

size_t tpl_value_size(int32_t type) {
  switch (type) {
    case TPL_TYPE_BYTE: return 1;
    case TPL_TYPE_INT16:
    case TPL_TYPE_UINT16: return 2;
    case TPL_TYPE_INT32:
    case TPL_TYPE_UINT32: return 4;
    case TPL_TYPE_STR:
    case TPL_TYPE_DOUBLE:
    case TPL_TYPE_INT64:
    case TPL_TYPE_UINT64: return 8;
    default: return 0;
  }
}

namespace {

struct tpl_parse_state {
  tpl_map_node* root;
  tpl_map_node* parent;  // where new nodes go: the root or an A
  int level;             // open parentheses
  bool expect_open;      // the next character must be '('
  bool struct_closed;    // the previous character closed an S(...)
  // The structure being parsed.
  bool in_struct;
  int dollar_depth;
  uint8_t* base;
  int ordinal;  // of the next field, from 1
  tpl_map_node* struct_first;
  tpl_map_node* widest;
  uint64_t stride;
};

tpl_map_node* tpl_last_child(tpl_map_node* parent) {
  return parent->children == nullptr ? nullptr : parent->children->prev;
}

void tpl_append_child(tpl_map_node* parent, tpl_map_node* node) {
  if (parent->children == nullptr) {
    parent->children = node;
  } else {
    tpl_map_node* last = parent->children->prev;
    last->next = node;
    node->prev = last;
  }
  parent->children->prev = node;
}

}  // namespace

tpl_map_node* tpl_new_node(tpl_map_node* parent) {
  tpl_map_node* node = static_cast<tpl_map_node*>(tpl_alloc_zero(sizeof(tpl_map_node)));
  node->count = 1;
  node->parent = parent;
  return node;
}

// A field lies at the first multiple of its alignment (its own size; 8 for f, I, U and s) at or
// after the end of the structure's previous field; the first field at the base.
uint8_t* tpl_field_address(tpl_map_node* parent, int32_t type, uint8_t* base, int ordinal) {
  if (ordinal == 1) return base;
  const tpl_map_node* last = tpl_last_child(parent);
  uint64_t end = reinterpret_cast<uintptr_t>(last->variable) - reinterpret_cast<uintptr_t>(base) +
                 tpl_value_size(last->node_type) * static_cast<uint64_t>(last->count);
  uint64_t align = tpl_value_size(type);
  return base + (end + align - 1) / align * align;
}

namespace {

void tpl_grow_element(tpl_map_node* parent, uint64_t bytes) {
  if (parent->node_type == TPL_TYPE_ARY) tpl_array(parent)->element_size += bytes;
}

void tpl_parse_value(tpl_parse_state* state, int32_t type, va_list* args) {
  tpl_map_node* node = tpl_new_node(state->parent);
  node->node_type = type;
  size_t size = tpl_value_size(type);
  if (state->in_struct) {
    node->variable = tpl_field_address(state->parent, type, state->base, state->ordinal);
    if (state->ordinal++ == 1) state->struct_first = node;
    if (state->widest == nullptr || size > tpl_value_size(state->widest->node_type)) state->widest = node;
  } else {
    node->variable = va_arg(*args, void*);
  }
  node->node_data = tpl_alloc_zero(size);
  tpl_grow_element(state->parent, size);
  tpl_append_child(state->parent, node);
}

void tpl_add_fixed_length(tpl_map_node* root, int32_t length) {
  tpl_root_info* info = tpl_root(root);
  info->fixed_lengths = static_cast<int32_t*>(tpl_realloc(
      info->fixed_lengths, sizeof(int32_t) * static_cast<size_t>(info->fixed_length_count + 1)));
  info->fixed_lengths[info->fixed_length_count++] = length;
  root->packed_size += 4;
}

// Gives the node room for `repeat` times its values, all zero; false when that many values
// cannot be counted in an int.
bool tpl_repeat_values(tpl_map_node* node, int64_t repeat) {
  int64_t values = repeat * node->count;
  if (values > INT32_MAX) return false;
  size_t size = tpl_value_size(node->node_type);
  tpl_free_block(node->node_data);
  node->node_data = tpl_alloc_zero(size * static_cast<size_t>(values));
  tpl_grow_element(node->parent, size * static_cast<uint64_t>(values - node->count));
  return true;
}

// One run of '#': a fixed length per '#', their product repeating the structure just closed or
// the value before it. *cursor is left on the run's last '#'.
bool tpl_parse_lengths(tpl_parse_state* state, const char** cursor, bool after_struct, va_list* args) {
  tpl_map_node* last = tpl_last_child(state->parent);
  // A fixed length follows a value or a structure; not an array, a blob or a repetition.
  if (last == nullptr || (!after_struct && tpl_value_size(last->node_type) == 0)) return false;
  int run = 0;
  while ((*cursor)[run] == '#') ++run;
  *cursor += run - 1;
  int64_t repeat = 1;
  for (int n = 0; n < run; ++n) {
    if (n == TPL_MAX_CONTIGUOUS_LENGTHS) tpl_die("contiguous # exceeds hardcoded limit\n");
    int length = va_arg(*args, int);
    if (length < 1) tpl_die("non-positive iteration count %d\n", length);
    tpl_add_fixed_length(state->root, length);
    repeat *= length;
    if (repeat > INT32_MAX) return false;
  }
  if (after_struct) {
    for (tpl_map_node* field = state->struct_first; field != nullptr; field = field->next)
      if (!tpl_repeat_values(field, repeat)) return false;
    tpl_map_node* node = tpl_new_node(state->parent);
    node->node_type = TPL_TYPE_POUND;
    node->count = static_cast<int32_t>(repeat);
    tpl_repeat_info* info = static_cast<tpl_repeat_info*>(tpl_alloc(sizeof(tpl_repeat_info)));
    info->stride = state->stride;
    info->first_node = state->struct_first;
    node->node_data = info;
    tpl_append_child(state->parent, node);
    return true;
  }
  if (!tpl_repeat_values(last, repeat)) return false;
  last->count = static_cast<int32_t>(repeat);
  return true;
}

bool tpl_parse_close(tpl_parse_state* state, const char* cursor, const char* format) {
  if (--state->level < 0 || (cursor > format && cursor[-1] == '(')) return false;
  if (state->in_struct && state->dollar_depth > 0) {
    --state->dollar_depth;
  } else if (state->in_struct) {
    // The stride includes the padding up to the widest field's alignment.
    uint8_t* after = tpl_field_address(state->parent, state->widest->node_type, state->base, state->ordinal);
    state->stride = static_cast<uint64_t>(after - state->base);
    state->in_struct = false;
    state->struct_closed = true;
  } else {
    state->parent = state->parent->parent;  // closes an A
  }
  return true;
}

bool tpl_parse_map(tpl_parse_state* state, const char* format, va_list* args) {
  for (const char* cursor = format; *cursor != '\0'; ++cursor) {
    bool after_struct = state->struct_closed;
    state->struct_closed = false;
    char c = *cursor;
    if (state->expect_open && c != '(') return false;
    switch (c) {
      case 'i': tpl_parse_value(state, TPL_TYPE_INT32, args); break;
      case 'u': tpl_parse_value(state, TPL_TYPE_UINT32, args); break;
      case 'c': tpl_parse_value(state, TPL_TYPE_BYTE, args); break;
      case 's': tpl_parse_value(state, TPL_TYPE_STR, args); break;
      case 'f': tpl_parse_value(state, TPL_TYPE_DOUBLE, args); break;
      case 'I': tpl_parse_value(state, TPL_TYPE_INT64, args); break;
      case 'U': tpl_parse_value(state, TPL_TYPE_UINT64, args); break;
      case 'j': tpl_parse_value(state, TPL_TYPE_INT16, args); break;
      case 'v': tpl_parse_value(state, TPL_TYPE_UINT16, args); break;
      case 'B': {
        if (state->in_struct) return false;
        tpl_map_node* node = tpl_new_node(state->parent);
        node->node_type = TPL_TYPE_BIN;
        node->variable = va_arg(*args, void*);
        tpl_grow_element(state->parent, 16);
        tpl_append_child(state->parent, node);
        break;
      }
      case 'A': {
        if (state->in_struct) return false;
        tpl_map_node* node = tpl_new_node(state->parent);
        node->node_type = TPL_TYPE_ARY;
        node->node_data = tpl_new_array_info(0);
        tpl_index_entry* entry = static_cast<tpl_index_entry*>(tpl_alloc_zero(sizeof(tpl_index_entry)));
        entry->node = node;
        tpl_index_entry** tail = &tpl_root(state->root)->array_index;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = entry;
        tpl_grow_element(state->parent, 8);
        tpl_append_child(state->parent, node);
        state->parent = node;
        state->expect_open = true;
        break;
      }
      case 'S':
        if (state->in_struct) return false;
        state->base = static_cast<uint8_t*>(va_arg(*args, void*));
        state->ordinal = 1;
        state->in_struct = true;
        state->struct_first = nullptr;
        state->widest = nullptr;
        state->expect_open = true;
        break;
      case '$':
        if (!state->in_struct) return false;
        ++state->dollar_depth;
        state->expect_open = true;
        break;
      case '(':
        if (!state->expect_open) return false;
        state->expect_open = false;
        ++state->level;
        break;
      case ')':
        if (!tpl_parse_close(state, cursor, format)) return false;
        break;
      case '#':
        if (cursor > format && cursor[-1] == '(') return false;  // a length needs a value before it
        if (!tpl_parse_lengths(state, &cursor, after_struct, args)) return false;
        break;
      default:
        tpl_hooks.report("unsupported option %c\n", c);
        return false;
    }
  }
  return state->level == 0 && !state->expect_open && !state->in_struct;
}

void tpl_free_nodes(tpl_map_node* parent) {
  tpl_map_node* node = parent->children;
  while (node != nullptr) {
    tpl_map_node* next = node->next;
    tpl_free_nodes(node);
    tpl_free_block(node->node_data);  // value buffers, string slots, repeat records
    tpl_free_block(node);
    node = next;
  }
}

}  // namespace

tpl_map_node* tpl_map(const char* format, ...) {
  tpl_map_node* root = tpl_new_node(nullptr);
  root->node_data = tpl_alloc_zero(sizeof(tpl_root_info));
  root->packed_size = strlen(format) + 9;  // magic, flag byte, length, format and its NUL
  tpl_parse_state state = {};
  state.root = root;
  state.parent = root;
  va_list args;
  va_start(args, format);
  bool parsed = tpl_parse_map(&state, format, &args);
  va_end(args);
  if (!parsed) {
    tpl_hooks.report("failed to parse %s\n", format);
    tpl_free_map(root);
    return nullptr;
  }
  tpl_root(root)->format = tpl_copy_string(format);
  return root;
}

int tpl_share_blobs(tpl_map_node* root) {
  if (root == nullptr || root->node_type != TPL_TYPE_ROOT) return -1;
  // Blobs packed before would be taken for lent ones and never freed.
  if ((tpl_root(root)->flags & (TPL_STATE_PACKED | TPL_STATE_LOADED)) != 0) return -1;
  tpl_root(root)->share_blobs = 1;
  return 0;
}

tpl_map_node* tpl_find_array(tpl_map_node* root, int index) {
  if (root == nullptr || root->node_type != TPL_TYPE_ROOT || index < 1) return nullptr;
  tpl_index_entry* entry = tpl_root(root)->array_index;
  for (int n = 1; entry != nullptr && n < index; ++n) entry = entry->next;
  return entry == nullptr ? nullptr : entry->node;
}

tpl_array_info* tpl_new_array_info(uint64_t element_size) {
  tpl_array_info* info = static_cast<tpl_array_info*>(tpl_alloc_zero(sizeof(tpl_array_info)));
  info->element_size = element_size;
  return info;
}

void tpl_release_packed(tpl_map_node* root, bool keep_arrays) {
  tpl_walk_tree(root, [&](tpl_map_node* node, uint8_t*, uint8_t* values) {
    if (node->node_type == TPL_TYPE_STR) {
      for (int32_t i = 0; i < node->count; ++i) {
        char* text;
        memcpy(&text, values + 8 * i, 8);
        tpl_free_block(text);
        memset(values + 8 * i, 0, 8);
      }
    } else if (node->node_type == TPL_TYPE_BIN && node->node_data != nullptr) {
      tpl_free_packed_blob(node, static_cast<tpl_blob*>(node->node_data));
      node->node_data = nullptr;
    } else if (node->node_type == TPL_TYPE_ARY) {
      uint64_t element_size = tpl_array(node)->element_size;
      tpl_free_array(node, tpl_array(node));
      node->node_data = keep_arrays ? tpl_new_array_info(element_size) : nullptr;
      node->packed_size = 0;
    }
  });
}

void tpl_free_map(tpl_map_node* root) {
  if (root == nullptr) return;
  tpl_release_image(root);
  tpl_release_packed(root, false);
  tpl_free_nodes(root);
  tpl_root_info* info = tpl_root(root);
  for (tpl_index_entry* entry = info->array_index; entry != nullptr;) {
    tpl_index_entry* next = entry->next;
    tpl_free_block(entry);
    entry = next;
  }
  tpl_free_block(info->format);
  tpl_free_block(info->fixed_lengths);
  tpl_free_block(info);
  tpl_free_block(root);
}
