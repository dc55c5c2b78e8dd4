// The serialiser's private records: the node tree of a map, its root, array and repetition
// records, the helpers every tpl file shares, and the walk over a node's children in image order.
#pragma once

#include <cstdlib>

#include "tpl.h"

enum tpl_node_type : int32_t {
  TPL_TYPE_ROOT = 0,
  TPL_TYPE_INT32 = 1,   // i
  TPL_TYPE_UINT32 = 2,  // u
  TPL_TYPE_BYTE = 3,    // c
  TPL_TYPE_STR = 4,     // s
  TPL_TYPE_ARY = 5,     // A
  TPL_TYPE_BIN = 6,     // B
  TPL_TYPE_DOUBLE = 7,  // f
  TPL_TYPE_INT64 = 8,   // I
  TPL_TYPE_UINT64 = 9,  // U
  TPL_TYPE_INT16 = 10,  // j
  TPL_TYPE_UINT16 = 11, // v
  TPL_TYPE_POUND = 12,  // repetition of a structure
};

// State bits kept in a root's flags beside the tpl_mode bits of the last load.
constexpr int32_t TPL_STATE_PACKED = 0x200;
constexpr int32_t TPL_STATE_LOADED = 0x400;
constexpr int32_t TPL_STATE_SWAP_BYTES = 0x800;
constexpr int32_t TPL_STATE_OLD_STRINGS = 0x1000;

// Bits of an image's flag byte.
constexpr uint8_t TPL_IMAGE_BIG_ENDIAN = 1;
constexpr uint8_t TPL_IMAGE_NULL_STRINGS = 2;

// The characters an image's format may hold.
extern const char tpl_format_chars[];

// Up to ten '#' may follow one another.
constexpr int TPL_MAX_CONTIGUOUS_LENGTHS = 10;

struct tpl_map_node {
  int32_t node_type;
  // The mapped variable: a field's computed address inside S(...), the caller's tpl_blob for B,
  // the caller's (first) string pointer for s; null for the root, A and '#'.
  void* variable;
  // Root: tpl_root_info. A: tpl_array_info. '#': tpl_repeat_info. s: the packed copies, one
  // char* per string. B: the packed tpl_blob (null until packed). Scalars: the packed values.
  void* node_data;
  int32_t count;  // 1 or the fixed length; for '#' the number of repetitions
  // Root: the image header size. A: bytes its packed elements take in an image, excluding the
  // element count.
  uint64_t packed_size;
  tpl_map_node* children;  // the first child's prev is the last child
  tpl_map_node* next;
  tpl_map_node* prev;
  tpl_map_node* parent;
};

struct tpl_index_entry {
  tpl_map_node* node;
  tpl_index_entry* next;
};

// The image a map has loaded: the caller's bytes (memory mode, freed by the map with
// TPL_MODE_FREE_BUFFER), or a block of the allocation hook that holds what a file or a
// descriptor gave, which the map frees.
struct tpl_mapped_image {
  const uint8_t* start;
  uint64_t size;
};

struct tpl_root_info {
  int32_t flags;  // tpl_mode bits of the last load and tpl_state bits
  tpl_index_entry* array_index;  // every A of the format, in order of appearance
  tpl_mapped_image image;
  char* format;
  int32_t* fixed_lengths;  // every '#' number, in format order
  int32_t fixed_length_count;
  int32_t share_blobs;  // set by tpl_share_blobs; survives clearing
};

struct tpl_array_element;

struct tpl_array_info {
  uint32_t element_count;
  // Bytes of one element in memory: the children's values in walk order, 8 per string, 8 per
  // nested A (its tpl_array_info*), 16 per blob (its tpl_blob* and padding).
  uint64_t element_size;
  tpl_array_element* first_element;
  tpl_array_element* last_element;
  const uint8_t* unpack_position;  // next element in a loaded image; null until known
};

struct tpl_array_element {
  tpl_array_element* next;
  uint8_t* element_data;  // the element_size bytes that follow this head
};

struct tpl_repeat_info {
  uint64_t stride;           // bytes from one structure element to the next in the caller's memory
  tpl_map_node* first_node;  // the structure's first field
};

// ---- Shared helpers ---------------------------------------------------------------------------
// Allocation through the hooks; out of memory is fatal.
void* tpl_alloc(size_t size);
void* tpl_alloc_zero(size_t size);
void* tpl_realloc(void* block, size_t size);
char* tpl_copy_string(const char* text);
void tpl_free_block(void* block);  // null is ignored

// Calls the fatal hook; should a replaced hook return, the process ends all the same.
template <typename... Args>
[[noreturn]] void tpl_die(const char* format, Args... args) {
  tpl_hooks.fatal(format, args...);
  exit(-1);
}

inline tpl_root_info* tpl_root(tpl_map_node* root) {
  return static_cast<tpl_root_info*>(root->node_data);
}
inline tpl_array_info* tpl_array(tpl_map_node* node) {
  return static_cast<tpl_array_info*>(node->node_data);
}

// Whether a blob node lends the caller's bytes (tpl_share_blobs) rather than copying them; blobs
// of array elements are always copied, since each element packs the variable anew.
inline bool tpl_blob_shared(const tpl_map_node* node) {
  return node->parent != nullptr && node->parent->node_type == TPL_TYPE_ROOT &&
         tpl_root(node->parent)->share_blobs != 0;
}

