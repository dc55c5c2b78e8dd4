// Co-Simulation driven through the sequences hosts use: start values and parameters set during
// Initialization Mode, a state taken and restored to repeat steps, the time moved from outside
// between steps, and steps at the edges of the time's range.
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "case_names.h"
#include "state_fixture.h"
#include "state_replay.h"

namespace {

constexpr double tolerance = 1e-8;
constexpr fmi2ValueReference timeSourceStartTime = model::parameter(14);

// filter.y with K = 1, T = 1, constant u from y0 at t0.
double filterSolution(double u, double y0, double t0, double t) { return u + (y0 - u) * std::exp(-(t - t0)); }

class HostSequences : public StateTest {
 protected:
  // An instance with consistent limits and a tight tolerance, still to be initialised.
  fmi2Component fresh(fmi2Type type, const char* name = "inst") {
    fmi2Component c = instantiate(type, name, fmi2False);
    consistentLimits(c);
    EXPECT_EQ(unit.fmi2SetupExperiment(c, type == fmi2CoSimulation, tolerance, 0.0, fmi2False, 0.0), fmi2OK);
    return c;
  }

  // A running Co-Simulation instance with filter.y from 0 under u = 1, the ramp starting at
  // rampStart (NaN: the model's 0).
  fmi2Component running(const char* name = "cs", double rampStart = NAN) {
    fmi2Component c = fresh(fmi2CoSimulation, name);
    if (!std::isnan(rampStart)) {
      EXPECT_EQ(set(c, timeSourceStartTime, rampStart), fmi2OK);
    }
    EXPECT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
    EXPECT_EQ(set(c, model::u, 1.0), fmi2OK);
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    host.clear();
    return c;
  }

  // filter.y after each of n steps of size h from t.
  std::vector<double> steps(fmi2Component c, double t, double h, int n) {
    std::vector<double> ys;
    for (int i = 0; i < n; ++i, t += h) {
      EXPECT_EQ(unit.fmi2DoStep(c, t, h, fmi2True), fmi2OK) << "at " << t;
      ys.push_back(get(c, model::filterY));
    }
    return ys;
  }
};

// ---- Values set during Initialization Mode ----------------------------------------------------

// filter.yStart := 0 and u := 3 set between enter- and exit-initialisation: Co-Simulation follows
// 3 (1 - e^-t) as Model Exchange does, not the start value the integrator was set up with.
TEST_F(HostSequences, StartValuesSetInInitializationModeReachTheIntegrator) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component cs = fresh(fmi2CoSimulation, "cs");
  fmi2Component me = fresh(fmi2ModelExchange, "me");
  ASSERT_EQ(set(cs, model::u, 2.0), fmi2OK);
  for (fmi2Component c : {cs, me}) {
    ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
    ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
    ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  }
  EXPECT_EQ(get(cs, model::filterY), 0.0);
  EXPECT_EQ(get(me, model::filterY), 0.0);
  const std::vector<double> ys = steps(cs, 0.0, 0.25, 8);
  for (size_t k = 0; k < ys.size(); ++k) EXPECT_NEAR(ys[k], filterSolution(3.0, 0.0, 0.0, 0.25 * (k + 1)), 1e-6) << k;
  // Model Exchange's derivative at the initial point agrees: the same initialisation.
  EXPECT_EQ(get(me, model::derFilterY), 3.0);
}

// The same values set in Initialization Mode, then both kinds run over [0, 2]: Co-Simulation with
// CVODE, Model Exchange with explicit Euler steps and its events handled by the host; both follow
// 3 (1 - e^(-t/T)), and each other. With and without a parameter (filter.T) set there too.
struct InitialisationCase {
  const char* name;
  double timeConstant;  // filter.T set in Initialization Mode (NaN: not, the model's 1)
};

void PrintTo(const InitialisationCase& c, std::ostream* os) { *os << c.name; }

class InitialisationValues : public HostSequences, public ::testing::WithParamInterface<InitialisationCase> {};

