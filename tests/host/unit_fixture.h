// A test that drives Quenzel.so as a host does: the library, the recording callbacks, the value
// references of the model, and short-cuts to the modes a test starts from. Every instance made
// through the fixture is freed at the end, and the host's allocator must then hold no block.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "fmu_host.h"

namespace model {

constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";

constexpr fmi2ValueReference reference(unsigned level, unsigned category, unsigned index) {
  return (level << 28) | (category << 24) | index;
}
constexpr fmi2ValueReference parameter(unsigned index) { return reference(0, 1, index); }

constexpr fmi2ValueReference outputSelector = parameter(0);
constexpr fmi2ValueReference filterK = parameter(1);
constexpr fmi2ValueReference filterT = parameter(2);
constexpr fmi2ValueReference filterYStart = parameter(3);
constexpr fmi2ValueReference limiterUMin = parameter(5);
constexpr fmi2ValueReference limiter1UMin = parameter(7);
constexpr fmi2ValueReference limitedFilterK = parameter(8);
constexpr fmi2ValueReference limitedFilterT = parameter(9);
constexpr fmi2ValueReference limitedFilterYStart = parameter(10);
constexpr fmi2ValueReference switchAlternative = parameter(11);
constexpr fmi2ValueReference timeSourceOffset = parameter(13);
constexpr fmi2ValueReference u = reference(0, 5, 0);
constexpr fmi2ValueReference filterY = reference(0, 2, 0);
constexpr fmi2ValueReference limitedFilterY = reference(0, 2, 1);
constexpr fmi2ValueReference derFilterY = reference(2, 3, 0);
constexpr fmi2ValueReference derLimitedFilterY = reference(2, 3, 1);
constexpr fmi2ValueReference y = reference(1, 4, 0);
constexpr fmi2ValueReference limiterY = reference(1, 6, 3);
constexpr fmi2ValueReference limiter1Y = reference(2, 6, 6);
constexpr fmi2ValueReference timeSourceY = reference(1, 6, 8);
constexpr fmi2ValueReference greaterThresholdY = reference(1, 6, 9);
constexpr fmi2ValueReference inputSwitchY = reference(1, 6, 10);

// The same variable read without asking the model to compute it first.
constexpr fmi2ValueReference stored(fmi2ValueReference vr) { return vr & 0x0FFFFFFFu; }
constexpr fmi2ValueReference atLevel(fmi2ValueReference vr, unsigned level) { return stored(vr) | (level << 28); }

}  // namespace model

// The modes a test can start from with the functions built so far.
enum StartMode {
  startInstantiated,
  startInitialization,
  startRunning,  // after fmi2ExitInitializationMode: event mode (ME), continuous-time mode (CS)
  startTerminated,
};

inline const char* kindName(fmi2Type type) { return type == fmi2CoSimulation ? "CS" : "ME"; }

class UnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetHostAllocator();
    ASSERT_TRUE(unit.loaded()) << unit.error();
  }

  void TearDown() override {
    for (fmi2Component c : instances) unit.fmi2FreeInstance(c);
    instances.clear();
    EXPECT_EQ(hostAllocator().liveBlocks, 0) << "blocks left with the host";
  }

  fmi2Component instantiate(fmi2Type type, const char* name = "inst", fmi2Boolean loggingOn = fmi2True,
                            const fmi2CallbackFunctions* functions = nullptr) {
    fmi2Component c = unit.fmi2Instantiate(name, type, model::guid, "", functions ? functions : host.functions(),
                                           fmi2False, loggingOn);
    if (c) instances.push_back(c);
    return c;
  }

  // Frees an instance before the end of the test.
  void release(fmi2Component c) {
    unit.fmi2FreeInstance(c);
    std::erase(instances, c);
  }

  fmi2Status set(fmi2Component c, fmi2ValueReference vr, double value) {
    return unit.fmi2SetReal(c, &vr, 1, &value);
  }

  // The Real value, NaN when the call delivers nothing.
  double get(fmi2Component c, fmi2ValueReference vr, fmi2Status* status = nullptr) {
    double value = NAN;
    fmi2Status s = unit.fmi2GetReal(c, &vr, 1, &value);
    if (status) *status = s;
    return value;
  }

  // Limits that let the initialisation succeed (the model's own contradict each other) and an
  // input inside them.
  // The time of a Co-Simulation instance's last completed step.
  double lastTime(fmi2Component c) {
    fmi2Real t = NAN;
    EXPECT_EQ(unit.fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &t), fmi2OK);
    return t;
  }

  void consistentLimits(fmi2Component c) {
    ASSERT_EQ(set(c, model::limiterUMin, -1.0), fmi2OK);
    ASSERT_EQ(set(c, model::limiter1UMin, -1.0), fmi2OK);
    ASSERT_EQ(set(c, model::u, 0.5), fmi2OK);
  }

  // An instance in the given mode, with consistent limits; the log is cleared afterwards.
  fmi2Component startIn(fmi2Type type, StartMode mode) {
    fmi2Component c = instantiate(type);
    if (!c) return nullptr;
    consistentLimits(c);
    if (mode >= startInitialization) {
      EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    }
    if (mode >= startRunning) {
      EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    }
    if (mode >= startTerminated) {
      EXPECT_EQ(unit.fmi2Terminate(c), fmi2OK);
    }
    host.clear();
    return c;
  }

  // The InstanceMode code, found through the refusal of fmi2EnterInitializationMode, which
  // names it; 0 when the call is accepted, which initialises the instance. Ends the test's use
  // of the instance. -1 when the answer is neither.
  int probeMode(fmi2Component c) {
    size_t before = host.log.size();
    fmi2Status status = unit.fmi2EnterInitializationMode(c);
    if (status == fmi2OK) return 0;
    const std::string prefix = "model cannot be initialized in current state(";
    for (size_t i = before; i < host.log.size(); ++i) {
      const std::string& text = host.log[i].text;
      if (text.rfind(prefix, 0) == 0) return std::stoi(text.substr(prefix.size()));
    }
    return -1;
  }

  // Texts of the messages at `status`, in order.
  std::vector<std::string> textsAt(fmi2Status status) const {
    std::vector<std::string> result;
    for (const LogRecord& r : host.log)
      if (r.status == status) result.push_back(r.text);
    return result;
  }

  FmuLibrary unit;
  HostCallbacks host;
  std::vector<fmi2Component> instances;
};

// The texts the runtime and the FMI layer send when the model's own limits fail the
// initialisation at time `time`.
inline std::vector<std::string> limiterFailureTexts(const std::string& time = "0") {
  return {"limiter.uMax >= limiter.uMin", "The following error was detected at time: " + time,
          "Limiter: Limits must be consistent. However, uMax (=1) < uMin (=10000)",
          "fmiInitialize: dsblock_ failed, QiErr = 1",
          "Unless otherwise indicated by error messages, possible errors are (non-exhaustive):\n"
          "The model references external data that is not present on the target machine, at least not with the "
          "same location.\n"};
}
