// Fuzz target of the serialiser's reader: arbitrary bytes are loaded (and so checked) as an image
// of the FMU-state map and of a map with nested arrays, from memory, from a file and from a pipe,
// and gathered as a stream of images; everything a successful load holds is unpacked and
// released. Built by tools/fuzz.sh; with QUENZEL_FUZZ_SEEDS it is instead a
// program that writes valid images as the seed corpus into the directory it is given.
#include <cstdio>
#include <cstring>
#include <string>

#include "fmu_state_map.h"
#include "image_builder.h"
#include "tpl.h"

namespace {

// The model's value-array lengths; two strings so that the string table has more than one entry.
const std::vector<int> kLengths = {3, 3, 16, 2, 2, 12, 11, 3, 1, 1};
constexpr int kStrings = 2;
constexpr const char* kArrayFormat = "cA(jsA(vB))S(ci)#u";

struct ArrayVariables {
  struct CI {
    char c;
    int32_t i;
  };
  char c = 0;
  int16_t j = 0;
  char* s = nullptr;
  uint16_t v = 0;
  tpl_blob blob = {nullptr, 0};
  CI pairs[2] = {};
  uint32_t u = 0;
  tpl_map_node* map() { return tpl_map(kArrayFormat, &c, &j, &s, &v, &blob, pairs, 2, &u); }
};

}  // namespace

#ifndef QUENZEL_FUZZ_SEEDS

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

int quietReport(const char*, ...) { return 0; }

// Each loader attaches the input to a map in one way: from memory, from a file, from a pipe.
template <typename Load>
void loadFmuState(Load load) {
  FmuStateVariables state(kLengths, kStrings);
  tpl_map_node* map = state.map();
  if (load(map) == 0 && tpl_unpack(map, 0) == 1) {
    for (char* s : state.strings) tpl_hooks.free(s);
    tpl_hooks.free(state.modelData.bytes);
  }
  tpl_free_map(map);
}

template <typename Load>
void loadArrays(Load load) {
  ArrayVariables vars;
  tpl_map_node* map = vars.map();
  if (load(map) == 0) {
    tpl_unpack(map, 0);
    while (tpl_unpack(map, 1) > 0) {
      tpl_hooks.free(vars.s);
      while (tpl_unpack(map, 2) > 0) tpl_hooks.free(vars.blob.bytes);
    }
  }
  tpl_free_map(map);
}

template <typename Load>
void loadBoth(Load load) {
  loadFmuState(load);
  loadArrays(load);
}

// One scratch file for the whole run, rewritten with every input.
const char* scratchPath() {
  static std::string path = [] {
    char pattern[] = "/tmp/quenzel-fuzz-XXXXXX";
    int descriptor = mkstemp(pattern);
    if (descriptor >= 0) close(descriptor);
    return std::string(pattern);
  }();
  static bool removedAtExit = atexit([] { unlink(path.c_str()); }) == 0;
  (void)removedAtExit;
  return path.c_str();
}

bool writeScratch(const uint8_t* data, size_t size) {
  FILE* file = fopen(scratchPath(), "wb");
  if (file == nullptr) return false;
  bool written = fwrite(data, 1, size, file) == size;
  return fclose(file) == 0 && written;
}