// Releases a packed blob record, with its bytes unless they are lent.
inline void tpl_free_packed_blob(const tpl_map_node* node, tpl_blob* packed) {
  if (packed == nullptr) return;
  if (!tpl_blob_shared(node)) tpl_free_block(packed->bytes);
  tpl_free_block(packed);
}

// Bytes of one value of a scalar type, in memory and in an image; 8 for a string pointer; 0 for
// the other types.
size_t tpl_value_size(int32_t type);
inline bool tpl_is_scalar(int32_t type) {
  return type != TPL_TYPE_STR && tpl_value_size(type) != 0;
}

// A node of count 1 under `parent`, not yet linked; out of memory is fatal.
tpl_map_node* tpl_new_node(tpl_map_node* parent);
// The address of a structure field of the given type and ordinal (from 1) in a structure at
// `base` whose earlier fields are the last children of `parent`.
uint8_t* tpl_field_address(tpl_map_node* parent, int32_t type, uint8_t* base, int ordinal);

// The n-th A (n >= 1) of the format, or null.
tpl_map_node* tpl_find_array(tpl_map_node* root, int index);

// The size of the image of what is packed, and the writing of that image into a buffer of
// that size (always 0).
uint64_t tpl_ser_osz(tpl_map_node* root);
int tpl_dump_to_buffer(tpl_map_node* root, uint8_t* buffer, uint64_t size);

// A new element at the end of an array's chain; returns its zero-filled data.
uint8_t* tpl_add_array_element(tpl_map_node* node);
// Writes an array's element count and elements at `position`; returns the position after them.
uint8_t* tpl_dump_array(tpl_map_node* node, const tpl_array_info* info, uint8_t* position);
// Frees an array's elements with what they own, then the record itself.
void tpl_free_array(tpl_map_node* node, tpl_array_info* info);
tpl_array_info* tpl_new_array_info(uint64_t element_size);

// Lets go of a loaded image, freeing it when the map owns it.
void tpl_release_image(tpl_map_node* root);
// Drops packed or loaded data and keeps the map.
void tpl_clear_data(tpl_map_node* root);
// Frees the packed strings, blobs and array elements held by the nodes. With keep_arrays every A
// gets a fresh empty record, otherwise its record is freed too.
void tpl_release_packed(tpl_map_node* root, bool keep_arrays);

int tpl_check_image(tpl_map_node* root, bool excess_ok);
// After a successful check: marks the image loaded with the given mode bits, keeps the check's
// byte-order and string-convention bits, and prepares the root's arrays.
void tpl_attach_image(tpl_map_node* root, int32_t mode_bits);

// Files and descriptors. The dumps write the image of the given size; the loads take a root
// already cleared and leave it without an image on failure.
int tpl_dump_to_file(tpl_map_node* root, uint64_t size, const char* path);
int tpl_dump_to_descriptor(tpl_map_node* root, uint64_t size, int descriptor);
int tpl_load_file(tpl_map_node* root, int mode, const char* path);
int tpl_load_descriptor(tpl_map_node* root, int descriptor);
int tpl_serlen(tpl_map_node* root, tpl_map_node* node, const uint8_t* position, uint64_t* length);
// Moves *position past the image data of one node (an A with its count and elements); false
// when that would run past the image's end.
bool tpl_skip_node(tpl_map_node* root, tpl_map_node* node, const uint8_t** position);
// Sets the element count and the unpack position of every array at the root of a loaded image.
void unpackA0(tpl_map_node* root);
uint64_t tpl_data_start(tpl_map_node* root);

// Reads a 2-, 4- or 8-byte number from an image in the image's byte order.
void tpl_read_value(void* out, const uint8_t* position, size_t size, bool swap);
uint32_t tpl_read_u32(const uint8_t* position, bool swap);

// Calls visit(node, variable, values) for each child of parent in image order. A repetition
// replays the fields from its structure's first field up to it, once per further element, with
// the caller's address advanced by the stride and the value buffer by one element. Stops and
// gives false as soon as a visit does.
template <typename Visit>
bool tpl_walk(tpl_map_node* parent, Visit&& visit) {
  for (tpl_map_node* node = parent->children; node != nullptr; node = node->next) {
    if (node->node_type != TPL_TYPE_POUND) {
      if (!visit(node, static_cast<uint8_t*>(node->variable), static_cast<uint8_t*>(node->node_data)))
        return false;
      continue;
    }
    const tpl_repeat_info* repeat = static_cast<const tpl_repeat_info*>(node->node_data);
    for (int32_t element = 1; element < node->count; ++element) {
      for (tpl_map_node* field = repeat->first_node; field != node; field = field->next) {
        uint8_t* variable = static_cast<uint8_t*>(field->variable) + element * repeat->stride;
        uint8_t* values = static_cast<uint8_t*>(field->node_data) +
                          element * tpl_value_size(field->node_type) * field->count;
        if (!visit(field, variable, values)) return false;
      }
    }
  }
  return true;
}

// Calls visit(node, variable, values) for every node of the map that holds values, in image
// order, descending into arrays after visiting them.
template <typename Visit>
void tpl_walk_tree(tpl_map_node* parent, Visit&& visit) {
  tpl_walk(parent, [&](tpl_map_node* node, uint8_t* variable, uint8_t* values) {
    visit(node, variable, values);
    if (node->node_type == TPL_TYPE_ARY) tpl_walk_tree(node, visit);
    return true;
  });
}
