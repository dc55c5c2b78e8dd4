// Co-Simulation of the model through fmi2DoStep against the filters' known solutions, with the
// time event of the ramp and the state event of the threshold handled inside the steps that
// contain them.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "bare_cvode.h"
#include "case_names.h"
#include "unit_fixture.h"

namespace {

constexpr fmi2ValueReference timeSourceStartTime = model::parameter(14);

class CoSimScenario : public UnitTest {
 protected:
  // The default scenario: both lower limits -1, the ramp starting at 2, the switch as output
  // (1500 until the ramp passes the threshold 1 at t = 3, then u).
  fmi2Component defaultScenario(double tolerance = 1e-6) {
    fmi2Component c = instantiate(fmi2CoSimulation, "cs", fmi2False);
    EXPECT_EQ(set(c, model::limiterUMin, -1.0), fmi2OK);
    EXPECT_EQ(set(c, model::limiter1UMin, -1.0), fmi2OK);
    EXPECT_EQ(set(c, timeSourceStartTime, 2.0), fmi2OK);
    EXPECT_EQ(set(c, model::outputSelector, 2.0), fmi2OK);
    EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2True, tolerance, 0.0, fmi2False, 0.0), fmi2OK);
    return c;
  }

  void initialise(fmi2Component c) {
    ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  }

  // Steps of size h from t until end; stops at the first status other than fmi2OK.
  fmi2Status stepTo(fmi2Component c, double* t, double h, double end) {
    while (*t < end - 1e-12) {
      fmi2Status status = unit.fmi2DoStep(c, *t, h, fmi2True);
      if (status != fmi2OK) return status;
      *t += h;
    }
    return fmi2OK;
  }
};

// A host that takes a state before every step, as one does that may have to repeat any step.
// Taking a Co-Simulation state restarts CVODE there, so such a run has a restart per step and is
// as accurate as any CVODE run restarted every step, not as one that is not: over [0, 4] with
// u = 3 the largest error of filter.y = 3 - 2 e^-t stays close to that of the bare CVODE loop on
// the same equations, restarted before each of its steps too. Without states both follow the
// bare loop that is never restarted (at the ramp's events only).
struct EveryStepCase {
  const char* name;
  double step;
  bool takeStates;
};

void PrintTo(const EveryStepCase& c, std::ostream* os) { *os << c.name; }

class StateEveryStep : public CoSimScenario, public ::testing::WithParamInterface<EveryStepCase> {};

TEST_P(StateEveryStep, IsAsAccurateAsCvodeRestartedEveryStep) {
  const EveryStepCase& p = GetParam();
  constexpr double u = 3.0, tolerance = 1e-6, end = 4.0;
  const int steps = static_cast<int>(std::lround(end / p.step));
  auto exact = [](double t) { return u - (u - 1.0) * std::exp(-t); };

  fmi2Component c = defaultScenario(tolerance);
  ASSERT_EQ(set(c, model::u, u), fmi2OK);
  initialise(c);
  fmi2FMUstate state = nullptr;
  double unitError = 0.0, t = 0.0;
  for (int i = 0; i < steps; ++i, t += p.step) {
    if (p.takeStates) {
      ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK) << t;
    }
    ASSERT_EQ(unit.fmi2DoStep(c, t, p.step, fmi2True), fmi2OK) << t;
    unitError = std::max(unitError, std::fabs(get(c, model::filterY) - exact(t + p.step)));
  }
  EXPECT_EQ(get(c, model::y), u) << "the state event has switched the output";
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);

  bare::Loop loop;
  ASSERT_EQ(bare::loopCreate(&loop, u, tolerance), 0);
  double bareError = 0.0;
  t = 0.0;
  for (int i = 0; i < steps; ++i, t += p.step) {
    ASSERT_EQ(bare::loopStep(&loop, t + p.step, p.takeStates), 0) << t;
    bareError = std::max(bareError, std::fabs(bare::loopState(&loop, 0) - exact(t + p.step)));
  }
  bare::loopFree(&loop);
  RecordProperty("unitError", std::to_string(unitError));
  RecordProperty("bareError", std::to_string(bareError));
  EXPECT_LE(unitError, 1.25 * bareError + 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Runs, StateEveryStep,
                         ::testing::Values(EveryStepCase{"WithoutStatesSteps10ms", 0.01, false},
                                           EveryStepCase{"WithoutStatesSteps1ms", 0.001, false},
                                           EveryStepCase{"StateEvery10ms", 0.01, true},
                                           EveryStepCase{"StateEvery1ms", 0.001, true}),
                         quenzel_test::CaseName{});

