// Value access by value reference: which references are accepted in which mode, what each
// call logs, how values convert, and when a getter asks the model to compute.
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "case_names.h"
#include "unit_fixture.h"

namespace {

using Values = UnitTest;

std::string refText(const char* prefix, char letter, fmi2ValueReference vr, const char* rest) {
  return std::string(prefix) + "#" + letter + std::to_string(vr) + "#" + rest;
}

// ---- Setters by category and mode ----------------------------------------------------------

struct SettableCase {
  const char* what;
  fmi2ValueReference vr;
  // whether a set is accepted when starting from instantiated, initialization, running (CS
  // continuous-time mode), terminated
  bool accepted[4];
};

void PrintTo(const SettableCase& c, std::ostream* os) { *os << c.what; }

class Settable : public UnitTest, public ::testing::WithParamInterface<SettableCase> {};

TEST_P(Settable, CategoryRulesDecideBySetterAndMode) {
  const SettableCase& c = GetParam();
  const StartMode modes[] = {startInstantiated, startInitialization, startRunning, startTerminated};
  for (int m = 0; m < 4; ++m) {
    SCOPED_TRACE("start mode " + std::to_string(m));
    fmi2Component comp = startIn(fmi2CoSimulation, modes[m]);
    ASSERT_NE(comp, nullptr);
    const double real = 0.25;
    const int integer = 7;
    const int boolean = fmi2True;
    fmi2Status statuses[3] = {unit.fmi2SetReal(comp, &c.vr, 1, &real), unit.fmi2SetInteger(comp, &c.vr, 1, &integer),
                              unit.fmi2SetBoolean(comp, &c.vr, 1, &boolean)};
    std::vector<std::string> expected;
    if (c.accepted[m]) {
      expected = {refText("fmiSetReal: ", 'r', c.vr, " = 0.25"), refText("fmiSetInteger: ", 'i', c.vr, " = 7"),
                  refText("fmiSetBoolean: ", 'b', c.vr, " = 1")};
      for (fmi2Status s : statuses) EXPECT_EQ(s, fmi2OK);
    } else {
      const char* tail = " at this stage, setting of variable ignored";
      expected = {refText("fmiSetReal: may not change ", 'r', c.vr, tail),
                  refText("fmiSetInteger: may not change ", 'i', c.vr, tail),
                  refText("fmiSetBoolean: may not change ", 'b', c.vr, tail)};
      for (fmi2Status s : statuses) EXPECT_EQ(s, fmi2Warning);
      for (const LogRecord& r : host.log) EXPECT_EQ(r.status, fmi2Warning);
    }
    EXPECT_EQ(host.texts(), expected);
    host.clear();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Categories, Settable,
    ::testing::Values(SettableCase{"Parameter", model::switchAlternative, {true, true, true, true}},
                      SettableCase{"State", model::filterY, {true, true, true, true}},
                      SettableCase{"Derivative", model::derFilterY, {true, false, false, false}},
                      SettableCase{"Output", model::y, {true, false, false, false}},
                      SettableCase{"Input", model::u, {true, true, true, true}},
                      SettableCase{"Auxiliary", model::limiterY, {true, true, false, false}}),
    quenzel_test::CaseNameFrom<&SettableCase::what>{});

// A refused set leaves the stored value as it was.
TEST_F(Values, ARefusedSetChangesNothing) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  double before = get(c, model::stored(model::y));
  EXPECT_EQ(set(c, model::y, 42.0), fmi2Warning);
  EXPECT_EQ(get(c, model::stored(model::y)), before);
  EXPECT_EQ(get(c, model::y), before);
}

// ---- References that are not valid -----------------------------------------------------------

struct InvalidCase {
  const char* what;
  fmi2ValueReference vr;
};

void PrintTo(const InvalidCase& c, std::ostream* os) { *os << c.what; }

class InvalidReference : public UnitTest, public ::testing::WithParamInterface<InvalidCase> {};

// Refused like a category no setter or getter serves, and nothing behind an array is read or
// written: the host's buffers keep what they held.
TEST_P(InvalidReference, IsRefusedByEverySetterAndGetter) {
  const fmi2ValueReference vr = GetParam().vr;
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  const double real = 1.0;
  const int one = 1;
  const char* text = "text";
  EXPECT_EQ(unit.fmi2SetReal(c, &vr, 1, &real), fmi2Warning);
  EXPECT_EQ(unit.fmi2SetInteger(c, &vr, 1, &one), fmi2Warning);
  EXPECT_EQ(unit.fmi2SetBoolean(c, &vr, 1, &one), fmi2Warning);
  EXPECT_EQ(unit.fmi2SetString(c, &vr, 1, &text), fmi2Warning);
  double realOut = -7.0;
  int intOut = -7;
  int boolOut = -7;
  fmi2String stringOut = "untouched";
  EXPECT_EQ(unit.fmi2GetReal(c, &vr, 1, &realOut), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetInteger(c, &vr, 1, &intOut), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetBoolean(c, &vr, 1, &boolOut), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetString(c, &vr, 1, &stringOut), fmi2Warning);
  EXPECT_EQ(realOut, -7.0);
  EXPECT_EQ(intOut, -7);
  EXPECT_EQ(boolOut, -7);
  EXPECT_STREQ(stringOut, "untouched");
  EXPECT_EQ(host.texts(), (std::vector<std::string>{
                              refText("fmiSetReal: cannot set ", 'r', vr, "  "),
                              refText("fmiSetInteger: cannot set ", 'i', vr, "  "),
                              refText("fmiSetBoolean: cannot set ", 'b', vr, "  "),
                              refText("fmi2SetString: cannot set ", 's', vr, "  "),
                              refText("fmiGetReal: cannot get ", 'r', vr, ""),
                              refText("fmiGetInteger: cannot get ", 'i', vr, ""),
                              refText("fmiGetBoolean: cannot get ", 'b', vr, ""),
                              refText("fmi2GetString: cannot get ", 's', vr, ""),
                          }));
  for (const LogRecord& r : host.log) EXPECT_EQ(r.status, fmi2Warning) << r.text;
}

INSTANTIATE_TEST_SUITE_P(
    References, InvalidReference,
    ::testing::Values(
        // categories without an array
        InvalidCase{"Category0", model::reference(0, 0, 0)}, InvalidCase{"Category7", model::reference(0, 7, 0)},
        InvalidCase{"Category9", model::reference(0, 9, 0)}, InvalidCase{"Category10", model::reference(0, 10, 0)},
        InvalidCase{"Category13", model::reference(0, 13, 0)}, InvalidCase{"Category15", model::reference(0, 15, 0)},
        // just past the end of each category (15 parameters, 2 states, 1 input, 1 output, 11
        // auxiliaries, no strings, no extra values)
        InvalidCase{"ParameterPastEnd", model::parameter(15)}, InvalidCase{"StatePastEnd", model::reference(0, 2, 2)},
        InvalidCase{"DerivativePastEnd", model::reference(2, 3, 2)},
        InvalidCase{"OutputPastEnd", model::reference(1, 4, 1)}, InvalidCase{"InputPastEnd", model::reference(0, 5, 1)},
        InvalidCase{"AuxiliaryPastEnd", model::reference(0, 6, 11)},
        InvalidCase{"StringWithoutStrings", model::reference(0, 8, 0)},
        InvalidCase{"Extra", model::reference(0, 11, 0)}, InvalidCase{"Extra2", model::reference(0, 12, 0)},
        InvalidCase{"FarPastEnd", model::reference(0, 1, 0xFFFFFF)},
        InvalidCase{"InputTwoPastEnd", model::reference(0, 5, 2)},
        // levels beyond the model's (4 would be the crossing functions, 7 the terminal section)
        InvalidCase{"Level4", model::reference(4, 1, 0)}, InvalidCase{"Level7", model::reference(7, 4, 0)},
        InvalidCase{"Level15", model::reference(15, 2, 0)}),
    quenzel_test::CaseNameFrom<&InvalidCase::what>{});

// A getter refuses at the first invalid reference: the values before it are delivered, those
// after it are not touched.
TEST_F(Values, AGetterStopsAtTheFirstInvalidReference) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  const fmi2ValueReference vr[] = {model::y, model::reference(7, 4, 0), model::u};
  double values[] = {-1.0, -1.0, -1.0};
  EXPECT_EQ(unit.fmi2GetReal(c, vr, 3, values), fmi2Warning);
  EXPECT_EQ(values[0], 0.5);
  EXPECT_EQ(values[1], -1.0);
  EXPECT_EQ(values[2], -1.0);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"fmiGetReal: #r335544320# = 0.5",
                                                    "fmiGetReal: cannot get #r1946157056#"}));
}

