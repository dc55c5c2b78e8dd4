// Every function of the unit called with a null component, as a broken host would: each refuses
// the call with its status and touches nothing, whatever else it is given. The other arguments
// are valid, so the null component is the only fault a call can trip over.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "fmu_host.h"

namespace {

// Arguments good enough for every call: buffers, a value reference, a state handle that is not
// null (it points at zeros, so a call that reads through it without its instance reads garbage).
struct Arguments {
  fmi2ValueReference vr[1] = {0};
  fmi2Real reals[4] = {};
  fmi2Integer integers[4] = {};
  fmi2Boolean booleans[4] = {};
  fmi2String strings[4] = {"a", nullptr, nullptr, nullptr};
  fmi2Byte bytes[64] = {};
  alignas(8) unsigned char fakeState[4096] = {};
  fmi2FMUstate state = fakeState;
  size_t size = 0;
  fmi2EventInfo eventInfo{};
  fmi2Boolean enterEventMode = fmi2False;
  fmi2Boolean terminate = fmi2False;
  fmi2Status status = fmi2OK;
  fmi2String text = nullptr;
};

// A call of one function with a null component and what it must answer: a status, or -1 for the
// functions that return no status.
struct NullCall {
  const char* name;
  std::function<int(const FmuLibrary&, Arguments&)> call;
  int expected;
};

constexpr fmi2Component none = nullptr;

const std::vector<NullCall>& nullCalls() {
  static const std::vector<NullCall> calls = {
      {"fmi2GetTypesPlatform", [](const FmuLibrary& u, Arguments&) { return u.fmi2GetTypesPlatform() ? -1 : 0; }, -1},
      {"fmi2GetVersion", [](const FmuLibrary& u, Arguments&) { return u.fmi2GetVersion() ? -1 : 0; }, -1},
      {"fmi2SetDebugLogging",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetDebugLogging(none, fmi2True, 1, a.strings); }, fmi2OK},
      // A null callback record is the instantiation's own null argument.
      {"fmi2Instantiate",
       [](const FmuLibrary& u, Arguments&) {
         return u.fmi2Instantiate("x", fmi2ModelExchange, "{}", "", nullptr, fmi2False, fmi2True) ? 0 : -1;
       },
       -1},
      {"fmi2FreeInstance", [](const FmuLibrary& u, Arguments&) { return u.fmi2FreeInstance(none), -1; }, -1},
      {"fmi2SetupExperiment",
       [](const FmuLibrary& u, Arguments&) { return u.fmi2SetupExperiment(none, fmi2True, 1e-4, 0, fmi2True, 1); },
       fmi2Warning},
      {"fmi2EnterInitializationMode", [](const FmuLibrary& u, Arguments&) { return u.fmi2EnterInitializationMode(none); },
       fmi2Warning},
      {"fmi2ExitInitializationMode", [](const FmuLibrary& u, Arguments&) { return u.fmi2ExitInitializationMode(none); },
       fmi2Warning},
      {"fmi2Terminate", [](const FmuLibrary& u, Arguments&) { return u.fmi2Terminate(none); }, fmi2Warning},
      {"fmi2Reset", [](const FmuLibrary& u, Arguments&) { return u.fmi2Reset(none); }, fmi2Warning},
      {"fmi2GetReal", [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetReal(none, a.vr, 1, a.reals); },
       fmi2Warning},
      {"fmi2GetInteger", [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetInteger(none, a.vr, 1, a.integers); },
       fmi2Warning},
      {"fmi2GetBoolean", [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetBoolean(none, a.vr, 1, a.booleans); },
       fmi2Warning},
      {"fmi2GetString", [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetString(none, a.vr, 1, a.strings); },
       fmi2Warning},
      {"fmi2SetReal", [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetReal(none, a.vr, 1, a.reals); },
       fmi2Warning},
      {"fmi2SetInteger", [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetInteger(none, a.vr, 1, a.integers); },
       fmi2Warning},
      {"fmi2SetBoolean", [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetBoolean(none, a.vr, 1, a.booleans); },
       fmi2Warning},
      {"fmi2SetString", [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetString(none, a.vr, 1, a.strings); },
       fmi2Warning},
      {"fmi2GetFMUstate", [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetFMUstate(none, &a.state); },
       fmi2Warning},
      {"fmi2SetFMUstate", [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetFMUstate(none, a.state); },
       fmi2Warning},
      {"fmi2FreeFMUstate", [](const FmuLibrary& u, Arguments& a) { return u.fmi2FreeFMUstate(none, &a.state); },
       fmi2Warning},
      {"fmi2SerializedFMUstateSize",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2SerializedFMUstateSize(none, a.state, &a.size); },
       fmi2Warning},
      {"fmi2SerializeFMUstate",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2SerializeFMUstate(none, a.state, a.bytes, sizeof a.bytes); },
       fmi2Warning},
      {"fmi2DeSerializeFMUstate",
       [](const FmuLibrary& u, Arguments& a) {
         return u.fmi2DeSerializeFMUstate(none, a.bytes, sizeof a.bytes, &a.state);
       },
       fmi2Warning},
      {"fmi2GetDirectionalDerivative",
       [](const FmuLibrary& u, Arguments& a) {
         return u.fmi2GetDirectionalDerivative(none, a.vr, 1, a.vr, 1, a.reals, a.reals + 1);
       },
       fmi2Warning},
      {"fmi2EnterEventMode", [](const FmuLibrary& u, Arguments&) { return u.fmi2EnterEventMode(none); }, fmi2Warning},
      {"fmi2NewDiscreteStates",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2NewDiscreteStates(none, &a.eventInfo); }, fmi2Warning},
      {"fmi2EnterContinuousTimeMode", [](const FmuLibrary& u, Arguments&) { return u.fmi2EnterContinuousTimeMode(none); },
       fmi2Warning},
      {"fmi2CompletedIntegratorStep",
       [](const FmuLibrary& u, Arguments& a) {
         return u.fmi2CompletedIntegratorStep(none, fmi2True, &a.enterEventMode, &a.terminate);
       },
       fmi2Warning},
      {"fmi2SetTime", [](const FmuLibrary& u, Arguments&) { return u.fmi2SetTime(none, 1.0); }, fmi2Warning},
      {"fmi2SetContinuousStates",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2SetContinuousStates(none, a.reals, 2); }, fmi2Warning},
      {"fmi2GetDerivatives", [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetDerivatives(none, a.reals, 2); },
       fmi2Warning},
      {"fmi2GetEventIndicators",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetEventIndicators(none, a.reals, 2); }, fmi2Warning},
      {"fmi2GetContinuousStates",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetContinuousStates(none, a.reals, 2); }, fmi2Warning},
      {"fmi2GetNominalsOfContinuousStates",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetNominalsOfContinuousStates(none, a.reals, 2); },
       fmi2Warning},
      {"fmi2SetRealInputDerivatives",
       [](const FmuLibrary& u, Arguments& a) {
         return u.fmi2SetRealInputDerivatives(none, a.vr, 1, a.integers, a.reals);
       },
       fmi2Warning},
      {"fmi2GetRealOutputDerivatives",
       [](const FmuLibrary& u, Arguments& a) {
         return u.fmi2GetRealOutputDerivatives(none, a.vr, 1, a.integers, a.reals);
       },
       fmi2Warning},
      {"fmi2DoStep", [](const FmuLibrary& u, Arguments&) { return u.fmi2DoStep(none, 0.0, 0.1, fmi2True); },
       fmi2Warning},
      // The asynchronous-step family answers a null component as it answers every call: discard.
      {"fmi2CancelStep", [](const FmuLibrary& u, Arguments&) { return u.fmi2CancelStep(none); }, fmi2Discard},
      {"fmi2GetStatus",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetStatus(none, fmi2DoStepStatus, &a.status); },
       fmi2Discard},
      {"fmi2GetRealStatus",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetRealStatus(none, fmi2LastSuccessfulTime, a.reals); },
       fmi2Discard},
      {"fmi2GetIntegerStatus",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetIntegerStatus(none, fmi2DoStepStatus, a.integers); },
       fmi2Discard},
      {"fmi2GetBooleanStatus",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetBooleanStatus(none, fmi2Terminated, a.booleans); },
       fmi2Discard},
      {"fmi2GetStringStatus",
       [](const FmuLibrary& u, Arguments& a) { return u.fmi2GetStringStatus(none, fmi2PendingStatus, &a.text); },
       fmi2Discard},
  };
  return calls;
}

TEST(NullInstance, TheTableHoldsEveryFunctionOnce) {
  std::vector<std::string> names;
  for (const NullCall& c : nullCalls()) names.push_back(c.name);
  std::sort(names.begin(), names.end());
  std::vector<std::string> all = allFmi2FunctionNames();
  std::sort(all.begin(), all.end());
  EXPECT_EQ(names, all);
}

TEST(NullInstance, EveryFunctionRefusesItWithoutTouchingItsArguments) {
  FmuLibrary unit;
  ASSERT_TRUE(unit.loaded()) << unit.error();
  resetHostAllocator();
  for (const NullCall& c : nullCalls()) {
    SCOPED_TRACE(c.name);
    Arguments arguments;
    const fmi2FMUstate handle = arguments.state;
    EXPECT_EQ(c.call(unit, arguments), c.expected);
    // The state handle is the host's: a call without its instance neither frees nor replaces it.
    EXPECT_EQ(arguments.state, handle);
    EXPECT_EQ(arguments.size, 0u);
  }
  EXPECT_EQ(hostAllocator().calls, 0);
}

}  // namespace
