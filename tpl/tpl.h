// tpl: the binary serialiser. A caller maps a fixed set of its own variables with a format
// string, packs their current values, dumps them as one self-describing image, and later loads
// such an image, checks it against the map and unpacks the values back into the variables.
//
// Format characters: i int32, u uint32, c byte, j int16, v uint16, I int64, U uint64, f double,
// s string (char*, may be null), B binary value (a tpl_blob), A(...) array of any length,
// S(...) structure of fields at aligned offsets from one base address, $(...) a group inside
// S(...), and '#' after a scalar, a string or an S(...): a fixed length taken as an int argument.
//
// Results are 0 (or a count, see tpl_unpack) and -1; errors are reported through
// tpl_hooks.report. Out of memory and internal inconsistencies go to tpl_hooks.fatal, which ends
// the process, or jumps out of the serialiser when a caller's hook does so: every tpl path
// holds plain records only and takes all its memory from the allocation hooks, so a hook that
// keeps count of the blocks it handed out can give back what the abandoned work held. A map is
// used by one thread at a time; the hooks are process-wide, not guarded.
#pragma once

#include <cstddef>
#include <cstdint>

struct tpl_map_node;  // a map: the root node returned by tpl_map

// A binary value of the caller.
struct tpl_blob {
  void* bytes;
  uint32_t length;
};

// Mode bits of tpl_dump and tpl_load.
enum tpl_mode : int {
  TPL_MODE_FILE = 1,
  TPL_MODE_MEMORY = 2,
  TPL_MODE_PREALLOCATED = 4,
  TPL_MODE_EXCESS_OK = 8,
  TPL_MODE_DESCRIPTOR = 16,
  TPL_MODE_FREE_BUFFER = 32,
  TPL_MODE_SIZE_ONLY = 256,
};

// The replaceable services. All tpl memory comes from and goes back to these allocation hooks.
struct tpl_hook_table {
  int (*report)(const char* format, ...);   // error printer
  void* (*malloc)(size_t size);
  void* (*realloc)(void* block, size_t size);
  void (*free)(void* block);
  void (*fatal)(const char* format, ...);   // must not return (a longjmp out of it is allowed)
  uint64_t gather_limit;                    // largest image a gather accepts, 0 = no limit
};
extern tpl_hook_table tpl_hooks;

// Writes the formatted text to the standard error stream; returns 0.
int tpl_default_report(const char* format, ...);
// Passes the first 99 characters of the formatted text to tpl_hooks.report and ends the process
// with exit status -1.
[[noreturn]] void tpl_default_fatal(const char* format, ...);

// Parses the format and takes, in format order, one address per s, i, u, c, j, v, I, U, f and B
// outside S(...) (a char** for s, a tpl_blob* for B), one base address per S and one int per '#'.
// Returns the map, or null after reporting "failed to parse <format>".
tpl_map_node* tpl_map(const char* format, ...);

// Lets the map's blobs outside arrays lend their bytes instead of copying them, for a caller
// that moves large blobs and keeps them alive meanwhile: tpl_pack then records the caller's
// bytes, which must stay unchanged until the image is dumped, and tpl_unpack from an image that
// the caller owns (loaded without TPL_MODE_FREE_BUFFER) points the caller's tpl_blob into the
// image, unaligned and valid as long as the image is; the caller must not free those bytes. The
// image is the same either way. Before the first pack or load: 0, or -1 for a null or non-root
// map and for one that holds packed or loaded data.
int tpl_share_blobs(tpl_map_node* root);

// Releases a map and everything it owns; the caller's variables are not touched.
void tpl_free_map(tpl_map_node* root);
inline void tpl_free(tpl_map_node* root) { tpl_free_map(root); }

// Copies the current values of the mapped variables into the map. Index 0 packs everything
// outside arrays; index n >= 1 appends one element to the n-th A of the format (nested ones
// counted, in order of appearance). 0, or -1 for an index that does not exist.
int tpl_pack(tpl_map_node* root, int index);

