// fmi2DoStep around CVODE on a real Co-Simulation instance: model failures inside CVODE's
// callbacks and at the start of a step, the model's step events, and CVODE's "tout too close"
// recovery. The instance's logger is tapped, so that a test can act on what the unit reports
// while CVODE runs: after each successful callback evaluation the unit logs "fmi2GetDerivatives"
// or "fmi2GetEventIndicators", and the runtime's texts of an evaluation in progress come the
// same way.
#include <cvode/cvode.h>
#include <gtest/gtest.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "case_names.h"
#include "cosim_instance.h"
#include "errors.h"
#include "integrator.h"
#include "integrator_callbacks.h"
#include "model.h"
#include "modelexchange.h"

namespace {

void tapLogger(fmi2ComponentEnvironment environment, fmi2String name, fmi2Status status, fmi2String category,
               fmi2String message, ...);

// The host's callbacks with a logger that shows every text to `onText` before the host records it.
struct LoggerTap {
  explicit LoggerTap(const fmi2CallbackFunctions* host)
      : host(host), functions{tapLogger, host->allocateMemory, host->freeMemory, host->stepFinished, this} {}
  const fmi2CallbackFunctions* host;
  const fmi2CallbackFunctions functions;
  std::function<void(const std::string&)> onText;
};

void tapLogger(fmi2ComponentEnvironment environment, fmi2String name, fmi2Status status, fmi2String category,
               fmi2String message, ...) {
  auto* tap = static_cast<LoggerTap*>(environment);
  char text[4096];
  va_list args;
  va_start(args, message);
  vsnprintf(text, sizeof text, message, args);
  va_end(args);
  if (tap->onText) tap->onText(text);
  tap->host->logger(tap->host->componentEnvironment, name, status, category, "%s", text);
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

constexpr const char* derivativesLogged = "fmi2GetDerivatives";
constexpr const char* indicatorsLogged = "fmi2GetEventIndicators";
constexpr const char* setTimeLogged = "fmi2SetTime to ";

class Stepping : public CoSimInstanceTest {
 protected:
  // An input away from the filters' start values, so that the states move.
  void SetUp() override {
    start(true, nullptr, -0.5);
    if (HasFatalFailure()) return;
    useTap();
  }

  void TearDown() override {
    tap.onText = nullptr;
    CoSimInstanceTest::TearDown();
  }

  void useTap() {
    instance->functions = &tap.functions;
    instance->loggingOn = 1;
    host.clear();
  }

  fmi2Status step(double h) { return fmiDoStep(instance, instance->time, h, fmi2True); }

  // Whether some message is exactly `text`.
  bool hasMessage(const std::string& text) const {
    std::vector<std::string> texts = host.texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }

  // The initial step CVODE took after its last restart.
  double initialStep() const {
    double h = -1.0;
    EXPECT_EQ(CVodeGetActualInitStep(instance->integrator->cvode.memory, &h), CV_SUCCESS);
    return h;
  }

  // The position of the first message holding `part`, or -1.
  long messageIndex(const std::string& part) const {
    std::vector<std::string> texts = host.texts();
    for (size_t i = 0; i < texts.size(); ++i)
      if (texts[i].find(part) != std::string::npos) return static_cast<long>(i);
    return -1;
  }

  // A model that asks to terminate in the middle of an evaluation, as the model's terminate()
  // would (the runtime's TerminateModel: status -999, the evaluation goes on to its end). This
  // model never does so itself, so the test makes one evaluation report something and
  // terminates it from the tap when the report arrives: with event logging on and the ramp's
  // start already passed, an evaluation that runs every section (one that sees a parameter
  // change) reports "Time event at time:". arm() makes the next evaluation such a one.
  void prepareTermination() {
    instance->solverInts[solverIntLogFlags] |= logFlagEvents;
    instance->parameters[parTimeSourceStartTime] = instance->time - 0.25;
  }
  void arm() { ++instance->solverInts[solverIntChangeCounter]; }
  bool terminateOn(const std::string& text) {
    if (!startsWith(text, "Time event at time:")) return false;
    TerminateModel("terminated by the test");
    return true;
  }

  LoggerTap tap{host.functions()};
};

// ---- Model failures inside CVODE's callbacks ------------------------------------------------------
//
// A callback must never take the instance's error exit, which would release the integrator while
// CVODE runs: QiErr 1 (division by zero here) is recoverable where CVODE allows it, any other code
// (a model asking to terminate, -999) is a non-recoverable -1; the instance keeps its integrator
// and its mode, and the failure reaches the driver through CVode's result.

enum class Callback { rhs, root, jacobian };
enum class Failure { divisionByZero, termination };

struct CallbackFailure {
  const char* name;
  Callback callback;
  Failure failure;
  int result;
  int rhsCalls;  // right-hand sides the callback evaluated
  const char* report;
};

void PrintTo(const CallbackFailure& c, std::ostream* os) { *os << c.name; }

class CallbackFailures : public Stepping, public ::testing::WithParamInterface<CallbackFailure> {};

// CVODE's arguments of one callback call: y at the instance's states, fy, work vectors, J.
struct CallbackArguments {
  explicit CallbackArguments(const CoSimIntegrator* integrator)
      : y(N_VClone(integrator->stateVector)),
        fy(N_VClone(y)),
        tmp{N_VClone(y), N_VClone(y), N_VClone(y)},
        J(SUNDenseMatrix(2, 2, integrator->context)) {
    N_VScale(1.0, integrator->stateVector, y);
  }
  ~CallbackArguments() {
    SUNMatDestroy(J);
    for (N_Vector v : {y, fy, tmp[0], tmp[1], tmp[2]}) N_VDestroy(v);
  }
  CallbackArguments(const CallbackArguments&) = delete;
  CallbackArguments& operator=(const CallbackArguments&) = delete;

  N_Vector y, fy;
  N_Vector tmp[3];
  SUNMatrix J;
};

TEST_P(CallbackFailures, NeverTakeTheErrorExit) {
  const CallbackFailure& c = GetParam();
  CallbackArguments arguments(instance->integrator);
  N_Vector y = arguments.y, fy = arguments.fy;
  N_Vector* tmp = arguments.tmp;
  double t = instance->time + 0.125;
  ASSERT_EQ(integratorRhs(t, y, fy, instance), 0);

  bool terminated = false;
  if (c.failure == Failure::divisionByZero) {
    instance->parameters[parFilterT] = 0.0;
  } else {
    prepareTermination();
    arm();
    tap.onText = [&](const std::string& text) { terminated = terminateOn(text) || terminated; };
  }
  CoSimIntegrator* integrator = instance->integrator;
  void* memory = integrator->cvode.memory;
  double* states = instance->states;
  double time = instance->time;
  int rhsBefore = integrator->statistics.rhsCalls;
  double y0 = N_VGetArrayPointer(y)[0], y1 = N_VGetArrayPointer(y)[1];
  host.clear();

  int result = 0;
  double g[10];
  switch (c.callback) {
    case Callback::rhs: result = integratorRhs(t, y, tmp[0], instance); break;
    case Callback::root: result = integratorRootFunction(t, y, g, instance); break;
    case Callback::jacobian:
      result = integratorDenseJacobian(t, y, fy, arguments.J, instance, tmp[0], tmp[1], tmp[2]);
      break;
  }

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(terminated, c.failure == Failure::termination);
  EXPECT_TRUE(host.contains(c.report)) << "the evaluation's own failure report";
  EXPECT_EQ(messageIndex("Sundials CVode Statistics"), -1) << "no terminate";
  ASSERT_EQ(instance->integrator, integrator);
  EXPECT_EQ(integrator->cvode.memory, memory);
  EXPECT_EQ(instance->mode, modeContinuousTime);
  EXPECT_EQ(integrator->statistics.rhsCalls, rhsBefore + c.rhsCalls);
  EXPECT_EQ(instance->states, states);
  EXPECT_EQ(instance->time, time);
  EXPECT_EQ(N_VGetArrayPointer(y)[0], y0);
  EXPECT_EQ(N_VGetArrayPointer(y)[1], y1);
  EXPECT_EQ(instance->solverInts[solverIntJacobianInProgress], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CallbackFailures,
    ::testing::Values(
        CallbackFailure{"RhsDivisionByZero", Callback::rhs, Failure::divisionByZero, 1, 1,
                        "fmi2GetDerivatives: dsblock_ failed, QiErr = 1"},
        CallbackFailure{"RhsTermination", Callback::rhs, Failure::termination, -1, 1,
                        "fmi2GetDerivatives: dsblock_ failed, QiErr = -999"},
        CallbackFailure{"RootDivisionByZero", Callback::root, Failure::divisionByZero, -1, 0,
                        "fmi2GetEventIndicators: dsblock_ failed, QiErr = 1"},
        CallbackFailure{"RootTermination", Callback::root, Failure::termination, -1, 0,
                        "fmi2GetEventIndicators: dsblock_ failed, QiErr = -999"},
        // The grouped evaluation fails; QiErr 1 sends the matrix to the column method, which
        // tries the first column five times; -999 ends the Jacobian at once.
        CallbackFailure{"JacobianDivisionByZero", Callback::jacobian, Failure::divisionByZero, 1, 1 + 5,
                        "fmi2GetDerivatives: dsblock_ failed, QiErr = 1"},
        CallbackFailure{"JacobianTermination", Callback::jacobian, Failure::termination, -1, 1,
                        "fmi2GetDerivatives: dsblock_ failed, QiErr = -999"}),
    quenzel_test::CaseName{});

// The same failures while fmi2DoStep runs CVODE: the callback's -1 makes CVode return its failure
// flag, and only then does the step take the error exit (terminate with its statistics report,
// modeTerminated, the integrator released). Every evaluation after the step's first one runs all
// sections and reports the ramp (re-armed after each); the one that terminates is picked by where
// CVODE's first step evaluates: f at the start, f for the initial step size (later than the start),
// the roots at the start, then f and the Jacobian of the Newton iteration.
enum class Target { rhsForTheInitialStep, rootsAtTheStart, jacobian };

struct StepTermination {
  const char* name;
  Target target;
  const char* report;
  const char* cvodeFlag;
};

void PrintTo(const StepTermination& c, std::ostream* os) { *os << c.name; }

class TerminationInsideAStep : public Stepping, public ::testing::WithParamInterface<StepTermination> {};

TEST_P(TerminationInsideAStep, TakesTheErrorExitAfterCVodeReturned) {
  const StepTermination& c = GetParam();
  ASSERT_EQ(step(0.0), fmi2OK);  // a restart: the next step begins with CVODE's first step
  const double t0 = instance->time;
  prepareTermination();
  bool terminated = false;
  bool inJacobian = false;
  tap.onText = [&](const std::string& text) {
    if (text == derivativesLogged || text == indicatorsLogged) {
      instance->modelData->timeEventStates[0] = 0;  // the ramp reports its start again
      arm();
    }
    bool target = c.target == Target::jacobian ? instance->solverInts[solverIntJacobianInProgress] != 0
                  : c.target == Target::rootsAtTheStart ? instance->time == t0
                                                         : instance->time > t0;
    if (!terminated && target && terminateOn(text)) {
      terminated = true;
      inJacobian = instance->solverInts[solverIntJacobianInProgress] != 0;
    }
  };
  host.clear();

  EXPECT_EQ(step(1.0), fmi2Error);
  EXPECT_TRUE(terminated);
  EXPECT_EQ(inJacobian, c.target == Target::jacobian);
  EXPECT_EQ(instance->mode, modeTerminated);
  EXPECT_EQ(instance->integrator, nullptr);
  long failure = messageIndex(c.report);
  long cvodeReturned = messageIndex(std::string("failed with ") + c.cvodeFlag);
  long stepFailed = messageIndex("fmi2DoStep: integration_step failed");
  long report = messageIndex("Sundials CVode Statistics");
  ASSERT_GE(failure, 0);
  ASSERT_GE(cvodeReturned, 0);
  ASSERT_GE(stepFailed, 0);
  ASSERT_GE(report, 0);
  EXPECT_LT(failure, cvodeReturned);
  EXPECT_LT(cvodeReturned, stepFailed);
  EXPECT_LT(stepFailed, report) << "the error exit only once CVode has returned";
  tap.onText = nullptr;
  EXPECT_EQ(step(1.0), fmi2Warning) << "a terminated instance refuses further steps";
}

INSTANTIATE_TEST_SUITE_P(
    Table, TerminationInsideAStep,
    ::testing::Values(StepTermination{"RightHandSide", Target::rhsForTheInitialStep,
                                      "fmi2GetDerivatives: dsblock_ failed, QiErr = -999", "CV_RHSFUNC_FAIL"},
                      StepTermination{"RootFunction", Target::rootsAtTheStart,
                                      "fmi2GetEventIndicators: dsblock_ failed, QiErr = -999", "CV_RTFUNC_FAIL"},
                      StepTermination{"Jacobian", Target::jacobian, "fmi2GetDerivatives: dsblock_ failed, QiErr = -999",
                                      "CV_LSETUP_FAIL"}),
    quenzel_test::CaseName{});

// ---- The evaluation at the start of a step --------------------------------------------------------

// With nothing changed since the last model call and the derivatives not up to date, the step
// evaluates the model first. QiErr 1 there is fmi2Discard with the evaluation's report: nothing is
// integrated and the instance stays usable, so that once the parameter is repaired the same step
// succeeds.
TEST_F(Stepping, FailedEvaluationAtTheStartDiscardsTheStep) {
  instance->parameters[parFilterT] = 0.0;
  instance->valuesChanged = 0;
  instance->levelReached = 0;
  double t0 = instance->time;
  double x0 = instance->states[0];
  long steps = cvodeSteps();
  double reached = cvodeTime();
  IntegratorStatistics before = instance->integrator->statistics;
  host.clear();

  EXPECT_EQ(step(0.5), fmi2Discard);
  EXPECT_TRUE(host.contains("fmi2DoStep: dsblock_ failed, QiErr = 1"));
  EXPECT_TRUE(host.contains("division by zero"));
  EXPECT_EQ(messageIndex("integration_step failed"), -1);
  EXPECT_EQ(instance->time, t0);
  EXPECT_EQ(instance->states[0], x0);
  EXPECT_EQ(instance->mode, modeContinuousTime);
  ASSERT_NE(instance->integrator, nullptr);
  EXPECT_EQ(cvodeSteps(), steps) << "CVODE was not called";
  EXPECT_EQ(cvodeTime(), reached);
  EXPECT_EQ(instance->integrator->statistics.rhsCalls, before.rhsCalls);
  EXPECT_EQ(instance->integrator->statistics.externalSteps, before.externalSteps);

  instance->parameters[parFilterT] = 1.0;
  host.clear();
  EXPECT_EQ(fmiDoStep(instance, t0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(instance->time, t0 + 0.5);
  EXPECT_NE(instance->states[0], x0);
  EXPECT_EQ(instance->integrator->statistics.externalSteps, before.externalSteps + 1);
}

// ---- Step events ----------------------------------------------------------------------------------

// The model's step-event flag set during an evaluation inside the step (from the tap, once the
// right-hand side has been evaluated past `after`, relative to the step): the CVode call ends as a
// root return after that internal step, or at tout when the step passed it; the driver sets the
// time there, runs the event iteration (which clears the flag) and restarts CVODE, whose first
// evaluation is then at that time; the step still ends at its end.
struct StepEvent {
  const char* name;
  double after;  // as a fraction of the step
  bool atStepEnd;
};

void PrintTo(const StepEvent& c, std::ostream* os) { *os << c.name; }

class StepEvents : public Stepping, public ::testing::WithParamInterface<StepEvent> {};

TEST_P(StepEvents, EndTheIntegrationCallAndRestart) {
  const StepEvent& c = GetParam();
  ASSERT_EQ(step(0.0), fmi2OK);  // CVODE starts afresh, with small steps that cross the step
  const double t0 = instance->time;
  const double h = 1.0;
  const double tEnd = t0 + h;
  double flagSetAt = NAN;
  // The driver's time settings ('t') and the right-hand sides ('f'), with their times.
  std::vector<std::pair<char, double>> trace;
  tap.onText = [&](const std::string& text) {
    if (startsWith(text, setTimeLogged)) trace.emplace_back('t', instance->time);
    if (text != derivativesLogged) return;
    trace.emplace_back('f', instance->time);  // the evaluation's time, inside the callback's frame
    if (std::isnan(flagSetAt) && instance->time > t0 + c.after * h) {
      instance->solverInts[solverIntStepEvent] = 1;
      flagSetAt = instance->time;
    }
  };
  int32_t internalSteps = instance->integrator->statistics.internalSteps;

  EXPECT_EQ(step(h), fmi2OK);
  ASSERT_FALSE(std::isnan(flagSetAt)) << "no evaluation late enough";
  EXPECT_EQ(instance->time, tEnd);
  EXPECT_EQ(instance->solverInts[solverIntStepEvent], 0) << "the event iteration ran";
  EXPECT_GT(instance->integrator->statistics.internalSteps, internalSteps) << "CVODE was restarted";

  // Two time settings: the event's, then the driver's own at the end of the step.
  std::vector<size_t> settings;
  for (size_t i = 0; i < trace.size(); ++i)
    if (trace[i].first == 't') settings.push_back(i);
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_EQ(trace[settings[1]].second, tEnd);
  double event = trace[settings[0]].second;
  if (c.atStepEnd) {
    EXPECT_GT(flagSetAt, tEnd);
    EXPECT_EQ(event, tEnd);
  } else {
    EXPECT_GT(event, t0);
    EXPECT_LE(event, flagSetAt);
    EXPECT_LT(event, tEnd);
  }
  // Restarted at the event: CVODE's first evaluation afterwards is at the event's time.
  ASSERT_LT(settings[0] + 1, trace.size());
  EXPECT_EQ(trace[settings[0] + 1], std::make_pair('f', event));
}

INSTANTIATE_TEST_SUITE_P(Table, StepEvents,
                         ::testing::Values(StepEvent{"InsideTheStep", 0.25, false},
                                           StepEvent{"InTheStepThatPassesTout", 1.0, true}),
                         quenzel_test::CaseName{});

// ---- tout too close to start from -----------------------------------------------------------------

// Right after a restart CVODE reports a current step of 0.0; a tout within a few ulps of the time
// makes it refuse to start (CV_TOO_CLOSE). The driver then sets the initial step to
// (|a| + 1) * 2^-51, where a is whichever of tout and the instance time is larger in magnitude,
// and integrates again. The times are chosen so that the other choice of a gives another step.
struct TooClose {
  const char* name;
  double time;
  double tout;
  double h;
  const char* message;
};

void PrintTo(const TooClose& c, std::ostream* os) { *os << c.name; }

class ToutTooClose : public Stepping, public ::testing::WithParamInterface<TooClose> {};

TEST_P(ToutTooClose, SetsTheInitialStepFromTheLargerTime) {
  const TooClose& c = GetParam();
  fmiSetTimeUnchecked(instance, c.time);
  ASSERT_EQ(integratorReInit(instance), 0);
  double h = -1.0;
  ASSERT_EQ(CVodeGetCurrentStep(instance->integrator->cvode.memory, &h), CV_SUCCESS);
  ASSERT_EQ(h, 0.0);
  host.clear();

  EXPECT_EQ(integratorIntegrate(instance, c.tout), 0);
  EXPECT_TRUE(host.contains("CV_TOO_CLOSE"));
  EXPECT_TRUE(hasMessage(c.message)) << c.message;
  EXPECT_GT(cvodeSteps(), 0) << "CVode was called again and stepped";
  EXPECT_EQ(initialStep(), c.h);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToutTooClose,
    ::testing::Values(
        // a = tout: (2 - 2^-53) rounds to 2, h = 2^-50; a = time would give (2 - 2^-52) * 2^-51.
        TooClose{"ToutLarger", 0x1.ffffffffffffep-1, 0x1.fffffffffffffp-1, 0x1p-50,
                 "Internal step too small at t = 1.000000, setting initial step size explicitly to "
                 "8.8817841970012523e-16"},
        // a = time: the same two magnitudes the other way round, at negative times.
        TooClose{"TimeLarger", -0x1.fffffffffffffp-1, -0x1.ffffffffffffep-1, 0x1p-50,
                 "Internal step too small at t = -1.000000, setting initial step size explicitly to "
                 "8.8817841970012523e-16"}),
    quenzel_test::CaseName{});

// When CVODE does report a step (a first step after a restart that failed, leaving CVODE at its
// start with the step it had tried), that step becomes the initial step.
TEST_F(Stepping, ToutTooCloseTakesCVODEsCurrentStep) {
  ASSERT_EQ(integratorReInit(instance), 0);
  // The first step fails for good: once the initial step is chosen and the roots at the start
  // are checked, every evaluation divides by zero, until CVODE gives up at its start.
  tap.onText = [&](const std::string& text) {
    if (text == indicatorsLogged) instance->parameters[parFilterT] = 0.0;
  };
  double tret = 0.0;
  CoSimIntegrator* integrator = instance->integrator;
  ASSERT_LT(cvodeStepperAdvance(&integrator->cvode, instance->time + 1.0, integrator->stateVector, &tret), 0);
  tap.onText = nullptr;
  instance->parameters[parFilterT] = 1.0;
  ASSERT_EQ(cvodeSteps(), 0);
  double h = 0.0;
  ASSERT_EQ(CVodeGetCurrentStep(integrator->cvode.memory, &h), CV_SUCCESS);
  ASSERT_NE(h, 0.0);
  double tout = std::nextafter(instance->time, 1.0);
  ASSERT_NE(h, (tout + 1.0) * 0x1p-51) << "the two ways give different steps";
  host.clear();

  EXPECT_EQ(integratorIntegrate(instance, tout), 0);
  char expected[200];
  snprintf(expected, sizeof expected,
           "Internal step too small at t = %f, setting initial step size explicitly to %.16e", instance->time, h);
  EXPECT_TRUE(host.contains("CV_TOO_CLOSE"));
  EXPECT_TRUE(hasMessage(expected)) << expected;
  EXPECT_EQ(cvodeSteps(), 1);
  EXPECT_EQ(initialStep(), h);
}

}  // namespace