// CVODE's first derivatives after a restart are those the step's own evaluation computed at the
// same time and states. A run that takes a state before every step (a restart per step) agrees
// bit for bit with the same run whose host has the model evaluate everything before each step,
// so that the step does not evaluate and CVODE's first derivatives come from a fresh evaluation.
TEST_F(CoSimScenario, FirstDerivativesAfterARestartAgreeWithAFreshEvaluation) {
  constexpr double step = 0.001, end = 4.0;
  const int steps = static_cast<int>(std::lround(end / step));
  auto run = [&](bool evaluateFirst, std::vector<double>* values) {
    fmi2Component c = defaultScenario(1e-6);
    ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
    initialise(c);
    fmi2FMUstate state = nullptr;
    double t = 0.0;
    for (int i = 0; i < steps; ++i, t += step) {
      ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK) << t;
      if (evaluateFirst) get(c, model::atLevel(model::timeSourceY, 3));
      ASSERT_EQ(unit.fmi2DoStep(c, t, step, fmi2True), fmi2OK) << t;
      values->push_back(get(c, model::stored(model::filterY)));
      values->push_back(get(c, model::stored(model::limitedFilterY)));
    }
    EXPECT_EQ(get(c, model::y), 3.0) << "the state event has switched the output";
    EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
  };
  std::vector<double> own, fresh;
  run(false, &own);
  run(true, &fresh);
  ASSERT_EQ(own.size(), fresh.size());
  for (size_t i = 0; i < own.size(); ++i) ASSERT_EQ(own[i], fresh[i]) << "step " << i / 2 << ", state " << i % 2;
}

// Filters starting from 0 with u = 2: filter.y = 2 (1 - e^-t); limiter1 clips u to 1, so
// limitedFilter.y = 1 - e^-t. The limiter relations never cross, the ramp's events come and
// go inside the steps.
TEST_F(CoSimScenario, FiltersFollowTheirSolution) {
  fmi2Component c = defaultScenario();
  ASSERT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
  ASSERT_EQ(set(c, model::limitedFilterYStart, 0.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, 2.0), fmi2OK);
  initialise(c);
  double t = 0.0;
  for (double end : {0.5, 1.0, 2.5, 3.7, 6.0}) {
    ASSERT_EQ(stepTo(c, &t, 0.1, end), fmi2OK);
    SCOPED_TRACE("t = " + std::to_string(t));
    EXPECT_NEAR(get(c, model::filterY), 2.0 * (1.0 - std::exp(-t)), 2e-5);
    EXPECT_NEAR(get(c, model::limitedFilterY), 1.0 - std::exp(-t), 2e-5);
    EXPECT_NEAR(get(c, model::derFilterY), 2.0 * std::exp(-t), 5e-5);
  }
  fmi2Real last = NAN;
  ASSERT_EQ(unit.fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &last), fmi2OK);
  EXPECT_NEAR(last, 6.0, 1e-12);
}

// The default scenario itself: u = 1 and both filters at their start value 1 stay there; y is
// 1500 until the state event near 3 and u after, with the ramp switched on by the time event at
// 2. Steps of 0.3 put both events inside steps (2 in [1.8, 2.1], 3 in [2.7, 3.0] within the
// hysteresis, or in [3.0, 3.3]).
TEST_F(CoSimScenario, DefaultScenarioSwitchesAtTheStateEvent) {
  fmi2Component c = defaultScenario();
  initialise(c);
  double t = 0.0;
  const double h = 0.3;
  bool switched = false;
  while (t < 4.5 - 1e-9) {
    ASSERT_EQ(unit.fmi2DoStep(c, t, h, fmi2True), fmi2OK) << "at t = " << t;
    t += h;
    SCOPED_TRACE("t = " + std::to_string(t));
    EXPECT_NEAR(get(c, model::filterY), 1.0, 1e-9);
    EXPECT_NEAR(get(c, model::limitedFilterY), 1.0, 1e-9);
    double ramp = get(c, model::timeSourceY);
    EXPECT_NEAR(ramp, t > 2.0 ? t - 2.0 : 0.0, 1e-9);
    double y = get(c, model::y);
    if (t < 2.95) {
      EXPECT_EQ(y, 1500.0);
    } else if (t > 3.05) {
      EXPECT_EQ(y, 1.0);
    }
    switched = switched || y == 1.0;
  }
  EXPECT_TRUE(switched);
}