// Values stored before a refused reference invalidate what was computed from the old ones.
TEST_F(Values, ValuesSetBeforeARefusalAreTakenIntoTheModel) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(get(c, model::y), 0.5);
  const fmi2ValueReference vr[] = {model::u, model::y};
  const double values[] = {0.25, 9.0};
  EXPECT_EQ(unit.fmi2SetReal(c, vr, 2, values), fmi2Warning);
  EXPECT_EQ(get(c, model::stored(model::u)), 0.25);
  EXPECT_EQ(get(c, model::y), 0.25);
}

TEST_F(Values, NullArraysWithEntriesAreRefusedAndAnEmptyCallDoesNothing) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  const fmi2ValueReference vr = model::u;
  double value = 0.0;
  EXPECT_EQ(unit.fmi2SetReal(c, nullptr, 1, &value), fmi2Warning);
  EXPECT_EQ(unit.fmi2SetInteger(c, &vr, 1, nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetReal(c, &vr, 1, nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetBoolean(c, nullptr, 2, nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2SetString(c, &vr, 1, nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetString(c, nullptr, 1, nullptr), fmi2Warning);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"fmiSetReal: vr == NULL", "fmiSetInteger: value == NULL",
                                                    "fmiGetReal: value == NULL", "fmiGetBoolean: vr == NULL",
                                                    "fmi2SetString: value == NULL", "fmi2GetString: vr == NULL"}));
  host.clear();
  EXPECT_EQ(get(c, model::stored(model::u)), 0.5);
  host.clear();
  EXPECT_EQ(unit.fmi2SetReal(c, nullptr, 0, nullptr), fmi2OK);
  EXPECT_EQ(unit.fmi2GetReal(c, nullptr, 0, nullptr), fmi2OK);
  EXPECT_EQ(unit.fmi2SetString(c, nullptr, 0, nullptr), fmi2OK);
  EXPECT_EQ(unit.fmi2GetString(c, nullptr, 0, nullptr), fmi2OK);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(unit.fmi2SetReal(nullptr, &vr, 1, &value), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetReal(nullptr, &vr, 1, &value), fmi2Warning);
}

