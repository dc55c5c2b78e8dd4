// Fuzz target of the FMU-state deserialiser. An input is either a raw image (first byte even) or,
// so that short inputs reach the contents of full-size images, edits of a valid image of a
// running instance (first byte odd): a 4-byte length (taken modulo a little more than the valid
// image's) and then 5-byte records of a 4-byte offset and a byte XORed in there. The image is
// deserialised into a new state; an accepted one is restored into the instance, evaluated,
// serialised again and released. Built by tools/fuzz.sh; with QUENZEL_FUZZ_SEEDS it is instead a
// program that writes seed inputs into the directory it is given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fmustate.h"
#include "initialize.h"
#include "instantiate.h"
#include "values.h"

namespace {

constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";

extern "C" void quietLogger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {}
const fmi2CallbackFunctions callbacks = {quietLogger, calloc, free, nullptr, nullptr};

// A Model Exchange instance after its initialisation, and the image of its state.
struct Unit {
  ModelInstance* instance = nullptr;
  std::vector<char> image;

  Unit() {
    instance = fmiInstantiate("fuzz", fmi2ModelExchange, guid, "", &callbacks, fmi2False, fmi2False);
    const fmi2ValueReference vr[] = {0x01000005, 0x01000007, 0x05000000};
    const double values[] = {-1.0, -1.0, 0.5};
    fmiSetReal(instance, vr, 3, values);
    fmiEnterInitializationMode(instance);
    fmiExitInitializationMode(instance);
    ModelInstance* state = nullptr;
    fmiGetFMUstate(instance, &state);
    size_t size = 0;
    fmiSerializedFMUstateSize(instance, state, &size);
    image.resize(size);
    fmiSerializeFMUstate(instance, state, image.data(), size);
    fmiFreeFMUstate(instance, &state);
  }
  ~Unit() { fmiFreeInstance(instance); }
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;
};

}  // namespace

#ifndef QUENZEL_FUZZ_SEEDS

namespace {

uint32_t word(const uint8_t* p) {
  uint32_t value;
  memcpy(&value, p, sizeof value);
  return value;
}

int quietReport(const char*, ...) { return 0; }

Unit& unit() {
  tpl_hooks.report = quietReport;
  static Unit made;
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Unit& u = unit();
  std::vector<char> image;
  if (data[0] % 2 == 0) {
    image.assign(data + 1, data + size);
  } else {
    image = u.image;
    if (size >= 5) image.resize(word(data + 1) % (u.image.size() + 64));
    for (size_t at = 5; at + 5 <= size && !image.empty(); at += 5)
      image[word(data + at) % image.size()] ^= static_cast<char>(data[at + 4]);
  }
  ModelInstance* state = nullptr;
  fmi2Status status = fmiDeSerializeFMUstate(u.instance, image.data(), image.size(), &state);
  if (status == fmi2OK) {
    fmiSetFMUstate(u.instance, state);
    const fmi2ValueReference vr[] = {0x23000000, 0x14000000};
    double values[2];
    fmiGetReal(u.instance, vr, 2, values);
    size_t bytes = 0;
    if (fmiSerializedFMUstateSize(u.instance, state, &bytes) == fmi2OK) {
      std::vector<char> again(bytes);
      fmiSerializeFMUstate(u.instance, state, again.data(), bytes);
    }
  }
  fmiFreeFMUstate(u.instance, &state);
  return 0;
}

#else

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Unit u;
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::string path = std::string(argv[1]) + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) exit(1);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  };
  auto edits = [&](uint32_t length, std::vector<std::pair<uint32_t, uint8_t>> changes) {
    std::vector<uint8_t> bytes = {1};
    auto add = [&](uint32_t v) { bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4); };
    add(length);
    for (auto [offset, x] : changes) {
      add(offset);
      bytes.push_back(x);
    }
    return bytes;
  };
  uint32_t size = static_cast<uint32_t>(u.image.size());
  write("valid", edits(size, {}));
  write("mode", edits(size, {{554, 0x02}}));
  write("flag", edits(size, {{574, 0x01}}));
  write("block", edits(size, {{662 + 16, 0x07}, {662 + 24, 0x01}}));
  write("short", edits(size - 1, {}));
  std::vector<uint8_t> header = {0};
  header.insert(header.end(), u.image.begin(), u.image.begin() + 120);
  write("header", header);
  return 0;
}

#endif
