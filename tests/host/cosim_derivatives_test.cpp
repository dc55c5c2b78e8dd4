// Input derivatives extrapolate the inputs over the next step; output derivatives are estimated
// from the outputs before the last integration call.
#include <cmath>
#include <string>

#include "case_names.h"
#include "unit_fixture.h"

namespace {

constexpr fmi2ValueReference limiterUMax = model::parameter(4);
constexpr fmi2ValueReference limiter1UMax = model::parameter(6);
constexpr fmi2ValueReference timeSourceStartTime = model::parameter(14);
constexpr fmi2Integer firstOrder = 1;

class CoSimDerivatives : public UnitTest {
 protected:
  // Limits far away, so that no relation crosses while u moves; the ramp starts late. Both
  // filters start at filterStart (1: at rest) with u = 1.
  fmi2Component running(double startTime = 0.0, double outputSelector = 3.0, double filterStart = 1.0) {
    fmi2Component c = instantiate(fmi2CoSimulation);
    EXPECT_EQ(set(c, model::filterYStart, filterStart), fmi2OK);
    EXPECT_EQ(set(c, model::limiterUMin, -10.0), fmi2OK);
    EXPECT_EQ(set(c, model::limiter1UMin, -10.0), fmi2OK);
    EXPECT_EQ(set(c, limiterUMax, 10.0), fmi2OK);
    EXPECT_EQ(set(c, limiter1UMax, 10.0), fmi2OK);
    EXPECT_EQ(set(c, timeSourceStartTime, 100.0), fmi2OK);
    EXPECT_EQ(set(c, model::outputSelector, outputSelector), fmi2OK);
    EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2True, 1e-7, startTime, fmi2False, 0.0), fmi2OK);
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    host.clear();
    return c;
  }

  fmi2Status setInputSlope(fmi2Component c, double slope) {
    return unit.fmi2SetRealInputDerivatives(c, &model::u, 1, &firstOrder, &slope);
  }
};

// du/dt = 2 over [0, 0.5]: u = 1 + 2t, and both filters solve x' = 1 + 2t - x from 1, that is
// x = 2t - 1 + 2 e^-t. The next step has no derivatives: u stays at its value at the step's end.
TEST_F(CoSimDerivatives, InputDerivativesExtrapolateOverOneStep) {
  fmi2Component c = running();
  ASSERT_EQ(setInputSlope(c, 2.0), fmi2OK);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"fmi2SetRealInputDerivatives"});
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  double x = 2.0 * std::exp(-0.5);
  EXPECT_NEAR(get(c, model::filterY), x, 1e-6);
  EXPECT_NEAR(get(c, model::limitedFilterY), x, 1e-6);
  EXPECT_DOUBLE_EQ(get(c, model::u), 2.0);

  ASSERT_EQ(unit.fmi2DoStep(c, 0.5, 0.5, fmi2True), fmi2OK);
  EXPECT_DOUBLE_EQ(get(c, model::u), 2.0);
  EXPECT_NEAR(get(c, model::filterY), 2.0 - (2.0 - x) * std::exp(-0.5), 1e-6);
}

// CVODE integrates past the end of a step and interpolates back, so when the step ends its history
// already reaches beyond the instance time, computed for the inputs it had. Input derivatives
// change the inputs' course there: CVODE must not go on with that history, neither when they are
// given (its history was made for constant inputs) nor in the step after the one that used them
// (its history was made for the extrapolated inputs, which now stay at their value at the
// step's end). With the filter at rest first, CVODE's steps are long, so a history continued
// across either change is far off. Each step is held against x' = u - x solved exactly, with
// u = 1 + du (t - 1) over [1, 1.5] and constant after.
struct CourseChange {
  const char* name;
  double slope;
};

void PrintTo(const CourseChange& c, std::ostream* os) { *os << c.name; }

class InputCourse : public CoSimDerivatives, public ::testing::WithParamInterface<CourseChange> {};