// Every image a gather finds is loaded as the arrays' map.
int loadGathered(const void* image, size_t length, void*) {
  loadArrays([&](tpl_map_node* map) { return tpl_load(map, TPL_MODE_MEMORY, image, length); });
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tpl_hooks.report = quietReport;
  for (int mode : {+TPL_MODE_MEMORY, TPL_MODE_MEMORY | TPL_MODE_EXCESS_OK})
    loadBoth([&](tpl_map_node* map) { return tpl_load(map, mode, data, size); });

  if (writeScratch(data, size)) {
    for (int mode : {+TPL_MODE_FILE, TPL_MODE_FILE | TPL_MODE_EXCESS_OK})
      loadBoth([&](tpl_map_node* map) { return tpl_load(map, mode, scratchPath()); });
  }

  // The inputs are shorter than a pipe holds, so the whole input can be written before it is
  // read; each load reads the next image of the stream.
  int ends[2];
  if (pipe(ends) == 0) {
    bool written = write(ends[1], data, size) == static_cast<ssize_t>(size);
    close(ends[1]);
    if (written) loadBoth([&](tpl_map_node* map) { return tpl_load(map, TPL_MODE_DESCRIPTOR, ends[0]); });
    close(ends[0]);
  }

  // Gathering the input in two pieces split where its first byte says, under a limit its
  // second byte may set.
  size_t split = size == 0 ? 0 : data[0] % (size + 1);
  tpl_hooks.gather_limit = size > 1 && (data[1] & 1) != 0 ? data[1] * 16u : 0;
  tpl_partial_image* partial = nullptr;
  if (tpl_gather(TPL_GATHER_MEM, data, split, &partial, loadGathered, nullptr) == 1)
    tpl_gather(TPL_GATHER_MEM, data + split, size - split, &partial, loadGathered, nullptr);
  if (partial != nullptr) {
    tpl_hooks.free(partial->buffer);
    tpl_hooks.free(partial);
  }
  tpl_hooks.gather_limit = 0;
  return 0;
}

#else

namespace {

bool writeSeed(const std::string& dir, const char* name, const std::vector<uint8_t>& image) {
  std::string path = dir + "/" + name;
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = fwrite(image.data(), 1, image.size(), file) == image.size();
  return fclose(file) == 0 && written;
}

std::vector<uint8_t> dump(tpl_map_node* map) {
  void* buffer = nullptr;
  size_t size = 0;
  tpl_dump(map, TPL_MODE_MEMORY, &buffer, &size);
  std::vector<uint8_t> image(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
  tpl_hooks.free(buffer);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  bool ok = true;

  // FMU states: with a named and a null string and a small block; with an empty string and no
  // block; the first once more in the other byte order.
  char limiter[] = "limiter", empty[] = "", x[] = "x";
  uint8_t block[64];
  for (size_t k = 0; k < sizeof block; ++k) block[k] = static_cast<uint8_t>(k * 3);
  FmuStateVariables state(kLengths, kStrings);
  for (int a = 0; a < 10; ++a)
    for (size_t k = 0; k < state.arrays[a].size(); ++k) state.arrays[a][k] = a + 0.5 * static_cast<double>(k);
  state.strings = {limiter, nullptr};
  state.time = 1.25, state.levelReached = 2, state.mode = 6, state.inlineStepCounter = 3;
  state.solverInts[1] = 0x2;
  state.modelData = {block, sizeof block};
  tpl_map_node* map = state.map();
  tpl_pack(map, 0);
  ok &= writeSeed(dir, "fmu-state", dump(map));
  ok &= writeSeed(dir, "fmu-state-big-endian", state.expectedImage(true));
  state.strings = {empty, x};
  state.modelData = {nullptr, 0};
  tpl_pack(map, 0);
  ok &= writeSeed(dir, "fmu-state-empty-block", dump(map));
  tpl_free_map(map);

  // Nested arrays: two outer elements, the first with two inner ones.
  ArrayVariables vars;
  map = vars.map();
  uint8_t bytes[3] = {1, 2, 3};
  char hello[] = "hello";
  vars.v = 7, vars.blob = {bytes, 3};
  tpl_pack(map, 2);
  vars.v = 8, vars.blob = {nullptr, 0};
  tpl_pack(map, 2);
  vars.j = -5, vars.s = hello;
  tpl_pack(map, 1);
  vars.j = 6, vars.s = nullptr;
  tpl_pack(map, 1);
  vars.c = 'z', vars.pairs[0] = {'a', 10}, vars.pairs[1] = {'b', 20}, vars.u = 0xDEADBEEF;
  tpl_pack(map, 0);
  ok &= writeSeed(dir, "arrays", dump(map));
  tpl_free_map(map);
  return ok ? 0 : 1;
}

#endif