// ---- Getters before initialisation ----------------------------------------------------------

TEST_F(Values, GettersAreRefusedBeforeInitialisation) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  ASSERT_NE(c, nullptr);
  host.clear();
  const fmi2ValueReference vr = model::parameter(0);
  double real = -1.0;
  int integer = -1;
  int boolean = -1;
  fmi2String text = nullptr;
  EXPECT_EQ(unit.fmi2GetReal(c, &vr, 1, &real), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetInteger(c, &vr, 1, &integer), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetBoolean(c, &vr, 1, &boolean), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetString(c, &vr, 0, &text), fmi2Warning);
  EXPECT_EQ(real, -1.0);
  EXPECT_EQ(integer, -1);
  EXPECT_EQ(boolean, -1);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{
                              "fmiGetReal: Not allowed before call of fmi2EnterInitializationMode",
                              "fmiGetInteger: Not allowed before call of fmi2EnterInitializationMode",
                              "fmiGetBoolean: Not allowed before call of fmi2EnterInitializationMode",
                              "fmi2GetString: Not allowed before call of fmi2EnterInitializationMode",
                          }));
  for (const LogRecord& r : host.log) EXPECT_EQ(r.status, fmi2Warning);
}

// ---- Conversions ---------------------------------------------------------------------------

struct ConversionCase {
  const char* name;
  double stored;
  int delivered;
};

void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.name; }

class IntegerReads : public UnitTest, public ::testing::WithParamInterface<ConversionCase> {};

// Integer and Boolean reads truncate toward zero and saturate at the int32 range, NaN reading
// as 0; every reference can be read as any type. Read in modeTerminated, where nothing
// evaluates.
TEST_P(IntegerReads, TruncateTowardZeroAndSaturate) {
  fmi2Component c = instantiate(fmi2ModelExchange);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2Error);
  ASSERT_EQ(set(c, model::switchAlternative, GetParam().stored), fmi2OK);
  host.clear();
  const fmi2ValueReference vr = model::switchAlternative;
  int integer = 12345;
  int boolean = 12345;
  EXPECT_EQ(unit.fmi2GetInteger(c, &vr, 1, &integer), fmi2OK);
  EXPECT_EQ(unit.fmi2GetBoolean(c, &vr, 1, &boolean), fmi2OK);
  EXPECT_EQ(integer, GetParam().delivered);
  EXPECT_EQ(boolean, GetParam().delivered);
  char shown[64];
  snprintf(shown, sizeof shown, "%g", static_cast<double>(GetParam().delivered));
  EXPECT_EQ(host.texts(), (std::vector<std::string>{refText("fmiGetInteger: ", 'i', vr, " = ") + shown,
                                                    refText("fmiGetBoolean: ", 'b', vr, " = ") + shown}));
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Values, IntegerReads,
                         ::testing::Values(ConversionCase{"Plus0_9", 0.9, 0}, ConversionCase{"Minus0_9", -0.9, 0},
                                           ConversionCase{"Plus0_5", 0.5, 0}, ConversionCase{"Minus1", -1.0, -1},
                                           ConversionCase{"Plus2_5", 2.5, 2}, ConversionCase{"Minus2_5", -2.5, -2},
                                           ConversionCase{"Plus1500", 1500.0, 1500},
                                           ConversionCase{"IntMax", 2147483647.0, INT_MAX},
                                           ConversionCase{"IntMaxAndAHalf", 2147483647.5, INT_MAX},
                                           ConversionCase{"IntMinMinus0_9", -2147483648.9, INT_MIN},
                                           ConversionCase{"Plus1e10", 1e10, INT_MAX},
                                           ConversionCase{"Minus1e10", -1e10, INT_MIN},
                                           ConversionCase{"PlusInfinity", inf, INT_MAX},
                                           ConversionCase{"MinusInfinity", -inf, INT_MIN},
                                           ConversionCase{"NaN", NAN, 0}),
                         quenzel_test::CaseName{});