// A coarse step over both events ends exactly where it should, with the state as after fine
// steps.
TEST_F(CoSimScenario, OneStepOverBothEventsMatchesFineSteps) {
  fmi2Component coarse = defaultScenario();
  ASSERT_EQ(set(coarse, model::u, 0.5), fmi2OK);
  initialise(coarse);
  fmi2Component fine = defaultScenario();
  ASSERT_EQ(set(fine, model::u, 0.5), fmi2OK);
  initialise(fine);

  ASSERT_EQ(unit.fmi2DoStep(coarse, 0.0, 4.0, fmi2True), fmi2OK);
  double t = 0.0;
  ASSERT_EQ(stepTo(fine, &t, 0.001, 4.0), fmi2OK);
  for (fmi2ValueReference vr : {model::filterY, model::limitedFilterY, model::y, model::timeSourceY}) {
    SCOPED_TRACE(vr);
    EXPECT_NEAR(get(coarse, vr), get(fine, vr), 1e-4);
  }
  // u = 0.5 from y = 1: filter.y = 0.5 + 0.5 e^-t.
  EXPECT_NEAR(get(coarse, model::filterY), 0.5 + 0.5 * std::exp(-4.0), 1e-5);
  EXPECT_EQ(get(coarse, model::y), 0.5);
  fmi2Real last = NAN;
  ASSERT_EQ(unit.fmi2GetRealStatus(coarse, fmi2LastSuccessfulTime, &last), fmi2OK);
  EXPECT_EQ(last, 4.0);
}

// A time event that falls exactly on the step's end is handled within that step: the ramp runs
// right after it.
TEST_F(CoSimScenario, TimeEventAtTheStepEndIsHandledInThatStep) {
  fmi2Component c = defaultScenario();
  initialise(c);
  auto timeUpdates = [&] {
    std::vector<std::string> times;
    for (const std::string& text : host.texts())
      if (text.rfind("fmi2SetTime", 0) == 0) times.push_back(text);
    host.clear();
    return times;
  };
  ASSERT_EQ(unit.fmi2SetDebugLogging(c, fmi2True, 0, nullptr), fmi2OK);
  host.clear();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 2.0, fmi2True), fmi2OK);
  // The end of the integration, then the event's iteration at the same time.
  EXPECT_EQ(timeUpdates(), (std::vector<std::string>{"fmi2SetTime to 2", "fmi2SetTime to 2"}));
  EXPECT_EQ(get(c, model::timeSourceY), 0.0);
  ASSERT_EQ(unit.fmi2DoStep(c, 2.0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(timeUpdates(), std::vector<std::string>{"fmi2SetTime to 2.5"}) << "no event left for the next step";
  EXPECT_NEAR(get(c, model::timeSourceY), 0.5, 1e-12);
}

// Setting an input before a step runs the event iteration at the communication point: the
// filter sees the new input from the point on.
TEST_F(CoSimScenario, InputSetBeforeAStepActsFromThePoint) {
  fmi2Component c = defaultScenario();
  initialise(c);
  double t = 0.0;
  ASSERT_EQ(stepTo(c, &t, 0.25, 1.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
  ASSERT_EQ(stepTo(c, &t, 0.25, 2.0), fmi2OK);
  // From 1 at t = 1 towards 3: 3 - 2 e^-(t-1).
  EXPECT_NEAR(get(c, model::filterY), 3.0 - 2.0 * std::exp(-1.0), 2e-5);
  // limiter1 clips 3 to 1: the limited filter stays at 1.
  EXPECT_NEAR(get(c, model::limitedFilterY), 1.0, 1e-9);
}

}  // namespace
