// FMU states of Quenzel.so beside a memcpy of the bytes each operation must move: taking a state
// into an existing handle and restoring it (the values and the written part of the model block),
// writing its image and reading an image back into a new state (the image). The host allocates
// with calloc.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "default_scenario.h"
#include "fmi2.h"
#include "ratio_main.h"

namespace {

using scenario::callbacks;
using scenario::guid;
using scenario::stateBytes;

// A running instance of the given kind with limits that let it initialise, stepped a little when
// it is a Co-Simulation one.
struct Running {
  fmi2Component c = nullptr;
  fmi2FMUstate state = nullptr;
  std::vector<char> image;

  explicit Running(fmi2Type kind) {
    c = fmi2Instantiate("bench", kind, guid, "", &callbacks, fmi2False, fmi2False);
    const fmi2ValueReference vr[] = {0x01000005, 0x01000007, 0x05000000};
    const double values[] = {-1.0, -1.0, 0.5};
    fmi2SetReal(c, vr, 3, values);
    fmi2SetupExperiment(c, kind == fmi2CoSimulation, 1e-6, 0.0, fmi2False, 0.0);
    fmi2EnterInitializationMode(c);
    fmi2ExitInitializationMode(c);
    if (kind == fmi2CoSimulation) fmi2DoStep(c, 0.0, 0.5, fmi2True);
    fmi2GetFMUstate(c, &state);
    size_t size = 0;
    fmi2SerializedFMUstateSize(c, state, &size);
    image.resize(size);
    fmi2SerializeFMUstate(c, state, image.data(), size);
  }
  ~Running() {
    fmi2FreeFMUstate(c, &state);
    fmi2FreeInstance(c);
  }
};

void copyOf(benchmark::State& s, size_t bytes) {
  std::vector<char> from(bytes, 1), to(bytes, 0);
  for (auto _ : s) {
    memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * bytes));
}

void getState(benchmark::State& s, fmi2Type kind) {
  Running unit(kind);
  for (auto _ : s) fmi2GetFMUstate(unit.c, &unit.state);
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * stateBytes));
}

void setState(benchmark::State& s, fmi2Type kind) {
  Running unit(kind);
  for (auto _ : s) fmi2SetFMUstate(unit.c, unit.state);
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * stateBytes));
}

void serializeState(benchmark::State& s) {
  Running unit(fmi2ModelExchange);
  std::vector<char> buffer(unit.image.size());
  for (auto _ : s) fmi2SerializeFMUstate(unit.c, unit.state, buffer.data(), buffer.size());
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * buffer.size()));
}

void deserializeState(benchmark::State& s) {
  Running unit(fmi2ModelExchange);
  for (auto _ : s) {
    fmi2FMUstate state = nullptr;
    fmi2DeSerializeFMUstate(unit.c, unit.image.data(), unit.image.size(), &state);
    fmi2FreeFMUstate(unit.c, &state);
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * unit.image.size()));
}

}  // namespace

BENCHMARK_CAPTURE(copyOf, state_bytes, stateBytes);
BENCHMARK_CAPTURE(getState, model_exchange, fmi2ModelExchange);
BENCHMARK_CAPTURE(getState, co_simulation, fmi2CoSimulation);
BENCHMARK_CAPTURE(setState, model_exchange, fmi2ModelExchange);
BENCHMARK_CAPTURE(setState, co_simulation, fmi2CoSimulation);
BENCHMARK_CAPTURE(copyOf, image_bytes, scenario::imageBytes);
BENCHMARK(serializeState);
BENCHMARK(deserializeState);

int main(int argc, char** argv) {
  return runWithRatios(argc, argv,
                       {{"getState/model_exchange", "copyOf/state_bytes"},
                        {"getState/co_simulation", "copyOf/state_bytes"},
                        {"setState/model_exchange", "copyOf/state_bytes"},
                        {"setState/co_simulation", "copyOf/state_bytes"},
                        {"serializeState", "copyOf/image_bytes"},
                        {"deserializeState", "copyOf/image_bytes"}});
}