TEST_P(InitialisationValues, GiveTheSameTrajectoryInBothKindsAndTheSolution) {
  REQUIRE_EXPORTED(fmi2DoStep);
  const double timeConstant = std::isnan(GetParam().timeConstant) ? 1.0 : GetParam().timeConstant;
  fmi2Component cs = fresh(fmi2CoSimulation, "cs");
  fmi2Component me = fresh(fmi2ModelExchange, "me");
  for (fmi2Component c : {cs, me}) {
    ASSERT_EQ(set(c, model::u, 2.0), fmi2OK);
    ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
    ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
    if (!std::isnan(GetParam().timeConstant)) {
      ASSERT_EQ(set(c, model::filterT, GetParam().timeConstant), fmi2OK);
    }
    ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  }
  double nextEvent = INFINITY;
  ASSERT_TRUE(replay::eventIteration(unit, me, &nextEvent));
  // Explicit Euler's global error on this filter is about 3 (h/T) (t/T) e^(-t/T) / 2, at most
  // 3 h / (2 e T): 5.5e-5 for h = 5e-5 and T = 0.5. CVODE at the tolerance 1e-8 is well inside.
  constexpr double euler = 5e-5, interval = 0.25;
  std::vector<double> substeps;
  for (int k = 1; k <= 8; ++k) {
    const double t0 = interval * (k - 1), t1 = interval * k;
    SCOPED_TRACE(t1);
    ASSERT_EQ(unit.fmi2DoStep(cs, t0, interval, fmi2True), fmi2OK);
    ASSERT_TRUE(replay::runModelExchange(unit, me, t0, t1, euler, &nextEvent, &substeps));
    const double exact = 3.0 * (1.0 - std::exp(-t1 / timeConstant));
    const double ofCs = get(cs, model::filterY), ofMe = get(me, model::filterY);
    EXPECT_NEAR(ofCs, exact, 1e-6);
    EXPECT_NEAR(ofMe, exact, 1e-4);
    EXPECT_NEAR(ofCs, ofMe, 1e-4);
  }
  EXPECT_TRUE(textsAt(fmi2Error).empty());
}

INSTANTIATE_TEST_SUITE_P(Values, InitialisationValues,
                         ::testing::Values(InitialisationCase{"StartValue", NAN},
                                           InitialisationCase{"StartValueAndTimeConstant", 0.5}),
                         quenzel_test::CaseName{});

// A parameter set in Initialization Mode acts from the start too: filter.T := 0.5 halves the
// time constant.
TEST_F(HostSequences, AParameterSetInInitializationModeActsFromTheStart) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component c = fresh(fmi2CoSimulation);
  ASSERT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(set(c, model::filterT, 0.5), fmi2OK);
  ASSERT_EQ(set(c, model::u, 1.0), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  const std::vector<double> ys = steps(c, 0.0, 0.5, 4);
  for (size_t k = 0; k < ys.size(); ++k) EXPECT_NEAR(ys[k], 1.0 - std::exp(-(0.5 * (k + 1)) / 0.5), 1e-6) << k;
}

// ---- Get, step, set, step ---------------------------------------------------------------------

// Where the state is taken: the run then goes on from a restored state exactly as from the state
// itself, in the same instance and in a new one made from the state's image.
struct RepeatCase {
  const char* name;
  double before;     // stepped this far before the state is taken
  double alsoInput;  // u set just before the state is taken (NaN: not), an event at the point
  // timeSource.startTime (NaN: the model's 0): where the ramp starts, a time event, and so where
  // it passes greaterThreshold.threshold 1 one second later, a state event.
  double rampStart = NAN;
  double reachStep = 0.1;  // the steps that reach `before`
};

void PrintTo(const RepeatCase& c, std::ostream* os) { *os << c.name; }

class RepeatedSteps : public HostSequences, public ::testing::WithParamInterface<RepeatCase> {
 protected:
  static constexpr double h = 0.1;
  static constexpr int n = 25;

  // filter.y, limitedFilter.y and inputSwitch.y (which changes at the state event) after each of
  // n steps of h from t.
  std::vector<double> trajectory(fmi2Component c, double t) {
    std::vector<double> values;
    for (int i = 0; i < n; ++i, t += h) {
      EXPECT_EQ(unit.fmi2DoStep(c, t, h, fmi2True), fmi2OK) << "at " << t;
      for (fmi2ValueReference vr : {model::filterY, model::limitedFilterY, model::inputSwitchY})
        values.push_back(get(c, vr));
    }
    return values;
  }

