// The Model Exchange calls: what each refuses in which mode (changing nothing), array lengths
// and missing arrays, the event iteration with its next time event, evaluation failures, and
// the step and state calls.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "case_names.h"
#include "instance.h"
#include "modeldata.h"
#include "unit_fixture.h"

namespace {

// The modes a Model Exchange host passes through, in order.
enum MeMode {
  meInstantiated,
  meInitialization,
  meEvent,           // after fmi2ExitInitializationMode or fmi2EnterEventMode
  meEventDone,       // after an fmi2NewDiscreteStates that needs no more
  meContinuousTime,  // after fmi2EnterContinuousTimeMode
  meTerminated,
  meModeCount
};

const char* const meModeNames[meModeCount] = {"Instantiated", "Initialization", "Event",
                                              "EventDone",    "ContinuousTime", "Terminated"};
const int32_t meModeCodes[meModeCount] = {modeInstantiated, modeInitialization, modeEvent,
                                          modeEventDone,    modeContinuousTime, modeTerminated};

ModelInstance* record(fmi2Component c) { return static_cast<ModelInstance*>(c); }

// What the calls could change, compared bit for bit (NaN included).
struct InstanceSnapshot {
  int32_t mode, levelReached, eventStart, valuesChanged, newDiscreteStatesNeeded, terminatedByModel, qiErr;
  double time;
  double states[2], derivatives[2], eventIndicators[10];

  explicit InstanceSnapshot(fmi2Component c) {
    memset(this, 0, sizeof *this);
    const ModelInstance* r = record(c);
    mode = r->mode;
    levelReached = r->levelReached;
    eventStart = r->eventStart;
    valuesChanged = r->valuesChanged;
    newDiscreteStatesNeeded = r->newDiscreteStatesNeeded;
    terminatedByModel = r->terminatedByModel;
    qiErr = r->qiErr;
    time = r->time;
    memcpy(states, r->states, sizeof states);
    memcpy(derivatives, r->derivatives, sizeof derivatives);
    memcpy(eventIndicators, r->eventIndicators, sizeof eventIndicators);
  }
  bool operator==(const InstanceSnapshot& o) const { return memcmp(this, &o, sizeof *this) == 0; }
};

class ModelExchange : public UnitTest {
 protected:
  // A Model Exchange instance with consistent limits, led to `mode` by the host's ordinary calls.
  fmi2Component reach(MeMode mode, double rampStart = 0.0, double outputSelector = 1.0) {
    fmi2Component c = instantiate(fmi2ModelExchange);
    if (!c) return nullptr;
    consistentLimits(c);
    EXPECT_EQ(set(c, model::parameter(14), rampStart), fmi2OK);
    EXPECT_EQ(set(c, model::outputSelector, outputSelector), fmi2OK);
    fmi2EventInfo info{};
    if (mode >= meInitialization) {
      EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    }
    if (mode >= meEvent) {
      EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    }
    if (mode >= meEventDone) {
      EXPECT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
      EXPECT_FALSE(info.newDiscreteStatesNeeded);
    }
    if (mode >= meContinuousTime && mode != meTerminated) {
      EXPECT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
    }
    if (mode == meTerminated) {
      EXPECT_EQ(unit.fmi2Terminate(c), fmi2OK);
    }
    EXPECT_EQ(record(c)->mode, meModeCodes[mode]);
    host.clear();
    return c;
  }