// Integer and Boolean values are stored as doubles unchanged: a Boolean 5 stays 5.
TEST_F(Values, IntegerAndBooleanSettersStoreTheValueAsADouble) {
  fmi2Component c = startIn(fmi2CoSimulation, startTerminated);
  ASSERT_NE(c, nullptr);
  const fmi2ValueReference vr = model::switchAlternative;
  const int five = 5;
  const int minusTwo = -2;
  EXPECT_EQ(unit.fmi2SetBoolean(c, &vr, 1, &five), fmi2OK);
  EXPECT_EQ(get(c, vr), 5.0);
  EXPECT_EQ(unit.fmi2SetInteger(c, &vr, 1, &minusTwo), fmi2OK);
  EXPECT_EQ(get(c, vr), -2.0);
}

// ---- Strings (the model has none) ------------------------------------------------------------

TEST_F(Values, StringReferencesAreRefusedInEveryMode) {
  const fmi2ValueReference vr = model::reference(0, 8, 0);
  const char* text = "abc";
  for (StartMode mode : {startInstantiated, startInitialization, startRunning, startTerminated}) {
    fmi2Component c = startIn(fmi2ModelExchange, mode);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(unit.fmi2SetString(c, &vr, 1, &text), fmi2Warning);
    EXPECT_EQ(host.texts(), std::vector<std::string>{"fmi2SetString: cannot set #s134217728#  "});
    host.clear();
  }
}

// ---- Logging ---------------------------------------------------------------------------------

TEST_F(Values, WithLoggingOffValuesAreNotLoggedButRefusalsAre) {
  fmi2Component c = startIn(fmi2ModelExchange, startInitialization);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(unit.fmi2SetDebugLogging(c, fmi2False, 0, nullptr), fmi2OK);
  EXPECT_EQ(set(c, model::u, 0.75), fmi2OK);
  EXPECT_EQ(get(c, model::stored(model::u)), 0.75);
  EXPECT_EQ(set(c, model::y, 1.0), fmi2Warning);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"fmiSetReal: may not change #r335544320# at this stage, setting "
                                                   "of variable ignored"});
}

// ---- When getters evaluate -------------------------------------------------------------------

// After a change, a getter computes only the level its references ask for: a level-1 read
// leaves the derivatives as they were, a read at level 1 of a derivative does not compute it
// either, and a level-2 read does.
TEST_F(Values, AGetterEvaluatesOnlyUpToTheLevelItNeeds) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(get(c, model::derFilterY), -0.5);  // (k u - x) / T = (0.5 - 1) / 1
  EXPECT_EQ(set(c, model::u, 0.25), fmi2OK);
  EXPECT_EQ(get(c, model::stored(model::y)), 0.5);
  EXPECT_EQ(get(c, model::y), 0.25);
  EXPECT_EQ(get(c, model::stored(model::derFilterY)), -0.5);
  EXPECT_EQ(get(c, model::stored(model::limiter1Y)), 0.5);
  EXPECT_EQ(get(c, model::atLevel(model::derFilterY, 1)), -0.5);
  EXPECT_EQ(get(c, model::derFilterY), -0.75);
  EXPECT_EQ(get(c, model::stored(model::limiter1Y)), 0.25);
}

