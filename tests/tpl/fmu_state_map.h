// The FMU-state image's format over a set of plain variables, laid out as the FMU-state code maps
// an instance: ten double arrays, a string table, eight scalars, two structures, the ModelData
// blob and one trailing word. The hand-made layout of such an image comes with it.
#pragma once

#include <cstdint>
#include <vector>

#include "image_builder.h"
#include "tpl.h"

inline constexpr const char* kFmuStateFormat = "f#f#f#f#f#f#f#f#f#f#s#fiiUiiiiS(ffff)S(iiiiiiiiiii)BU";
inline constexpr uint32_t kModelDataSize = 881920;

struct FmuStateVariables {
  std::vector<double> arrays[10];
  std::vector<char*> strings;
  double time = 0;
  int32_t levelReached = 0, mode = 0;
  uint64_t inlineStepCounter = 0;
  int32_t flags[4] = {};
  double solverReals[4] = {};
  int32_t solverInts[11] = {};
  tpl_blob modelData = {nullptr, 0};
  uint64_t last = 0;

  // Arrays of the given lengths and a table of `strings` null pointers, all zero.
  FmuStateVariables(std::vector<int> lengths, int stringCount) : strings(static_cast<size_t>(stringCount)) {
    for (int a = 0; a < 10; ++a) arrays[a].assign(static_cast<size_t>(lengths[static_cast<size_t>(a)]), 0.0);
  }

  tpl_map_node* map() {
    auto n = [&](int a) { return static_cast<int>(arrays[a].size()); };
    return tpl_map(kFmuStateFormat, arrays[0].data(), n(0), arrays[1].data(), n(1), arrays[2].data(), n(2),
                   arrays[3].data(), n(3), arrays[4].data(), n(4), arrays[5].data(), n(5), arrays[6].data(),
                   n(6), arrays[7].data(), n(7), arrays[8].data(), n(8), arrays[9].data(), n(9),
                   strings.data(), static_cast<int>(strings.size()), &time, &levelReached, &mode,
                   &inlineStepCounter, &flags[0], &flags[1], &flags[2], &flags[3], solverReals, solverInts,
                   &modelData, &last);
  }

  // The image as the layout describes it, element by element.
  std::vector<uint8_t> expectedImage(bool bigEndian = false) const {
    ImageBuilder b;
    b.big_endian = bigEndian;
    b.raw("tpl", 3);
    b.bytes.push_back(static_cast<uint8_t>(2 | (bigEndian ? 1 : 0)));
    b.u32(0).raw(kFmuStateFormat, 54);
    for (const auto& a : arrays) b.u32(static_cast<uint32_t>(a.size()));
    b.u32(static_cast<uint32_t>(strings.size()));
    for (const auto& a : arrays)
      for (double v : a) b.value(v);
    for (const char* s : strings) b.str(s);
    b.value(time).value(levelReached).value(mode).value(inlineStepCounter);
    for (int32_t f : flags) b.value(f);
    for (double r : solverReals) b.value(r);
    for (int32_t i : solverInts) b.value(i);
    b.blob(modelData.bytes, modelData.length).value(last);
    return b.finish();
  }
};