TEST_P(InputCourse, ChangesWhereTheDerivativesAreGivenAndWhereTheyEnd) {
  const double du = GetParam().slope;
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
  EXPECT_NEAR(get(c, model::filterY), 1.0, 1e-9);
  ASSERT_EQ(setInputSlope(c, du), fmi2OK);
  ASSERT_EQ(unit.fmi2DoStep(c, 1.0, 0.5, fmi2True), fmi2OK);
  // x = 1 + du (s - 1 + e^-s) with s = t - 1.
  const double x = 1.0 + du * (0.5 - 1.0 + std::exp(-0.5));
  EXPECT_NEAR(get(c, model::filterY), x, 1e-6);
  const double u = 1.0 + du * 0.5;
  EXPECT_DOUBLE_EQ(get(c, model::u), u);
  for (double t = 1.5; t < 2.9; t += 0.5) {
    ASSERT_EQ(unit.fmi2DoStep(c, t, 0.5, fmi2True), fmi2OK);
    EXPECT_NEAR(get(c, model::filterY), u + (x - u) * std::exp(-(t + 0.5 - 1.5)), 1e-6) << t + 0.5;
  }
  EXPECT_DOUBLE_EQ(get(c, model::u), u);
}

INSTANTIATE_TEST_SUITE_P(Slopes, InputCourse,
                         ::testing::Values(CourseChange{"Rising", 2.0}, CourseChange{"Falling", -1.0},
                                           CourseChange{"Zero", 0.0}),
                         quenzel_test::CaseName{});

// Derivatives that move no input change no course, so CVODE goes on with its history: with the
// filter moving (from 0 towards u = 1), a run given zero derivatives before every step is the
// run given none, bit for bit.
TEST_F(CoSimDerivatives, ZeroDerivativesLeaveTheRunAsItIs) {
  fmi2Component given = running(0.0, 3.0, 0.0);
  fmi2Component plain = running(0.0, 3.0, 0.0);
  for (double t = 0.0; t < 1.9; t += 0.25) {
    ASSERT_EQ(setInputSlope(given, 0.0), fmi2OK);
    ASSERT_EQ(unit.fmi2DoStep(given, t, 0.25, fmi2True), fmi2OK);
    ASSERT_EQ(unit.fmi2DoStep(plain, t, 0.25, fmi2True), fmi2OK);
    EXPECT_EQ(get(given, model::filterY), get(plain, model::filterY)) << t + 0.25;
  }
  EXPECT_NEAR(get(plain, model::filterY), 1.0 - std::exp(-2.0), 1e-6);
}