  // The instance at the state's point, with the state taken and the run after it.
  fmi2Component atState(fmi2FMUstate* state, std::vector<double>* after) {
    const RepeatCase& p = GetParam();
    fmi2Component c = running("cs", p.rampStart);
    if (p.before > 0.0) steps(c, 0.0, p.reachStep, static_cast<int>(std::lround(p.before / p.reachStep)));
    if (!std::isnan(p.alsoInput)) {
      EXPECT_EQ(set(c, model::u, p.alsoInput), fmi2OK);
    }
    const double switchAtState = get(c, model::inputSwitchY);
    EXPECT_EQ(unit.fmi2GetFMUstate(c, state), fmi2OK);
    *after = trajectory(c, p.before);
    if (!std::isnan(p.rampStart) && p.before <= p.rampStart + 1.0) {
      // The run after the state passes the state event: the switch turns from its alternative
      // to u.
      EXPECT_EQ(switchAtState, 1500.0);
      EXPECT_EQ(after->back(), 1.0);
    }
    return c;
  }
};

TEST_P(RepeatedSteps, InTheSameInstanceBitForBit) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2FMUstate state = nullptr;
  std::vector<double> first;
  fmi2Component c = atState(&state, &first);
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_EQ(trajectory(c, GetParam().before), first);
  // And again: the state is left as it was.
  ASSERT_EQ(unit.fmi2SetFMUstate(c, state), fmi2OK);
  EXPECT_EQ(trajectory(c, GetParam().before), first);
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
}

TEST_P(RepeatedSteps, InANewInstanceFromTheImageBitForBit) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2FMUstate state = nullptr;
  std::vector<double> first;
  fmi2Component c = atState(&state, &first);
  const std::vector<char> image = serialize(c, state);

  for (bool initialised : {true, false}) {
    SCOPED_TRACE(initialised ? "initialised before the restore" : "never initialised");
    fmi2Component other = fresh(fmi2CoSimulation, "other");
    if (initialised) {
      ASSERT_EQ(unit.fmi2EnterInitializationMode(other), fmi2OK);
      ASSERT_EQ(unit.fmi2ExitInitializationMode(other), fmi2OK);
      steps(other, 0.0, 0.3, 3);
    }
    fmi2FMUstate copy = nullptr;
    ASSERT_EQ(unit.fmi2DeSerializeFMUstate(other, image.data(), image.size(), &copy), fmi2OK);
    ASSERT_EQ(unit.fmi2SetFMUstate(other, copy), fmi2OK);
    EXPECT_EQ(trajectory(other, GetParam().before), first);
    EXPECT_EQ(unit.fmi2FreeFMUstate(other, &copy), fmi2OK);
    release(other);
  }
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
}

INSTANTIATE_TEST_SUITE_P(Points, RepeatedSteps,
                         ::testing::Values(RepeatCase{"AtTheStart", 0.0, NAN},
                                           RepeatCase{"InsideAStretch", 1.0, NAN},
                                           RepeatCase{"AtAnInputEvent", 1.0, 2.5},
                                           // The ramp starts at 2, exactly where the state is taken.
                                           RepeatCase{"AtTheTimeEvent", 2.0, NAN, 2.0, 0.5},
                                           // At 3 the ramp is exactly at the threshold; the
                                           // relation turns true just after it.
                                           RepeatCase{"AtTheStateEvent", 3.0, NAN, 2.0, 0.5},
                                           // The last step before the state, 2.4375 -> 3.25,
                                           // located and handled the state event.
                                           RepeatCase{"AfterAStepOverTheStateEvent", 3.25, NAN, 2.0, 0.8125}),
                         quenzel_test::CaseName{});

