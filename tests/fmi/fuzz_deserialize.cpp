// Fuzz target of the FMU-state deserialiser. An input is a raw image (first byte 0 modulo 4),
// or, so that short inputs reach the contents of full-size images, edits of a valid image of a
// running Model Exchange instance (first byte 1 modulo 4): a 4-byte length (taken modulo a little
// more than the valid image's) and then 5-byte records of a 4-byte offset and a byte XORed in
// there. The image is deserialised into a new state; an accepted one is restored into the
// instance, evaluated, serialised again and released.
// Inputs with first byte 2 or 3 modulo 4 write whole values into the fields of a Co-Simulation
// image that steer loops, counts and times (the solver blocks, the driver's homotopy and
// iteration state, the time and the mode), of an instance before (2) or after (3) its
// initialisation: records of a 1-byte field number and an 8-byte value. An accepted image is
// restored, a parameter set, the instance initialised and stepped; the fuzzer's time limit turns
// a hang into a failure.
// Built by tools/fuzz.sh; with QUENZEL_FUZZ_SEEDS it is instead a program that writes seed inputs
// into the directory it is given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fmustate.h"
#include "initialize.h"
#include "instantiate.h"
#include "modeldata.h"
#include "stepping.h"
#include "values.h"

namespace {

constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";

extern "C" void quietLogger(fmi2ComponentEnvironment, fmi2String, fmi2Status, fmi2String, fmi2String, ...) {}
const fmi2CallbackFunctions callbacks = {quietLogger, calloc, free, nullptr, nullptr};

// An instance, initialised (Model Exchange, or Co-Simulation stepped to 1 s) or not, and the
// image of its state.
struct Unit {
  ModelInstance* instance = nullptr;
  std::vector<char> image;

  explicit Unit(fmi2Type type = fmi2ModelExchange, bool initialise = true) {
    instance = fmiInstantiate("fuzz", type, guid, "", &callbacks, fmi2False, fmi2False);
    const fmi2ValueReference vr[] = {0x01000005, 0x01000007, 0x05000000};
    const double values[] = {-1.0, -1.0, 0.5};
    fmiSetReal(instance, vr, 3, values);
    if (initialise) {
      fmiEnterInitializationMode(instance);
      fmiExitInitializationMode(instance);
      if (type == fmi2CoSimulation) fmiDoStep(instance, 0.0, 1.0, fmi2True);
    }
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

// Where this model's image holds the fields that steer the unit (its array lengths are fixed).
constexpr size_t imageTime = 542, imageMode = 554, imageSolverReals = 582, imageSolverInts = 614,
                 imageModelData = 662;

struct SteeringField {
  size_t offset;
  bool isDouble;
};

const SteeringField steeringFields[] = {
    {imageTime, true},
    {imageMode, false},
    {imageSolverReals + 0, true},
    {imageSolverReals + 8, true},
    {imageSolverReals + 16, true},
    {imageSolverReals + 24, true},
    {imageSolverInts + 4 * solverIntJacobianInProgress, false},
    {imageSolverInts + 4 * solverIntIntegratorNotSetUp, false},
    {imageSolverInts + 4 * solverIntStepEvent, false},
    {imageSolverInts + 4 * solverIntChangeCounter, false},
    {imageSolverInts + 4 * solverIntAllSections, false},
    {imageSolverInts + 4 * solverIntSkipInitialEquations, false},
    {imageModelData + offsetof(ModelData, eventPhase), false},
    {imageModelData + offsetof(ModelData, time), true},
    {imageModelData + offsetof(ModelData, startTime), true},
    {imageModelData + offsetof(ModelData, extraIteration), false},
    {imageModelData + offsetof(ModelData, iterationCounter), false},
    {imageModelData + offsetof(ModelData, iterationLimit), false},
    {imageModelData + offsetof(ModelData, initialisationCount), false},
    {imageModelData + offsetof(ModelData, lambda), true},
    {imageModelData + offsetof(ModelData, lambdaAtReduction), true},
    {imageModelData + offsetof(ModelData, lambdaStep), true},
    {imageModelData + offsetof(ModelData, homotopyUsed), false},
    {imageModelData + offsetof(ModelData, homotopyActive), false},
    {imageModelData + offsetof(ModelData, homotopyTriedAt), false},
    {imageModelData + offsetof(ModelData, lastParameterChange), false},
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

constexpr size_t steeringFieldCount = sizeof steeringFields / sizeof steeringFields[0];

Unit& unit() {
  tpl_hooks.report = quietReport;
  static Unit made;
  return made;
}

Unit& coSimulationUnit(bool initialised) {
  tpl_hooks.report = quietReport;
  static Unit fresh(fmi2CoSimulation, false);
  static Unit running(fmi2CoSimulation, true);
  return initialised ? running : fresh;
}

// Writes the records' values into the steering fields of a Co-Simulation image, restores it and
// drives the instance through a set call, an initialisation and a step.
void steerAndStep(const uint8_t* data, size_t size) {
  Unit& u = coSimulationUnit(data[0] % 4 == 3);
  std::vector<char> image = u.image;
  for (size_t at = 1; at + 9 <= size; at += 9) {
    const SteeringField& f = steeringFields[data[at] % steeringFieldCount];
    if (f.isDouble) {
      memcpy(image.data() + f.offset, data + at + 1, 8);
    } else {
      memcpy(image.data() + f.offset, data + at + 1, 4);
    }
  }
  ModelInstance* state = nullptr;
  if (fmiDeSerializeFMUstate(u.instance, image.data(), image.size(), &state) == fmi2OK &&
      fmiSetFMUstate(u.instance, state) <= fmi2Warning) {
    const fmi2ValueReference parameter = 0x01000001;
    const double k = 1.0;
    fmiSetReal(u.instance, &parameter, 1, &k);
    fmiEnterInitializationMode(u.instance);
    fmiExitInitializationMode(u.instance);
    fmiDoStep(u.instance, u.instance->time, 0.5, fmi2True);
  }
  fmiFreeFMUstate(u.instance, &state);
  // The next input starts from the instance the image was taken of.
  ModelInstance* original = nullptr;
  if (fmiDeSerializeFMUstate(u.instance, u.image.data(), u.image.size(), &original) == fmi2OK)
    fmiSetFMUstate(u.instance, original);
  fmiFreeFMUstate(u.instance, &original);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 4 >= 2) {
    steerAndStep(data, size);
    return 0;
  }
  Unit& u = unit();
  std::vector<char> image;
  if (data[0] % 4 == 0) {
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
  auto steer = [&](uint8_t kind, std::vector<std::pair<uint8_t, double>> fields) {
    std::vector<uint8_t> bytes = {kind};
    for (auto [field, value] : fields) {
      bytes.push_back(field);
      uint8_t raw[8];
      if (steeringFields[field].isDouble) {
        memcpy(raw, &value, 8);
      } else {
        int32_t i = static_cast<int32_t>(value);
        memcpy(raw, &i, 4);
        memset(raw + 4, 0, 4);
      }
      bytes.insert(bytes.end(), raw, raw + 8);
    }
    return bytes;
  };
  write("steer-fresh", steer(2, {}));
  write("steer-running", steer(3, {}));
  write("steer-next-event", steer(3, {{4, 0.5}}));
  write("steer-counter", steer(3, {{9, 2147483647.0}}));
  write("steer-homotopy", steer(2, {{23, 1}, {21, 0.0}}));
  std::vector<uint8_t> header = {0};
  header.insert(header.end(), u.image.begin(), u.image.begin() + 120);
  write("header", header);
  return 0;
}

#endif
