// Result generation under test: a scratch working folder for the result files (they are written
// where the process runs), the file's data_2 times read back, and an instance switched on.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fmu_host.h"
#include "instance_fixture.h"
#include "model.h"
#include "results.h"

// The process works in a new empty folder while this lives; the folder goes with its files.
class ScratchWorkingFolder {
 public:
  ScratchWorkingFolder() {
    char buffer[PATH_MAX];
    previous_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
    std::string pattern = (std::filesystem::temp_directory_path() / "quenzel-results-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    EXPECT_FALSE(path_.empty());
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~ScratchWorkingFolder() {
    EXPECT_EQ(chdir(previous_.c_str()), 0);
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchWorkingFolder(const ScratchWorkingFolder&) = delete;
  ScratchWorkingFolder& operator=(const ScratchWorkingFolder&) = delete;

  // Names of the files in the folder, sorted.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string file(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

 private:
  std::string previous_;
  std::string path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The time column of data_2, the last matrix of a result file of this model (whose only signal
// is "Time"): its binary header, stored transposed, gives one value per row.
inline std::vector<float> ResultTimes(const std::string& path) {
  std::string bytes = ReadBytes(path);
  static const char name[] = "data_2";
  size_t at = bytes.rfind(std::string(name, sizeof name));
  std::vector<float> times;
  EXPECT_NE(at, std::string::npos) << path << " has no data_2";
  if (at == std::string::npos || at < 20) return times;
  int32_t header[5];
  memcpy(header, bytes.data() + at - 20, sizeof header);
  EXPECT_EQ(header[0], 10);  // float32, stored as written
  EXPECT_EQ(header[1], 1);   // one signal
  size_t first = at + sizeof name;
  EXPECT_EQ(bytes.size(), first + 4 * static_cast<size_t>(header[2]));
  for (int32_t i = 0; i < header[2] && first + 4 * (i + 1) <= bytes.size(); ++i) {
    float t;
    memcpy(&t, bytes.data() + first + 4 * i, sizeof t);
    times.push_back(t);
  }
  return times;
}

inline std::vector<float> Floats(std::initializer_list<double> values) {
  std::vector<float> out;
  for (double v : values) out.push_back(static_cast<float>(v));
  return out;
}

// The name the next set-up gives an instance's result file, from the process's set-up count.
inline std::string NextResultFileName(const std::string& base) {
  int32_t number = resultSetupCount + 1;
  return number == 1 ? base + ".mat" : base + std::to_string(number) + ".mat";
}

// A hand-built instance with the model's counts and value arrays, for the ring: the test sets
// the time and calls the result functions directly.
class ResultInstanceTest : public InstanceTest {
 protected:
  void SetUp() override {
    resetHostAllocator();
    instance->fmuType = fmi2CoSimulation;
    instance->nx = modelStates;
    instance->nu = modelInputs;
    instance->ny = modelOutputs;
    instance->nw = modelAuxiliaries;
    instance->np = modelParameters;
    instance->states = states.data();
    instance->derivatives = derivatives.data();
    instance->parameters = parameters.data();
    instance->inputs = inputs.data();
    instance->outputs = outputs.data();
    instance->auxiliaries = auxiliaries.data();
    instance->resultGeneration = 1;
  }
  void TearDown() override {
    resultFinish(instance);
    EXPECT_EQ(instance->resultBuffer, nullptr);
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << "blocks left with the host";
    InstanceTest::TearDown();
  }

  // Set-up at time t0; the file is "inst_internal<n>.mat".
  void setUpAt(double t0) {
    instance->time = t0;
    fileName = NextResultFileName("inst_internal");
    resultSetup(instance);
    ASSERT_NE(instance->resultBuffer, nullptr);
  }
  void sampleAt(double t, int force) {
    instance->time = t;
    resultSample(instance, force);
  }
  void finishAt(double t) {
    instance->time = t;
    resultFinish(instance);
  }
  std::vector<float> times() { return ResultTimes(folder.file(fileName)); }
  int warnings(const std::string& part) const {
    int n = 0;
    for (const LogRecord& r : host.log) n += r.status == fmi2Warning && r.text.find(part) != std::string::npos;
    return n;
  }

  ScratchWorkingFolder folder;
  std::string fileName;
  std::vector<double> states = std::vector<double>(modelStates + 1, 0.0);
  std::vector<double> derivatives = std::vector<double>(modelStates + 1, 0.0);
  std::vector<double> parameters = std::vector<double>(modelParameters + 1, 7.0);
  std::vector<double> inputs = std::vector<double>(modelInputs + 1, 0.0);
  std::vector<double> outputs = std::vector<double>(modelOutputs + 1, 0.0);
  std::vector<double> auxiliaries = std::vector<double>(modelAuxiliaries + 1, 0.0);
};