// A state refreshed in place before every step (as a host that may repeat any step does) keeps
// the run on its solution at a tight tolerance and steps of 0.1. Each state restarts CVODE, so
// at looser tolerances and shorter steps such a run is less accurate than one without states, as
// bare CVODE restarted every step is (the scenario tests hold the two side by side).
TEST_F(HostSequences, AStateTakenBeforeEveryStepKeepsTheRunOnItsSolution) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component c = running();
  fmi2FMUstate state = nullptr;
  double t = 0.0;
  for (int i = 0; i < 40; ++i, t += 0.1) {
    ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    ASSERT_EQ(unit.fmi2DoStep(c, t, 0.1, fmi2True), fmi2OK);
  }
  EXPECT_NEAR(get(c, model::filterY), filterSolution(1.0, 0.0, 0.0, 4.0), 1e-6);
  EXPECT_EQ(unit.fmi2FreeFMUstate(c, &state), fmi2OK);
}

// ---- Time moved from outside --------------------------------------------------------------------

// After 0 -> 0.5, the host moves the time; the next steps integrate from the states at 0.5 from
// the new time on (the filter is autonomous under constant u, so the solution is the same curve
// shifted).
struct MoveCase {
  const char* name;
  bool throughSetupExperiment;  // else fmi2SetTime
  double to;
};

void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

class TimeMoves : public HostSequences, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(TimeMoves, TheNextStepsStartAtTheNewTime) {
  REQUIRE_EXPORTED(fmi2DoStep);
  const MoveCase& m = GetParam();
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  const double atMove = get(c, model::filterY);
  fmi2Status moved = m.throughSetupExperiment
                         ? unit.fmi2SetupExperiment(c, fmi2True, tolerance, m.to, fmi2False, 0.0)
                         : unit.fmi2SetTime(c, m.to);
  ASSERT_EQ(moved, fmi2OK);
  EXPECT_EQ(lastTime(c), m.to);
  double t = m.to;
  for (int i = 0; i < 4; ++i, t += 0.5) {
    ASSERT_EQ(unit.fmi2DoStep(c, t, 0.5, fmi2True), fmi2OK) << t;
    EXPECT_NEAR(get(c, model::filterY), filterSolution(1.0, atMove, m.to, t + 0.5), 1e-6) << t;
  }
  EXPECT_TRUE(textsAt(fmi2Error).empty());
}

INSTANTIATE_TEST_SUITE_P(Moves, TimeMoves,
                         ::testing::Values(MoveCase{"SetTimeForward", false, 1.0},
                                           MoveCase{"SetTimeBackward", false, 0.25},
                                           MoveCase{"SetupExperimentForward", true, 1.0},
                                           MoveCase{"SetupExperimentBackward", true, 0.0}),
                         quenzel_test::CaseName{});

// Non-finite times, and tolerances declared defined, are refused naming the argument, and change
// nothing: the instance steps on from where it was.
struct BadTime {
  const char* name;
  bool throughSetupExperiment;
  double tolerance, start;
  fmi2Boolean stopDefined;
  double stop;
  const char* message;
  fmi2Boolean toleranceDefined = fmi2False;
};

void PrintTo(const BadTime& c, std::ostream* os) { *os << c.name; }

class NonFiniteTimes : public HostSequences, public ::testing::WithParamInterface<BadTime> {};