// Writes the image of what is packed. Arguments after the mode:
//   TPL_MODE_SIZE_ONLY                         uint64_t* size
//   TPL_MODE_MEMORY                            void** buffer, size_t* size (buffer from the malloc hook)
//   TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED    void* buffer, size_t capacity
//   TPL_MODE_FILE                              const char* path (created or truncated)
//   TPL_MODE_DESCRIPTOR                        int descriptor (written at its position)
// 0, or -1 (a loaded map, a buffer too small, an unsupported mode, a file or descriptor that
// cannot be written; a descriptor that is a regular file is cut back to its length before). A
// non-blocking descriptor that is full is waited for until it takes the rest.
int tpl_dump(tpl_map_node* root, int mode, ...);

// Attaches an image after checking it against the map. Arguments after the mode:
//   TPL_MODE_MEMORY [| TPL_MODE_EXCESS_OK] [| TPL_MODE_FREE_BUFFER]   const void* image, size_t size
//   TPL_MODE_FILE [| TPL_MODE_EXCESS_OK]                             const char* path
//   TPL_MODE_DESCRIPTOR                                              int descriptor
// A file is read whole into a buffer that belongs to the map (so later changes of the file do
// not reach it) and closed at once; from a descriptor one whole image is read (as by
// TPL_GATHER_BLOCKING) and then belongs to the map. A descriptor that would block is waited for.
// TPL_MODE_EXCESS_OK lets the buffer be longer than the image; TPL_MODE_FREE_BUFFER hands the
// buffer to the map (freed with the free hook when the map is cleared or released). Without it
// the buffer stays the caller's and must outlive every unpack from it. 0, or -1 after "not a
// valid tpl file" or "format signature mismatch" (for a file prefixed with its name, or "array
// lengths mismatch"; a file that cannot be opened or read reports "tpl_load failed for file").
int tpl_load(tpl_map_node* root, int mode, ...);

// Copies the loaded values into the mapped variables: index 0 everything outside arrays (result
// 1), index n >= 1 the next element of the n-th A (result the number of elements that were left
// before this call, 0 when none was). Strings and blob bytes are new buffers from the malloc hook
// that belong to the caller; the previous pointers in the variables are overwritten, not freed.
// A map that was packed is dumped and loaded back first. -1 for an index that does not exist.
int tpl_unpack(tpl_map_node* root, int index);

// ---- Gathering whole images from a stream or from pieces of memory --------------------------
// An incomplete image kept between gather calls, from the allocation hooks; the caller holds a
// pointer to it, null when there is none, and passes that pointer's address to every call.
struct tpl_partial_image {
  char* buffer;
  size_t length;
};
// Receives each complete image (valid during the call only); a negative result stops the gather.
typedef int (*tpl_gather_callback)(const void* image, size_t length, void* data);

enum tpl_gather_mode : int {
  // int descriptor, void** image, size_t* length: reads one whole image from a blocking
  // descriptor (a non-blocking one is waited for until the image is whole) into a buffer from
  // the malloc hook that becomes the caller's. 1 with an image,
  // 0 at end of file (before or inside an image), -1 on a read error or input that is not an
  // image, -2 for an image longer than tpl_hooks.gather_limit.
  TPL_GATHER_BLOCKING = 1,
  // int descriptor, tpl_partial_image** partial, tpl_gather_callback, void* data: reads a
  // non-blocking descriptor until it would block (1) or ends (0, reporting a partial image left
  // over), handing each complete image to the callback. -1 on a read error, -2 when the
  // buffered bytes grow past tpl_hooks.gather_limit, -3 for bytes that are not an image, -4
  // when the callback stopped it. On any result but 1 no partial image is left.
  TPL_GATHER_NONBLOCKING = 2,
  // const void* bytes, size_t length, tpl_partial_image** partial, tpl_gather_callback, void*
  // data: the same over one more piece of memory; 1, or -2, -3, -4 as above.
  TPL_GATHER_MEM = 3,
};
int tpl_gather(int mode, ...);