// A parameter change makes the next evaluation compute every level whatever the demand; a
// level-0 read does not evaluate at all.
TEST_F(Values, ALevelZeroReadDoesNotEvaluateAndAParameterChangeComputesEverything) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(get(c, model::derFilterY), -0.5);
  EXPECT_EQ(set(c, model::filterK, 2.0), fmi2OK);
  EXPECT_EQ(get(c, model::filterK), 2.0);
  EXPECT_EQ(get(c, model::stored(model::derFilterY)), -0.5);
  EXPECT_EQ(get(c, model::y), 0.5);
  EXPECT_EQ(get(c, model::stored(model::derFilterY)), 0.0);  // (2 * 0.5 - 1) / 1
}

struct ChangeCase {
  const char* what;
  double first;
  double second;
  bool counted;  // the second set counts as a parameter change
};

void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.what; }

class ParameterChange : public UnitTest, public ::testing::WithParamInterface<ChangeCase> {};

// A parameter set to the value it has is logged but changes nothing: the next level-1
// evaluation computes level 1 only. A different value, or NaN over NaN, counts as a change
// and makes it compute every level.
TEST_P(ParameterChange, OnlyADifferentValueCounts) {
  const ChangeCase& c = GetParam();
  fmi2Component comp = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(comp, nullptr);
  ASSERT_EQ(set(comp, model::switchAlternative, c.first), fmi2OK);
  EXPECT_EQ(get(comp, model::derFilterY), -0.5);
  ASSERT_EQ(set(comp, model::u, 0.25), fmi2OK);
  host.clear();
  ASSERT_EQ(set(comp, model::switchAlternative, c.second), fmi2OK);
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].text.rfind("fmiSetReal: #r16777227# = ", 0), 0u);
  EXPECT_EQ(get(comp, model::y), 0.25);
  EXPECT_EQ(get(comp, model::stored(model::derFilterY)), c.counted ? -0.75 : -0.5);
}

INSTANTIATE_TEST_SUITE_P(Values, ParameterChange,
                         ::testing::Values(ChangeCase{"SameValue", 1500.0, 1500.0, false},
                                           ChangeCase{"NegativeZero", 0.0, -0.0, false},
                                           ChangeCase{"OtherValue", 1500.0, 1501.0, true},
                                           ChangeCase{"NaNOverNaN", NAN, NAN, true}),
                         quenzel_test::CaseNameFrom<&ChangeCase::what>{});

// In initialisation mode a getter evaluates only after a set changed something: a new time
// alone (fmi2SetupExperiment) is not taken into the ramp until a value changes.
TEST_F(Values, InInitialisationModeAGetterEvaluatesOnlyAfterAChange) {
  fmi2Component c = startIn(fmi2ModelExchange, startInitialization);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 5.0, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(get(c, model::timeSourceY), 0.0);
  EXPECT_EQ(set(c, model::switchAlternative, 1500.0), fmi2OK);  // the value it has
  EXPECT_EQ(get(c, model::timeSourceY), 0.0);
  EXPECT_EQ(set(c, model::u, 0.25), fmi2OK);
  EXPECT_EQ(get(c, model::timeSourceY), 5.0);
  EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 7.0, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(get(c, model::timeSourceY), 5.0);
  EXPECT_EQ(set(c, model::filterYStart, 3.0), fmi2OK);
  EXPECT_EQ(get(c, model::filterY), 3.0);
  EXPECT_EQ(get(c, model::timeSourceY), 7.0);
}

// Outside initialisation the level decides: a new time leaves the level reached at 0, so a
// level-0 read delivers the stored value and a level-1 read computes.
TEST_F(Values, OutsideInitialisationTheLevelReachedDecides) {
  fmi2Component c = startIn(fmi2CoSimulation, startRunning);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(get(c, model::timeSourceY), 0.0);
  EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 5.0, fmi2False, 0.0), fmi2OK);
  EXPECT_EQ(get(c, model::stored(model::timeSourceY)), 0.0);
  EXPECT_EQ(get(c, model::timeSourceY), 5.0);
}

// In modeTerminated the numeric getters deliver what is stored and never evaluate.
TEST_F(Values, TerminatedInstancesDeliverStoredValues) {
  fmi2Component c = startIn(fmi2CoSimulation, startTerminated);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(set(c, model::u, 0.25), fmi2OK);
  EXPECT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  fmi2Status status = fmi2Fatal;
  EXPECT_EQ(get(c, model::y, &status), 0.5);
  EXPECT_EQ(status, fmi2OK);
  EXPECT_EQ(get(c, model::derFilterY, &status), -0.5);
  EXPECT_EQ(status, fmi2OK);
}

}  // namespace