TEST_P(NonFiniteTimes, AreRefusedAndChangeNothing) {
  REQUIRE_EXPORTED(fmi2DoStep);
  const BadTime& b = GetParam();
  for (fmi2Type type : {fmi2CoSimulation, fmi2ModelExchange}) {
    SCOPED_TRACE(kindName(type));
    fmi2Component c = instantiate(type, "inst", fmi2True);
    consistentLimits(c);
    ASSERT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2True, 2.0), fmi2OK);
    host.clear();
    fmi2Status status = b.throughSetupExperiment
                            ? unit.fmi2SetupExperiment(c, b.toleranceDefined, b.tolerance, b.start, b.stopDefined, b.stop)
                            : unit.fmi2SetTime(c, b.start);
    EXPECT_EQ(status, fmi2Warning);
    EXPECT_EQ(host.texts(), std::vector<std::string>{b.message});
    // Unchanged: the start time and the stop time hold for the initialisation and the steps.
    ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    if (type == fmi2CoSimulation) {
      EXPECT_EQ(lastTime(c), 0.0);
      EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 2.0, fmi2True), fmi2OK);
      EXPECT_EQ(unit.fmi2DoStep(c, 2.0, 0.5, fmi2True), fmi2Warning) << "the stop time still holds";
    }
    release(c);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, NonFiniteTimes,
    ::testing::Values(
        BadTime{"NaNStart", true, tolerance, NAN, fmi2False, 0.0, "fmi2SetupExperiment: startTime = nan is not a finite number"},
        BadTime{"InfiniteStart", true, tolerance, -INFINITY, fmi2False, 0.0,
                "fmi2SetupExperiment: startTime = -inf is not a finite number"},
        BadTime{"NaNStop", true, tolerance, 0.0, fmi2True, NAN, "fmi2SetupExperiment: stopTime = nan is not a finite number"},
        BadTime{"InfiniteStop", true, tolerance, 0.0, fmi2True, INFINITY,
                "fmi2SetupExperiment: stopTime = inf is not a finite number"},
        BadTime{"NaNTolerance", true, NAN, 0.0, fmi2False, 0.0,
                "fmi2SetupExperiment: tolerance = nan is not a finite number", fmi2True},
        BadTime{"InfiniteTolerance", true, INFINITY, 0.0, fmi2False, 0.0,
                "fmi2SetupExperiment: tolerance = inf is not a finite number", fmi2True},
        BadTime{"NaNSetTime", false, tolerance, NAN, fmi2False, 0.0, "fmi2SetTime: time = nan is not a finite number"},
        BadTime{"InfiniteSetTime", false, tolerance, INFINITY, fmi2False, 0.0,
                "fmi2SetTime: time = inf is not a finite number"}),
    quenzel_test::CaseName{});

// A tolerance that is not declared defined and is not finite is whatever the host had in the
// variable: it means the integrator's default, as a tolerance <= 0 does, and the call goes on
// with the start time set, in both kinds. A Co-Simulation run then steps exactly as one given
// the tolerance 0.
struct UndeclaredTolerance {
  const char* name;
  double tolerance;
};

void PrintTo(const UndeclaredTolerance& c, std::ostream* os) { *os << c.name; }

class UndeclaredTolerances : public HostSequences, public ::testing::WithParamInterface<UndeclaredTolerance> {
 protected:
  // An instance set up with the given undeclared tolerance and start time 1.5, initialised; the
  // texts of the set-up call in *texts.
  fmi2Component setUp(fmi2Type type, const char* name, double tolerance, std::vector<std::string>* texts) {
    fmi2Component c = instantiate(type, name, fmi2True);
    consistentLimits(c);
    EXPECT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
    EXPECT_EQ(set(c, model::u, 3.0), fmi2OK);
    host.clear();
    EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, tolerance, 1.5, fmi2False, 0.0), fmi2OK);
    *texts = host.texts();
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    // The ramp from 0 shows the time the instance starts at.
    EXPECT_EQ(get(c, model::timeSourceY), 1.5);
    if (type == fmi2CoSimulation) {
      EXPECT_EQ(lastTime(c), 1.5);
    }
    return c;
  }
};

TEST_P(UndeclaredTolerances, MeanTheDefaultAndTheCallGoesOn) {
  REQUIRE_EXPORTED(fmi2DoStep);
  for (fmi2Type type : {fmi2CoSimulation, fmi2ModelExchange}) {
    SCOPED_TRACE(kindName(type));
    std::vector<std::string> texts;
    fmi2Component c = setUp(type, "inst", GetParam().tolerance, &texts);
    EXPECT_EQ(texts, std::vector<std::string>{"fmi2SetupExperiment: startTime is set to 1.5"});
    if (type == fmi2CoSimulation) {
      fmi2Component reference = setUp(type, "reference", 0.0, &texts);
      for (double t = 1.5; t < 2.5; t += 0.25) {
        ASSERT_EQ(unit.fmi2DoStep(c, t, 0.25, fmi2True), fmi2OK) << t;
        ASSERT_EQ(unit.fmi2DoStep(reference, t, 0.25, fmi2True), fmi2OK) << t;
        EXPECT_EQ(get(c, model::filterY), get(reference, model::filterY)) << t;
      }
      // At the default tolerance 1e-5, near the solution from 0 at 1.5.
      EXPECT_NEAR(get(c, model::filterY), filterSolution(3.0, 0.0, 1.5, 2.5), 1e-4);
      release(reference);
    }
    EXPECT_TRUE(textsAt(fmi2Error).empty());
    release(c);
  }
}