  fmi2Status newDiscreteStates(fmi2Component c, fmi2EventInfo* info) { return unit.fmi2NewDiscreteStates(c, info); }
};

// ---- Calls refused by the mode ------------------------------------------------------------------

enum MeCall {
  callSetTimeME,
  callGetDerivativesME,
  callGetEventIndicatorsME,
  callGetContinuousStatesME,
  callEnterEventModeME,
  callNewDiscreteStatesME,
  callEnterContinuousTimeModeME,
  callExitInitializationModeME,
  callTerminateME,
  meCallCount
};

struct CallRule {
  const char* name;
  unsigned acceptedIn;  // bits of MeMode
  const char* refusal;  // the warning in every other mode
};

constexpr unsigned in(MeMode m) { return 1u << m; }
constexpr unsigned everyMeMode = (1u << meModeCount) - 1;

const CallRule callRules[meCallCount] = {
    {"fmi2SetTime", in(meInstantiated) | in(meContinuousTime), "fmi2SetTime: not allowed in this state"},
    {"fmi2GetDerivatives", everyMeMode & ~in(meInstantiated),
     "fmi2GetDerivatives: fmi2EnterInitializationMode must be called before calling fmi2GetDerivatives"},
    {"fmi2GetEventIndicators", everyMeMode & ~(in(meInstantiated) | in(meInitialization)),
     "fmi2GetEventIndicators: fmi2ExitInitializationMode must be called before calling fmi2GetEventIndicators"},
    {"fmi2GetContinuousStates", everyMeMode & ~in(meInstantiated),
     "fmi2GetContinuousStates: fmiEnterInitializationMode must be called before calling fmi2GetContinuousStates"},
    {"fmi2EnterEventMode", in(meContinuousTime), "fmi2EnterEventMode: may only be called in continuous time mode"},
    {"fmi2NewDiscreteStates", in(meEvent) | in(meEventDone), "fmi2NewDiscreteStates: may only be called in event mode"},
    {"fmi2EnterContinuousTimeMode", in(meEventDone),
     "fmi2EnterContinuousTimeMode: may only be called when exited event mode"},
    {"fmi2ExitInitializationMode", in(meInitialization),
     "fmi2ExitInitializationMode: may only called in initialization mode"},
    {"fmi2Terminate", everyMeMode & ~in(meTerminated), "fmi2Terminate: already terminated, ignoring call"},
};

struct RefusalCase {
  std::string name;
  MeCall call;
  MeMode mode;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

std::vector<RefusalCase> refusalCases() {
  std::vector<RefusalCase> cases;
  for (int call = 0; call < meCallCount; ++call)
    for (int mode = 0; mode < meModeCount; ++mode)
      if (!(callRules[call].acceptedIn & in(static_cast<MeMode>(mode))))
        cases.push_back({std::string(callRules[call].name) + " in " + meModeNames[mode], static_cast<MeCall>(call),
                         static_cast<MeMode>(mode)});
  return cases;
}

class ModelExchangeRefusal : public ModelExchange, public ::testing::WithParamInterface<RefusalCase> {
 protected:
  fmi2Status call(fmi2Component c, MeCall which) {
    double values[10] = {-7, -7, -7, -7, -7, -7, -7, -7, -7, -7};
    fmi2EventInfo info{};
    switch (which) {
      case callSetTimeME: return unit.fmi2SetTime(c, 0.25);
      case callGetDerivativesME: return unit.fmi2GetDerivatives(c, values, 2);
      case callGetEventIndicatorsME: return unit.fmi2GetEventIndicators(c, values, 10);
      case callGetContinuousStatesME: return unit.fmi2GetContinuousStates(c, values, 2);
      case callEnterEventModeME: return unit.fmi2EnterEventMode(c);
      case callNewDiscreteStatesME: return unit.fmi2NewDiscreteStates(c, &info);
      case callEnterContinuousTimeModeME: return unit.fmi2EnterContinuousTimeMode(c);
      case callExitInitializationModeME: return unit.fmi2ExitInitializationMode(c);
      case callTerminateME: return unit.fmi2Terminate(c);
      case meCallCount: break;
    }
    return fmi2Fatal;
  }
};

// A refused call warns and leaves the instance exactly as it was; a refused exit of the
// initialisation, in particular, does not restart the event iteration.
TEST_P(ModelExchangeRefusal, WarnsWithTheCallsTextAndChangesNothing) {
  const RefusalCase& c = GetParam();
  fmi2Component instance = reach(c.mode);
  ASSERT_NE(instance, nullptr);
  InstanceSnapshot before(instance);
  EXPECT_EQ(call(instance, c.call), fmi2Warning);
  // An instance with states that has finished its event iteration is told to leave event mode.
  const char* refusal = c.call == callSetTimeME && c.mode == meEventDone
                            ? "fmi2SetTime: only allowed for discrete models when not in continuous time mode"
                            : callRules[c.call].refusal;
  EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{refusal});
  EXPECT_TRUE(textsAt(fmi2Error).empty());
  EXPECT_TRUE(InstanceSnapshot(instance) == before);
}

INSTANTIATE_TEST_SUITE_P(EveryModeAndCall, ModelExchangeRefusal, ::testing::ValuesIn(refusalCases()),
                         quenzel_test::CaseName{});

// ---- Array lengths and missing arrays -----------------------------------------------------------

enum ArrayCall { setStates, getStates, getDerivatives, getIndicators, getNominals };

struct LengthCase {
  const char* name;
  ArrayCall call;
  size_t given;
  const char* warning;  // null when the length is right
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class ModelExchangeLength : public ModelExchange, public ::testing::WithParamInterface<LengthCase> {};

// The smaller of the two counts is transferred; a wrong length is a warning, not a refusal.
TEST_P(ModelExchangeLength, TransfersTheCommonPartAndWarnsAboutTheLength) {
  const LengthCase& c = GetParam();
  fmi2Component instance = reach(meContinuousTime);
  ASSERT_NE(instance, nullptr);
  ASSERT_EQ(unit.fmi2SetTime(instance, 0.5), fmi2OK);
  host.clear();
  const double sentinel = -7.0;
  std::vector<double> values(12, sentinel);
  size_t count = c.call == getIndicators ? 10 : 2;
  size_t common = std::min(c.given, count);
  std::vector<double> expected(count);
  fmi2Status status = fmi2Fatal;
  switch (c.call) {
    case setStates: {
      for (size_t i = 0; i < values.size(); ++i) values[i] = 3.0 + static_cast<double>(i);
      std::vector<double> old(record(instance)->states, record(instance)->states + 2);
      status = unit.fmi2SetContinuousStates(instance, values.data(), c.given);
      for (size_t i = 0; i < 2; ++i) EXPECT_EQ(record(instance)->states[i], i < common ? values[i] : old[i]) << i;
      break;
    }
    case getStates:
      status = unit.fmi2GetContinuousStates(instance, values.data(), c.given);
      for (size_t i = 0; i < 2; ++i) expected[i] = record(instance)->states[i];
      break;
    case getDerivatives:
      status = unit.fmi2GetDerivatives(instance, values.data(), c.given);
      for (size_t i = 0; i < 2; ++i) expected[i] = record(instance)->derivatives[i];
      break;
    case getIndicators:
      status = unit.fmi2GetEventIndicators(instance, values.data(), c.given);
      for (size_t i = 0; i < 10; ++i) expected[i] = record(instance)->eventIndicators[i];
      break;
    case getNominals:
      status = unit.fmi2GetNominalsOfContinuousStates(instance, values.data(), c.given);
      expected = {1.0, 1.0};
      break;
  }
  EXPECT_EQ(status, c.warning ? fmi2Warning : fmi2OK);
  EXPECT_EQ(textsAt(fmi2Warning), c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
  if (c.call != setStates) {
    for (size_t i = 0; i < common; ++i) EXPECT_EQ(values[i], expected[i]) << i;
    for (size_t i = common; i < values.size(); ++i) EXPECT_EQ(values[i], sentinel) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelExchangeLength,
    ::testing::Values(
        LengthCase{"SetStatesRight", setStates, 2, nullptr},
        LengthCase{"SetStatesShort", setStates, 1,
                   "fmi2SetContinuousStates: argument nx = 1 is incorrect, should be 2"},
        LengthCase{"SetStatesLong", setStates, 3, "fmi2SetContinuousStates: argument nx = 3 is incorrect, should be 2"},
        LengthCase{"GetStatesRight", getStates, 2, nullptr},
        LengthCase{"GetStatesNone", getStates, 0, "fmi2GetContinuousStates: argument nx = 0 is incorrect, should be 2"},
        LengthCase{"GetStatesLong", getStates, 3, "fmi2GetContinuousStates: argument nx = 3 is incorrect, should be 2"},
        LengthCase{"GetDerivativesRight", getDerivatives, 2, nullptr},
        LengthCase{"GetDerivativesShort", getDerivatives, 1,
                   "fmi2GetDerivatives: argument nx = 1 is incorrect, should be 2"},
        LengthCase{"GetDerivativesLong", getDerivatives, 3,
                   "fmi2GetDerivatives: argument nx = 3 is incorrect, should be 2"},
        LengthCase{"GetIndicatorsRight", getIndicators, 10, nullptr},
        LengthCase{"GetIndicatorsShort", getIndicators, 9,
                   "fmi2GetEventIndicators: argument ni = 9 is incorrect, should be 10"},
        LengthCase{"GetIndicatorsLong", getIndicators, 11,
                   "fmi2GetEventIndicators: argument ni = 11 is incorrect, should be 10"},
        LengthCase{"GetNominalsRight", getNominals, 2, nullptr},
        LengthCase{"GetNominalsLong", getNominals, 3,
                   "fmi2GetNominalsOfContinuousStates: argument nx = 3 is incorrect, should be 2"}),
    quenzel_test::CaseName{});

// A host that passes no array where one is needed gets a warning and nothing is touched.
TEST_F(ModelExchange, MissingArraysAreRefusedWithoutChangingAnything) {
  fmi2Component c = reach(meContinuousTime);
  ASSERT_NE(c, nullptr);
  fmi2Boolean flag = fmi2False;
  const struct {
    const char* warning;
    fmi2Status (*call)(FmuLibrary&, fmi2Component, fmi2Boolean*);
  } cases[] = {
      {"fmi2SetContinuousStates: x == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean*) { return u.fmi2SetContinuousStates(c, nullptr, 2); }},
      {"fmi2GetContinuousStates: x == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean*) { return u.fmi2GetContinuousStates(c, nullptr, 2); }},
      {"fmi2GetDerivatives: derivatives == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean*) { return u.fmi2GetDerivatives(c, nullptr, 2); }},
      {"fmi2GetEventIndicators: eventIndicators == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean*) { return u.fmi2GetEventIndicators(c, nullptr, 10); }},
      {"fmi2GetNominalsOfContinuousStates: x_nominal == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean*) { return u.fmi2GetNominalsOfContinuousStates(c, nullptr, 2); }},
      {"fmi2CompletedIntegratorStep: enterEventMode == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean* f) { return u.fmi2CompletedIntegratorStep(c, 1, nullptr, f); }},
      {"fmi2CompletedIntegratorStep: terminateSimulation == NULL",
       [](FmuLibrary& u, fmi2Component c, fmi2Boolean* f) { return u.fmi2CompletedIntegratorStep(c, 1, f, nullptr); }},
  };
  for (const auto& k : cases) {
    InstanceSnapshot before(c);
    host.clear();
    EXPECT_EQ(k.call(unit, c, &flag), fmi2Warning) << k.warning;
    EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{k.warning});
    EXPECT_TRUE(InstanceSnapshot(c) == before) << k.warning;
  }
  // In event mode too, where fmi2NewDiscreteStates needs its record.
  ASSERT_EQ(unit.fmi2EnterEventMode(c), fmi2OK);
  InstanceSnapshot before(c);
  host.clear();
  EXPECT_EQ(unit.fmi2NewDiscreteStates(c, nullptr), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{"fmi2NewDiscreteStates: eventInfo == NULL"});
  EXPECT_TRUE(InstanceSnapshot(c) == before);
}

// ---- The event iteration -----------------------------------------------------------------------

struct FirstIterationCase {
  const char* name;
  double rampStart;
  bool timeEvent;
};

void PrintTo(const FirstIterationCase& c, std::ostream* os) { *os << c.name; }

class ModelExchangeFirstIteration : public ModelExchange,
                                    public ::testing::WithParamInterface<FirstIterationCase> {};

// After the initialisation one step ends the iteration; a ramp that starts later is announced as
// the next time event, and without one the field is left as the host passed it.
TEST_P(ModelExchangeFirstIteration, EndsAtOnceAndAnnouncesTheRampsStart) {
  const FirstIterationCase& c = GetParam();
  fmi2Component instance = reach(meEvent, c.rampStart);
  ASSERT_NE(instance, nullptr);
  fmi2EventInfo info;
  memset(&info, 0x5A, sizeof info);
  info.nextEventTime = -7.0;
  ASSERT_EQ(newDiscreteStates(instance, &info), fmi2OK);
  EXPECT_EQ(info.newDiscreteStatesNeeded, fmi2False);
  EXPECT_EQ(info.terminateSimulation, fmi2False);
  EXPECT_EQ(info.nominalsOfContinuousStatesChanged, fmi2False);
  EXPECT_EQ(info.valuesOfContinuousStatesChanged, fmi2False);
  EXPECT_EQ(info.nextEventTimeDefined, c.timeEvent ? fmi2True : fmi2False);
  EXPECT_EQ(info.nextEventTime, c.timeEvent ? c.rampStart : -7.0);
  EXPECT_EQ(record(instance)->mode, modeEventDone);
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"fmi2NewDiscreteStates...", "fmi2NewDiscreteStates completed"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, ModelExchangeFirstIteration,
                         ::testing::Values(FirstIterationCase{"RampAt2", 2.0, true},
                                           FirstIterationCase{"RampAtTheStart", 0.0, false},
                                           FirstIterationCase{"RampAt0_75", 0.75, true}),
                         quenzel_test::CaseName{});

// The ramp starts at its time event and switches the output at the crossing of its threshold,
// which the event indicators of the threshold relation report.
TEST_F(ModelExchange, TimeEventStartsTheRampAndTheThresholdCrossingSwitchesTheOutput) {
  fmi2Component c = reach(meContinuousTime, 2.0, 2.0);
  ASSERT_NE(c, nullptr);
  const double u = 0.5;  // consistentLimits's input

  auto indicators = [&](double t) {
    std::vector<double> z(10, NAN);
    EXPECT_EQ(unit.fmi2SetTime(c, t), fmi2OK);
    EXPECT_EQ(unit.fmi2GetEventIndicators(c, z.data(), z.size()), fmi2OK);
    return z;
  };
  auto iterate = [&](fmi2EventInfo* info) {
    host.clear();
    EXPECT_EQ(unit.fmi2EnterEventMode(c), fmi2OK);
    int steps = 0;
    do {
      ASSERT_EQ(newDiscreteStates(c, info), fmi2OK);
    } while (info->newDiscreteStatesNeeded && ++steps < 30);
    EXPECT_FALSE(info->newDiscreteStatesNeeded);
    EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{});
    ASSERT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
  };

  std::vector<double> z1 = indicators(1.5);
  EXPECT_EQ(get(c, model::y), 1500.0);
  EXPECT_EQ(get(c, model::timeSourceY), 0.0);
  fmi2EventInfo info{};
  indicators(2.0);
  iterate(&info);
  EXPECT_FALSE(info.nextEventTimeDefined);
  EXPECT_EQ(get(c, model::y), 1500.0);
  std::vector<double> z2 = indicators(2.5);
  EXPECT_DOUBLE_EQ(get(c, model::timeSourceY), 0.5);
  EXPECT_EQ(get(c, model::y), 1500.0);
  // The threshold's pair of indicators follows the ramp; it stays negative before 3.
  EXPECT_LT(z1[8], z2[8]);
  EXPECT_LT(z2[8], 0.0);
  EXPECT_LT(z2[9], 0.0);

  std::vector<double> z3 = indicators(3.001);
  EXPECT_GT(z3[8], 0.0);
  EXPECT_GT(z3[9], 0.0);
  EXPECT_EQ(get(c, model::y), 1500.0);  // the switch waits for the event
  iterate(&info);
  EXPECT_EQ(get(c, model::greaterThresholdY), 1.0);
  EXPECT_EQ(get(c, model::y), u);
}

// The iteration compares the states before and after it; this model never changes them, but a
// NaN state compares unequal to itself and so counts as changed.
TEST_F(ModelExchange, StatesChangedAtAnEventOnlyForANaNState) {
  fmi2Component c = reach(meContinuousTime);
  ASSERT_NE(c, nullptr);
  for (double x0 : {0.75, static_cast<double>(NAN)}) {
    const double x[2] = {x0, 0.25};
    ASSERT_EQ(unit.fmi2EnterEventMode(c), fmi2OK);
    ASSERT_EQ(unit.fmi2SetContinuousStates(c, x, 2), fmi2OK);
    fmi2EventInfo info{};
    info.valuesOfContinuousStatesChanged = 7;
    ASSERT_EQ(newDiscreteStates(c, &info), fmi2OK);
    EXPECT_EQ(info.valuesOfContinuousStatesChanged, std::isnan(x0) ? fmi2True : fmi2False) << x0;
    ASSERT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
  }
}

// ---- Evaluation failures -----------------------------------------------------------------------

struct FailureCase {
  const char* name;
  bool indicators;  // fmi2GetEventIndicators instead of fmi2GetDerivatives
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ModelExchangeFailure : public ModelExchange, public ::testing::WithParamInterface<FailureCase> {};

// filter.T = 0 makes the derivative a division by zero, which the model reports as a failure
// the host may retry: fmi2Discard, nothing delivered, and the instance usable afterwards.
TEST_P(ModelExchangeFailure, RetryableFailureIsDiscardWithNothingCopied) {
  const FailureCase& c = GetParam();
  fmi2Component instance = reach(meContinuousTime);
  ASSERT_NE(instance, nullptr);
  ASSERT_EQ(set(instance, model::filterT, 0.0), fmi2OK);
  ASSERT_EQ(unit.fmi2SetTime(instance, 0.5), fmi2OK);
  host.clear();
  std::vector<double> values(10, -7.0);
  size_t n = c.indicators ? 10 : 2;
  auto call = [&]() {
    return c.indicators ? unit.fmi2GetEventIndicators(instance, values.data(), n)
                        : unit.fmi2GetDerivatives(instance, values.data(), n);
  };
  EXPECT_EQ(call(), fmi2Discard);
  EXPECT_EQ(values, std::vector<double>(10, -7.0));
  std::vector<std::string> errors = textsAt(fmi2Error);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), c.message);
  EXPECT_EQ(record(instance)->mode, modeContinuousTime);

  ASSERT_EQ(set(instance, model::filterT, 1.0), fmi2OK);
  EXPECT_EQ(call(), fmi2OK);
  EXPECT_NE(values[0], -7.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ModelExchangeFailure,
                         ::testing::Values(FailureCase{"Derivatives", false,
                                                       "fmi2GetDerivatives: dsblock_ failed, QiErr = 1"},
                                           FailureCase{"EventIndicators", true,
                                                       "fmi2GetEventIndicators: dsblock_ failed, QiErr = 1"}),
                         quenzel_test::CaseName{});

// ---- States and steps -------------------------------------------------------------------------

// Setting states, even to the values they have, makes the next derivatives come from them.
TEST_F(ModelExchange, SetStatesAlwaysInvalidatesAndDerivativesFollowThem) {
  fmi2Component c = reach(meContinuousTime);
  ASSERT_NE(c, nullptr);
  double der[2];
  ASSERT_EQ(unit.fmi2GetDerivatives(c, der, 2), fmi2OK);
  EXPECT_GE(record(c)->levelReached, demandDerivatives);
  const double x[2] = {3.0, -2.0};
  ASSERT_EQ(unit.fmi2SetContinuousStates(c, x, 2), fmi2OK);
  EXPECT_EQ(record(c)->levelReached, 0);
  ASSERT_EQ(unit.fmi2GetDerivatives(c, der, 2), fmi2OK);
  const double u = 0.5;
  EXPECT_DOUBLE_EQ(der[0], (1.0 * u - 3.0) / 1.0);
  EXPECT_DOUBLE_EQ(der[1], (1.0 * u - -2.0) / 1.0);
  double back[2];
  ASSERT_EQ(unit.fmi2GetContinuousStates(c, back, 2), fmi2OK);
  EXPECT_EQ(back[0], 3.0);
  EXPECT_EQ(back[1], -2.0);

  ASSERT_EQ(unit.fmi2SetContinuousStates(c, x, 2), fmi2OK);
  EXPECT_EQ(record(c)->levelReached, 0);
  EXPECT_EQ(record(c)->valuesChanged, 1);
}

struct StepCase {
  const char* name;
  int stepEventFlag;
  fmi2Boolean enterEventMode;
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class ModelExchangeStep : public ModelExchange, public ::testing::WithParamInterface<StepCase> {};

// The completed step only reports: the step-event flag as enterEventMode, and never a model call.
TEST_P(ModelExchangeStep, CompletedStepReportsTheStepEventFlagWithoutEvaluating) {
  fmi2Component c = reach(meContinuousTime);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(unit.fmi2SetTime(c, 0.25), fmi2OK);
  record(c)->solverInts[solverIntStepEvent] = GetParam().stepEventFlag;
  host.clear();
  InstanceSnapshot before(c);
  fmi2Boolean enterEventMode = 7, terminate = 7;
  EXPECT_EQ(unit.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate), fmi2OK);
  EXPECT_EQ(enterEventMode, GetParam().enterEventMode);
  EXPECT_EQ(terminate, fmi2False);
  EXPECT_TRUE(InstanceSnapshot(c) == before);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"fmi2CompletedIntegratorStep"});
}

INSTANTIATE_TEST_SUITE_P(Cases, ModelExchangeStep,
                         ::testing::Values(StepCase{"NoStepEvent", 0, fmi2False}, StepCase{"StepEvent", 1, fmi2True},
                                           StepCase{"NegativeStepEventFlag", -3, fmi2True}),
                         quenzel_test::CaseName{});

TEST_F(ModelExchange, NominalsAreOneAndNeedNoMode) {
  for (MeMode mode : {meInstantiated, meTerminated}) {
    fmi2Component c = reach(mode);
    ASSERT_NE(c, nullptr);
    double nominals[2] = {0, 0};
    EXPECT_EQ(unit.fmi2GetNominalsOfContinuousStates(c, nominals, 2), fmi2OK);
    EXPECT_EQ(nominals[0], 1.0);
    EXPECT_EQ(nominals[1], 1.0);
    EXPECT_EQ(host.texts(), std::vector<std::string>{"fmi2GetNominalsOfContinuousStates"});
  }
}

// The mode-changing calls say what they do, and the terminate of Model Exchange only names itself.
TEST_F(ModelExchange, ModeChangesLogTheirProgress) {
  fmi2Component c = reach(meContinuousTime);
  ASSERT_NE(c, nullptr);
  fmi2EventInfo info{};
  ASSERT_EQ(unit.fmi2EnterEventMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  EXPECT_EQ(host.texts(),
            (std::vector<std::string>{"fmi2EnterEventMode...", "fmi2EnterEventMode done", "fmi2NewDiscreteStates...",
                                      "fmi2NewDiscreteStates completed", "fmi2EnterContinuousTimeMode...",
                                      "fmi2EnterContinuousTimeMode done", "fmi2Terminate"}));
  EXPECT_EQ(record(c)->mode, modeTerminated);
}

}  // namespace
