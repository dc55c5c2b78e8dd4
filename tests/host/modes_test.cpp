// Which call is accepted in which mode: a refusal is an fmi2Warning with its text and leaves the
// mode as it was; an accepted call leads to its mode.
#include <string>
#include <vector>

#include "case_names.h"
#include "unit_fixture.h"

namespace {

enum Call { enterInit, exitInit, terminate, getReal, getInteger, getBoolean, getString };

const char* callName(Call call) {
  switch (call) {
    case enterInit:
      return "EnterInitializationMode";
    case exitInit:
      return "ExitInitializationMode";
    case terminate:
      return "Terminate";
    case getReal:
      return "GetReal";
    case getInteger:
      return "GetInteger";
    case getBoolean:
      return "GetBoolean";
    case getString:
      return "GetString";
  }
  return "?";
}

struct ModeCase {
  fmi2Type type;
  StartMode start;
  Call call;
  fmi2Status status;
  std::string refusal;  // the warning's text; empty when the call is accepted
  int modeAfter;
  std::string name = "";  // the kind, the start mode and the call, given once the table is made
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class ModeTable : public UnitTest, public ::testing::WithParamInterface<ModeCase> {
 protected:
  fmi2Status run(fmi2Component c, Call call) {
    fmi2ValueReference vr = model::u;
    double real = 0.0;
    int integer = 0;
    fmi2String text = nullptr;
    switch (call) {
      case enterInit:
        return unit.fmi2EnterInitializationMode(c);
      case exitInit:
        return unit.fmi2ExitInitializationMode(c);
      case terminate:
        return unit.fmi2Terminate(c);
      case getReal:
        return unit.fmi2GetReal(c, &vr, 1, &real);
      case getInteger:
        return unit.fmi2GetInteger(c, &vr, 1, &integer);
      case getBoolean:
        return unit.fmi2GetBoolean(c, &vr, 1, &integer);
      case getString:
        return unit.fmi2GetString(c, &vr, 0, &text);
    }
    return fmi2Fatal;
  }
};

TEST_P(ModeTable, RefusesWithAWarningOrLeadsToItsMode) {
  const ModeCase& c = GetParam();
  fmi2Component comp = startIn(c.type, c.start);
  ASSERT_NE(comp, nullptr);
  EXPECT_EQ(run(comp, c.call), c.status);
  std::vector<std::string> warnings = textsAt(fmi2Warning);
  if (c.refusal.empty()) {
    EXPECT_TRUE(warnings.empty()) << warnings.front();
  } else {
    EXPECT_EQ(warnings, std::vector<std::string>{c.refusal});
  }
  if (!textsAt(fmi2Error).empty())
    for (const LogRecord& r : host.log) ADD_FAILURE() << r.status << ": " << r.text;
  EXPECT_EQ(probeMode(comp), c.modeAfter);
}

const char* const getterRefusal = ": Not allowed before call of fmi2EnterInitializationMode";

std::vector<ModeCase> modeCases() {
  std::vector<ModeCase> cases;
  for (fmi2Type type : {fmi2ModelExchange, fmi2CoSimulation}) {
    const bool cs = type == fmi2CoSimulation;
    const int running = cs ? 6 : 3;
    const std::string exitName = cs ? "fmiExitInitializationMode" : "fmi2ExitInitializationMode";
    const std::string exitRefusal = exitName + ": may only called in initialization mode";
    const int modeOf[] = {0, 1, running, 7};
    const StartMode starts[] = {startInstantiated, startInitialization, startRunning, startTerminated};
    const char* const startNames[] = {"Instantiated", "Initialisation", "Running", "Terminated"};
    const size_t first = cases.size();
    for (int s = 0; s < 4; ++s) {
      StartMode start = starts[s];
      int mode = modeOf[s];
      std::string state = "model cannot be initialized in current state(" + std::to_string(mode) + ")";
      if (start == startInstantiated) {
        cases.push_back({type, start, enterInit, fmi2OK, "", 1});
        cases.push_back({type, start, exitInit, fmi2Warning, exitRefusal, 0});
        cases.push_back({type, start, getReal, fmi2Warning, std::string("fmiGetReal") + getterRefusal, 0});
        cases.push_back({type, start, getInteger, fmi2Warning, std::string("fmiGetInteger") + getterRefusal, 0});
        cases.push_back({type, start, getBoolean, fmi2Warning, std::string("fmiGetBoolean") + getterRefusal, 0});
        cases.push_back({type, start, getString, fmi2Warning, std::string("fmi2GetString") + getterRefusal, 0});
      } else {
        cases.push_back({type, start, enterInit, fmi2Warning, state, mode});
        cases.push_back({type, start, exitInit, start == startInitialization ? fmi2OK : fmi2Warning,
                         start == startInitialization ? "" : exitRefusal,
                         start == startInitialization ? running : mode});
        for (Call getter : {getReal, getInteger, getBoolean, getString})
          cases.push_back({type, start, getter, fmi2OK, "", mode});
      }
      cases.push_back({type, start, terminate, start == startTerminated ? fmi2Warning : fmi2OK,
                       start == startTerminated ? "fmi2Terminate: already terminated, ignoring call" : "", 7});
    }
    for (size_t i = first; i < cases.size(); ++i)
      cases[i].name = std::string(kindName(type)) + " " + startNames[cases[i].start] + " " + callName(cases[i].call);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Calls, ModeTable, ::testing::ValuesIn(modeCases()), quenzel_test::CaseName{});

using Modes = UnitTest;

// The Co-Simulation initialisation sets the time to the start time first; a refused one does not
// (a running instance keeps its time), so the refusal is all the host hears.
TEST_F(Modes, ARefusedCoSimulationInitialisationDoesNotSetTheTime) {
  for (StartMode start : {startInitialization, startRunning, startTerminated}) {
    fmi2Component c = startIn(fmi2CoSimulation, start);
    ASSERT_NE(c, nullptr);
    int mode = start == startInitialization ? 1 : start == startRunning ? 6 : 7;
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Warning);
    EXPECT_EQ(host.texts(), (std::vector<std::string>{
                                "fmi2EnterInitializationMode...",
                                "model cannot be initialized in current state(" + std::to_string(mode) + ")"}));
    host.clear();
  }
}

TEST_F(Modes, NullComponentsAreRefused) {
  EXPECT_EQ(unit.fmi2EnterInitializationMode(nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2ExitInitializationMode(nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2Terminate(nullptr), fmi2Warning);
}

}  // namespace