INSTANTIATE_TEST_SUITE_P(Values, UndeclaredTolerances,
                         ::testing::Values(UndeclaredTolerance{"NaN", NAN}, UndeclaredTolerance{"Infinite", INFINITY},
                                           UndeclaredTolerance{"MinusInfinite", -INFINITY}),
                         quenzel_test::CaseName{});

// A stop time that is not declared defined is not looked at, whatever its value.
TEST_F(HostSequences, AnUndefinedStopTimeIsNotChecked) {
  fmi2Component c = instantiate(fmi2CoSimulation, "inst", fmi2True);
  host.clear();
  EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, INFINITY), fmi2OK);
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
}

// ---- Steps at the edges of the time's range -------------------------------------------------------

// Each step returns promptly with a defined status, and the instance answers afterwards.
struct EdgeStep {
  const char* name;
  double from;  // stepped there first (0: not)
  double step;
  fmi2Status status;
  double timeAfter;  // NaN: not checked
  double u = 0.0;    // 0: both filters at rest at 0; else moving towards u
};

void PrintTo(const EdgeStep& c, std::ostream* os) { *os << c.name; }

class EdgeSteps : public HostSequences, public ::testing::WithParamInterface<EdgeStep> {};

TEST_P(EdgeSteps, ReturnPromptly) {
  REQUIRE_EXPORTED(fmi2DoStep);
  const EdgeStep& e = GetParam();
  fmi2Component c = instantiate(fmi2CoSimulation, "cs", fmi2True);
  consistentLimits(c);
  // Both filters from 0; at rest under u = 0, so that CVODE can take steps of any size.
  ASSERT_EQ(set(c, model::u, e.u), fmi2OK);
  ASSERT_EQ(set(c, model::filterYStart, 0.0), fmi2OK);
  ASSERT_EQ(set(c, model::limitedFilterYStart, 0.0), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  if (e.from > 0.0) {
    ASSERT_EQ(unit.fmi2DoStep(c, 0.0, e.from, fmi2True), fmi2OK);
  }
  host.clear();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(unit.fmi2DoStep(c, e.from, e.step, fmi2True), e.status);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_LT(host.log.size(), 2000u) << "no message repeated without end";
  if (e.status == fmi2Error) {
    EXPECT_TRUE(host.contains("fmi2DoStep: integration_step failed"));
  }
  if (!std::isnan(e.timeAfter)) {
    EXPECT_EQ(lastTime(c), e.timeAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, EdgeSteps,
    ::testing::Values(EdgeStep{"To1e120", 0.0, 1e120, fmi2OK, 1e120},
                      EdgeStep{"To1e300", 0.0, 1e300, fmi2Error, NAN},
                      EdgeStep{"To1e200", 0.0, 1e200, fmi2Error, NAN},
                      EdgeStep{"OfTheSmallestDouble", 0.0, 5e-324, fmi2Error, NAN},
                      EdgeStep{"OfTheSmallestDoubleMoving", 0.0, 5e-324, fmi2Error, NAN, 1.0},
                      // 1 + 1e-300 is 1: a step of size 0, only the event iteration.
                      EdgeStep{"OfTenToTheMinus300AtOne", 1.0, 1e-300, fmi2OK, 1.0}),
    quenzel_test::CaseName{});

// The step of size 0 in floating point is the event iteration at the point: an input set before
// it reaches the outputs, and nothing is integrated.
TEST_F(HostSequences, AStepBelowTheTimesResolutionIsTheEventIteration) {
  REQUIRE_EXPORTED(fmi2DoStep);
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
  const double x = get(c, model::stored(model::filterY));
  ASSERT_EQ(set(c, model::outputSelector, 1.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, 0.25), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0, 1e-300, fmi2True), fmi2OK);
  EXPECT_EQ(lastTime(c), 1.0);
  EXPECT_EQ(get(c, model::stored(model::filterY)), x);
  EXPECT_EQ(get(c, model::stored(model::y)), 0.25);
}

}  // namespace