// The host setting the input itself makes the new value the base of the extrapolation.
TEST_F(CoSimDerivatives, SettingTheInputMovesTheBase) {
  fmi2Component c = running();
  ASSERT_EQ(setInputSlope(c, 2.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  EXPECT_DOUBLE_EQ(get(c, model::u), 4.0);
  // x' = 3 + 2t - x from 1 is solved by x = 2t + 1.
  EXPECT_NEAR(get(c, model::filterY), 2.0, 1e-6);
}

struct RefusedInputDerivative {
  const char* name;
  std::vector<fmi2ValueReference> vr;
  std::vector<fmi2Integer> order;
  const char* message;
};

void PrintTo(const RefusedInputDerivative& c, std::ostream* os) { *os << c.name; }

class RefusedInputDerivatives : public CoSimDerivatives,
                                public ::testing::WithParamInterface<RefusedInputDerivative> {};

TEST_P(RefusedInputDerivatives, WarnAndExtrapolateNothing) {
  const RefusedInputDerivative& c = GetParam();
  fmi2Component inst = running();
  std::vector<fmi2Real> values(c.vr.size(), 2.0);
  EXPECT_EQ(unit.fmi2SetRealInputDerivatives(inst, c.vr.data(), c.vr.size(), c.order.data(), values.data()),
            fmi2Warning);
  EXPECT_EQ(host.texts(), std::vector<std::string>{c.message});
  ASSERT_EQ(unit.fmi2DoStep(inst, 0.0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(get(inst, model::u), 1.0);
  EXPECT_NEAR(get(inst, model::filterY), 1.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedInputDerivatives,
    ::testing::Values(
        RefusedInputDerivative{
            "SecondOrder", {model::u}, {2}, "fmi2SetRealInputDerivatives: derivative order 2 is not supported"},
        RefusedInputDerivative{"NoReference",
                               {},
                               {},
                               "fmi2SetRealInputDerivatives: invalid nvr = 0 (number of inputs = 1), ignoring call"},
        RefusedInputDerivative{"MoreThanTheInputs",
                               {model::u, model::u},
                               {1, 1},
                               "fmi2SetRealInputDerivatives: invalid nvr = 2 (number of inputs = 1), ignoring call"},
        RefusedInputDerivative{
            "Parameter", {model::filterT}, {1}, "fmi2SetRealInputDerivatives: variable is not input"},
        RefusedInputDerivative{"InputIndexOutOfRange",
                               {model::reference(0, 5, 1)},
                               {1},
                               "fmi2SetRealInputDerivatives: variable is not input"},
        RefusedInputDerivative{"InputAtAnInvalidLevel",
                               {model::reference(9, 5, 0)},
                               {1},
                               "fmi2SetRealInputDerivatives: variable is not input"}),
    quenzel_test::CaseName{});

// Instances without an integrator refuse both derivative calls with the initialisation text:
// before initialisation, Model Exchange, and Co-Simulation after terminate.
TEST_F(CoSimDerivatives, NoIntegratorNoDerivatives) {
  fmi2Component instantiated = instantiate(fmi2CoSimulation);
  fmi2Component exchange = startIn(fmi2ModelExchange, startRunning);
  fmi2Component terminated = startIn(fmi2CoSimulation, startTerminated);
  for (fmi2Component c : {instantiated, exchange, terminated}) {
    host.clear();
    double slope = 1.0;
    fmi2Real value = 7.0;
    EXPECT_EQ(unit.fmi2SetRealInputDerivatives(c, &model::u, 1, &firstOrder, &slope), fmi2Warning);
    EXPECT_EQ(unit.fmi2GetRealOutputDerivatives(c, &model::y, 1, &firstOrder, &value), fmi2Warning);
    EXPECT_EQ(value, 7.0);
    EXPECT_EQ(host.texts(),
              (std::vector<std::string>{"fmi2SetRealInputDerivatives: fmi2EnterInitializationMode must be called "
                                        "before calling fmi2SetRealInputDerivatives",
                                        "fmi2GetRealOutputDerivatives: fmi2EnterInitializationMode must be called "
                                        "before calling fmi2GetRealOutputDerivatives"}));
  }
}

TEST_F(CoSimDerivatives, NullArraysAreRefused) {
  fmi2Component c = running();
  double slope = 1.0;
  EXPECT_EQ(unit.fmi2SetRealInputDerivatives(c, nullptr, 1, &firstOrder, &slope), fmi2Warning);
  EXPECT_EQ(unit.fmi2SetRealInputDerivatives(c, &model::u, 1, nullptr, &slope), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetRealOutputDerivatives(c, &model::y, 1, &firstOrder, nullptr), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning), (std::vector<std::string>{"fmi2SetRealInputDerivatives: vr == NULL",
                                                            "fmi2SetRealInputDerivatives: order == NULL",
                                                            "fmi2GetRealOutputDerivatives: value == NULL"}));
}

// Before any step the interval is 0, also with a start time other than 0: the estimate is 0
// with a warning, and the call still succeeds.
TEST_F(CoSimDerivatives, OutputDerivativeBeforeTheFirstStepIsZero) {
  fmi2Component c = running(5.0);
  fmi2Real value = 7.0;
  EXPECT_EQ(unit.fmi2GetRealOutputDerivatives(c, &model::y, 1, &firstOrder, &value), fmi2OK);
  EXPECT_EQ(value, 0.0);
  EXPECT_EQ(
      textsAt(fmi2Warning),
      std::vector<std::string>{"fmi2GetRealOutputDerivatives: time interval for estimate is 0.000000, returning 0"});
}

// After a step: the difference quotient of y over the last integration call; higher orders 0.
TEST_F(CoSimDerivatives, OutputDerivativeIsTheDifferenceOverTheLastStep) {
  fmi2Component c = running();
  ASSERT_EQ(set(c, model::u, 3.0), fmi2OK);
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.25, fmi2True), fmi2OK);
  double before = get(c, model::y);
  ASSERT_EQ(unit.fmi2DoStep(c, 0.25, 0.25, fmi2True), fmi2OK);
  double after = get(c, model::y);
  host.clear();
  fmi2Real slope = NAN;
  EXPECT_EQ(unit.fmi2GetRealOutputDerivatives(c, &model::y, 1, &firstOrder, &slope), fmi2OK);
  EXPECT_NEAR(slope, (after - before) / 0.25, 1e-12);
  // y = filter.y = 3 - 2 e^-t: the secant between 0.25 and 0.5.
  EXPECT_NEAR(slope, 2.0 * (std::exp(-0.25) - std::exp(-0.5)) / 0.25, 1e-5);
  const fmi2Integer secondOrder = 2;
  fmi2Real curvature = NAN;
  EXPECT_EQ(unit.fmi2GetRealOutputDerivatives(c, &model::y, 1, &secondOrder, &curvature), fmi2OK);
  EXPECT_EQ(curvature, 0.0);
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
}

struct RefusedOutputDerivative {
  const char* name;
  fmi2ValueReference vr;
  fmi2Integer order;
  size_t nvr;
  const char* message;
};

void PrintTo(const RefusedOutputDerivative& c, std::ostream* os) { *os << c.name; }

class RefusedOutputDerivatives : public CoSimDerivatives,
                                 public ::testing::WithParamInterface<RefusedOutputDerivative> {};

TEST_P(RefusedOutputDerivatives, Warn) {
  const RefusedOutputDerivative& c = GetParam();
  fmi2Component inst = running();
  ASSERT_EQ(unit.fmi2DoStep(inst, 0.0, 0.25, fmi2True), fmi2OK);
  host.clear();
  const fmi2ValueReference vr[] = {c.vr, c.vr};
  const fmi2Integer order[] = {c.order, c.order};
  fmi2Real value[] = {7.0, 7.0};
  EXPECT_EQ(unit.fmi2GetRealOutputDerivatives(inst, vr, c.nvr, order, value), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{c.message});
  EXPECT_EQ(value[0], 7.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedOutputDerivatives,
    ::testing::Values(RefusedOutputDerivative{"OrderZero", model::y, 0, 1,
                                              "fmi2GetRealOutputDerivatives: derivative order 0 is not allowed"},
                      RefusedOutputDerivative{"NegativeOrder", model::y, -1, 1,
                                              "fmi2GetRealOutputDerivatives: derivative order 0 is not allowed"},
                      RefusedOutputDerivative{"NotAnOutput", model::filterY, 1, 1,
                                              "fmi2GetRealOutputDerivatives: variable is not output"},
                      RefusedOutputDerivative{"OutputIndexOutOfRange", model::reference(1, 4, 1), 1, 1,
                                              "fmi2GetRealOutputDerivatives: variable is not output"},
                      RefusedOutputDerivative{"NoReference", model::y, 1, 0,
                                              "fmi2GetRealOutputDerivatives: invalid nvr = 0 (number of outputs = 1)"},
                      RefusedOutputDerivative{"MoreThanTheOutputs", model::y, 1, 2,
                                              "fmi2GetRealOutputDerivatives: invalid nvr = 2 (number of outputs = 1)"}),
    quenzel_test::CaseName{});

}  // namespace
