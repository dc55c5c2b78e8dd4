// fmi2DoStep's checks and statuses, the zero step, failures inside a step, and the
// Co-Simulation terminate's statistics report.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>

#include "case_names.h"
#include "unit_fixture.h"

namespace {

constexpr fmi2ValueReference timeSourceStartTime = model::parameter(14);

// Whether text has the form of pattern, where each '#' of the pattern stands for one or more
// digits.
bool hasForm(const std::string& text, const std::string& pattern) {
  size_t i = 0;
  for (char p : pattern) {
    if (p != '#') {
      if (i >= text.size() || text[i] != p) return false;
      ++i;
      continue;
    }
    size_t start = i;
    while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == start) return false;
  }
  return i == text.size();
}

class CoSimStepping : public UnitTest {
 protected:
  // A running Co-Simulation instance of the default scenario with the given experiment.
  fmi2Component running(fmi2Boolean stopTimeDefined = fmi2False, double stopTime = 0.0, double startTime = 0.0) {
    fmi2Component c = instantiate(fmi2CoSimulation);
    EXPECT_EQ(set(c, model::limiterUMin, -1.0), fmi2OK);
    EXPECT_EQ(set(c, model::limiter1UMin, -1.0), fmi2OK);
    EXPECT_EQ(set(c, timeSourceStartTime, 2.0), fmi2OK);
    EXPECT_EQ(set(c, model::outputSelector, 2.0), fmi2OK);
    EXPECT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, startTime, stopTimeDefined, stopTime), fmi2OK);
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    host.clear();
    return c;
  }
};

// Steps that are refused change nothing: the time stays, and a following correct step works.
struct RefusedStep {
  const char* name;
  double time;  // where the instance is when the step is tried
  double point;
  double step;
  const char* message;
};

void PrintTo(const RefusedStep& c, std::ostream* os) { *os << c.name; }

class RefusedSteps : public CoSimStepping, public ::testing::WithParamInterface<RefusedStep> {};

TEST_P(RefusedSteps, WarnAndChangeNothing) {
  const RefusedStep& c = GetParam();
  fmi2Component inst = running(fmi2True, 1.0);
  if (c.time > 0.0) {
    ASSERT_EQ(unit.fmi2DoStep(inst, 0.0, c.time, fmi2True), fmi2OK);
  }
  host.clear();
  double x = get(inst, model::filterY);
  EXPECT_EQ(unit.fmi2DoStep(inst, c.point, c.step, fmi2True), fmi2Warning);
  ASSERT_EQ(textsAt(fmi2Warning), std::vector<std::string>{c.message});
  EXPECT_EQ(lastTime(inst), c.time);
  EXPECT_EQ(get(inst, model::filterY), x);
  EXPECT_EQ(unit.fmi2DoStep(inst, c.time, 0.25, fmi2True), fmi2OK);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedSteps,
    ::testing::Values(
        RefusedStep{"PointOff", 0.5, 0.501, 0.1,
                    "fmi2DoStep: currentCommunicationPoint = 0.5010000000000000, expected 0.5000000000000000"},
        RefusedStep{"PastStopTime", 0.5, 0.5, 0.6,
                    "fmi2DoStep: trying to compute past tStop = 1.000000, to 1.1000000000000001,  at t = 0.500000"},
        RefusedStep{"NaNPoint", 0.5, NAN, 0.1, "fmi2DoStep: currentCommunicationPoint = nan is not a finite number"},
        RefusedStep{"InfinitePoint", 0.0, INFINITY, 0.1,
                    "fmi2DoStep: currentCommunicationPoint = inf is not a finite number"},
        RefusedStep{"NaNStep", 0.5, 0.5, NAN,
                    "fmi2DoStep: communicationStepSize = nan must be finite and not negative"},
        RefusedStep{"InfiniteStep", 0.5, 0.5, INFINITY,
                    "fmi2DoStep: communicationStepSize = inf must be finite and not negative"},
        RefusedStep{"NegativeStep", 0.5, 0.5, -0.25,
                    "fmi2DoStep: communicationStepSize = -0.25 must be finite and not negative"}),
    quenzel_test::CaseName{});

TEST_F(CoSimStepping, PointWithinRoundingOfTheTimeIsAccepted) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0 + 1e-17, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 1.5 - 2e-16, 0.5, fmi2True), fmi2OK);
  EXPECT_NEAR(lastTime(c), 2.0, 1e-15);
}

TEST_F(CoSimStepping, StepEndingJustPastTheStopTimeIsClipped) {
  fmi2Component c = running(fmi2True, 1.0);
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  host.clear();
  const double step = 0.5 + 1e-15;
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, step, fmi2True), fmi2OK);
  char expected[120];
  snprintf(expected, sizeof expected, "t = 0.500000: Reducing communicationStepSize %.16e s to avoid passing tStop.\n",
           0.5 + step - 1.0);
  EXPECT_EQ(host.texts().front(), expected);
  EXPECT_EQ(lastTime(c), 1.0);
  EXPECT_EQ(host.log.back().text, "fmi2DoStep");
}

TEST_F(CoSimStepping, RefusedInTheWrongMode) {
  fmi2Component c = instantiate(fmi2CoSimulation);
  consistentLimits(c);
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.1, fmi2True), fmi2Warning);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.1, fmi2True), fmi2Warning);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.1, fmi2True), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{"fmi2DoStep: model is terminated"});
}

// A step of size 0 is only the event iteration at the current time: the new input reaches the
// outputs, the time and the states stay, and nothing but the iteration's messages is logged.
TEST_F(CoSimStepping, ZeroStepRunsOnlyTheEventIteration) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  ASSERT_EQ(set(c, model::outputSelector, 1.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, 0.25), fmi2OK);
  double x = get(c, model::stored(model::filterY));
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, 0.0, fmi2True), fmi2OK);
  EXPECT_FALSE(host.contains("fmi2DoStep")) << "no message of the step itself";
  EXPECT_FALSE(host.contains("fmi2SetTime")) << "no time update";
  EXPECT_EQ(lastTime(c), 0.5);
  EXPECT_EQ(get(c, model::stored(model::filterY)), x);
  EXPECT_EQ(get(c, model::stored(model::y)), 0.25) << "outputs recomputed by the iteration";
}

// The stop time bounds only steps that advance: a step of size 0 at a time the host has since
// put past the stop time still runs its event iteration.
TEST_F(CoSimStepping, ZeroStepIgnoresTheStopTime) {
  fmi2Component c = running(fmi2True, 1.0);
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  ASSERT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 0.5, fmi2True, 0.25), fmi2OK);
  ASSERT_EQ(set(c, model::outputSelector, 1.0), fmi2OK);
  ASSERT_EQ(set(c, model::u, 0.25), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, 0.0, fmi2True), fmi2OK);
  EXPECT_TRUE(textsAt(fmi2Warning).empty());
  EXPECT_EQ(get(c, model::stored(model::y)), 0.25) << "outputs recomputed by the iteration";
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, 0.1, fmi2True), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning),
            std::vector<std::string>{"fmi2DoStep: trying to compute past tStop = 0.250000, to 0.6000000000000000,  at t = 0.500000"});
}

// The time events stop the integration where they are, within the step that contains them:
// the step moves the time to the ramp's start, iterates there and goes on to its end, so steps
// of 1 ms around the ramp's start see the ramp begin exactly at 2.
TEST_F(CoSimStepping, TimeEventInsideAStep) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 1.9, fmi2True), fmi2OK);
  host.clear();
  ASSERT_EQ(unit.fmi2DoStep(c, 1.9, 0.35, fmi2True), fmi2OK);
  std::vector<std::string> times;
  for (const std::string& text : host.texts())
    if (text.rfind("fmi2SetTime", 0) == 0) times.push_back(text);
  // Integrated up to the event, then the event time again for its iteration, then the end.
  EXPECT_EQ(times, (std::vector<std::string>{"fmi2SetTime to 2", "fmi2SetTime to 2", "fmi2SetTime to 2.25"}));
  EXPECT_NEAR(get(c, model::timeSourceY), 0.25, 1e-12);
}

// A host that called fmi2NewDiscreteStates on a Co-Simulation instance leaves it in an event
// mode; the next step must still advance (the step's own time updates are not mode-checked).
TEST_F(CoSimStepping, StepAfterNewDiscreteStatesAdvances) {
  if (!unit.fmi2NewDiscreteStates) GTEST_SKIP() << "fmi2NewDiscreteStates is not exported yet";
  fmi2Component c = running();
  fmi2EventInfo info{};
  ASSERT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  EXPECT_EQ(lastTime(c), 0.5);
}

// A communication step shorter than CVODE can start with right after a restart: the step is
// set explicitly and the step completes.
TEST_F(CoSimStepping, ToutTooCloseAfterARestartSetsTheInitialStep) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
  ASSERT_EQ(set(c, model::u, 2.0), fmi2OK);  // restart at the next step's point
  host.clear();
  double tiny = std::nextafter(1.0, 2.0) - 1.0;
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0, tiny, fmi2True), fmi2OK);
  bool explicitStep = false;
  for (const std::string& text : host.texts())
    explicitStep =
        explicitStep ||
        text.rfind("Internal step too small at t = 1.000000, setting initial step size explicitly to ", 0) == 0;
  EXPECT_TRUE(explicitStep);
  EXPECT_EQ(lastTime(c), 1.0 + tiny);
  EXPECT_EQ(unit.fmi2DoStep(c, 1.0 + tiny, 1.0, fmi2True), fmi2OK);
}

// ---- Failures inside a step -------------------------------------------------------------------

// filter.T set to 0 mid-run: the event iteration at the next communication point divides by
// zero; the step fails with the error exit (terminate and statistics), the instance refuses
// further steps, and nothing is left allocated.
TEST_F(CoSimStepping, ModelFailureAtTheCommunicationPointTerminates) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  ASSERT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, 0.5, fmi2True), fmi2Error);
  std::vector<std::string> errors = textsAt(fmi2Error);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), "event updating: dsblock_ failed, QiErr = 1");
  EXPECT_TRUE(host.contains("Sundials CVode Statistics"));
  EXPECT_TRUE(host.contains("fmi2Terminate completed"));
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, 0.5, fmi2True), fmi2Warning);
  EXPECT_EQ(textsAt(fmi2Warning), std::vector<std::string>{"fmi2DoStep: model is terminated"});
}

// A read that is discarded does not take back the host's change: the next step still runs the
// event iteration at the communication point, so a model that still fails there ends the run
// with the error exit instead of another fmi2Discard.
TEST_F(CoSimStepping, ADiscardedReadKeepsTheChangeForTheNextStep) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  ASSERT_EQ(set(c, model::filterT, 0.0), fmi2OK);
  fmi2Status status = fmi2OK;
  get(c, model::derFilterY, &status);
  ASSERT_EQ(status, fmi2Discard);
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.5, 0.5, fmi2True), fmi2Error);
  std::vector<std::string> errors = textsAt(fmi2Error);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), "event updating: dsblock_ failed, QiErr = 1");
  EXPECT_TRUE(textsAt(fmi2Discard).empty());
  EXPECT_TRUE(host.contains("fmi2Terminate completed"));
}

// Freeing a stepping instance without terminate releases its integrator (the sanitizer build
// checks the C heap) and everything taken from the host, without a report.
TEST_F(CoSimStepping, FreeWithoutTerminateReleasesTheIntegrator) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 2.5, fmi2True), fmi2OK);
  host.clear();
  release(c);
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
  EXPECT_FALSE(host.contains("Sundials CVode Statistics"));
}

// fmi2SetupExperiment while stepping moves the time back behind CVODE: the next step restarts
// CVODE at the new time and the instance's states, and steps on from there.
TEST_F(CoSimStepping, SetupExperimentWhileSteppingRestartsAtTheNewTime) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 2.5, fmi2True), fmi2OK);
  ASSERT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0), fmi2OK);
  host.clear();
  EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2OK);
  EXPECT_TRUE(textsAt(fmi2Error).empty());
  EXPECT_EQ(lastTime(c), 0.5);
}

// ---- A failed set-up ------------------------------------------------------------------------------

// Each host allocation of the integrator's set-up failing in turn: fmi2Fatal after the message
// naming the allocation, the instance still instantiated, nothing left allocated. The statistics are reported only when the set-up had got
// as far as its arrays (the record itself failing leaves nothing to report).
TEST_F(CoSimStepping, FailedSetupIsFatalAndLeavesTheInstanceInstantiated) {
  int fatalWithoutReport = 0, fatalWithReport = 0;
  for (long k = 1; k <= 12; ++k) {
    SCOPED_TRACE(k);
    fmi2Component c = instantiate(fmi2CoSimulation);
    consistentLimits(c);
    host.clear();
    hostAllocator().failAt = hostAllocator().calls + k;
    fmi2Status status = unit.fmi2EnterInitializationMode(c);
    hostAllocator().failAt = 0;
    if (status == fmi2OK) break;        // no allocation left to fail
    if (status != fmi2Fatal) continue;  // an allocation before the set-up
    (host.contains("Sundials CVode Statistics") ? fatalWithReport : fatalWithoutReport) += 1;
    // Which allocation failed, then why the answer is fmi2Fatal, both at fmi2Fatal.
    std::vector<std::string> fatal = textsAt(fmi2Fatal);
    ASSERT_EQ(fatal.size(), 2u);
    EXPECT_TRUE(fatal[0] == "memory allocation failed for the integrator record" ||
                fatal[0] == "memory allocation failed for the integrator's input and output buffers")
        << fatal[0];
    EXPECT_EQ(fatal[1], "fmi2EnterInitializationMode: the integrator could not be set up");
    EXPECT_EQ(probeMode(c), 0) << "still instantiated: a new initialisation is accepted";
    EXPECT_EQ(unit.fmi2DoStep(c, 0.0, 0.5, fmi2True), fmi2Warning);
    release(c);
    EXPECT_EQ(hostAllocator().liveBlocks, 0);
  }
  EXPECT_EQ(fatalWithoutReport, 1);
  EXPECT_EQ(fatalWithReport, 3);
}

// ---- The statistics report ----------------------------------------------------------------------

TEST_F(CoSimStepping, TerminateReportsTheStatistics) {
  fmi2Component c = running();
  double t = 0.0;
  for (int i = 0; i < 10; ++i, t += 0.1) ASSERT_EQ(unit.fmi2DoStep(c, t, 0.1, fmi2True), fmi2OK);
  host.clear();
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  std::vector<std::string> texts = host.texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], "fmi2Terminate...");
  EXPECT_TRUE(hasForm(texts[1],
                      "Sundials CVode Statistics\n"
                      "    Stop time                                : 1.00 s\n"
                      "    Simulation time                          : #.# s\n"
                      "    Number of external steps                 : 10\n"
                      "    Number of internal steps                 : #\n"
                      "    Number of non-linear iterations          : #\n"
                      "    Number of non-linear convergence failures: #\n"
                      "    Number of f function evaluations         : # (#.# s)\n"
                      "    Number of g function evaluations         : # (#.# s)\n"
                      "    Number of Jacobian-evaluations (direct)  : #\n"
                      "    Number of Jac function evaluations       : #\n"
                      "    Suggested tolerance scale factor         : 1.0\n"
                      "    Grouping used                            : yes"))
      << texts[1];
  const std::string label = "Number of internal steps                 : ";
  size_t at = texts[1].find(label);
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::stoi(texts[1].substr(at + label.size())), 0) << "the steps since the last restart count too";
  EXPECT_EQ(texts[2],
            "Rejected count\n"
            "    Number of external steps                 : 0\n"
            "    Number of internal steps                 : 0\n"
            "    Number of f function evaluations         : 0 (0.00 s)\n"
            "    Number of Jac function evaluations       : 0\n");
  EXPECT_EQ(texts[3], "fmi2Terminate completed");
}

TEST_F(CoSimStepping, NoReportWithLoggingOff) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 1.0, fmi2True), fmi2OK);
  ASSERT_EQ(unit.fmi2SetDebugLogging(c, fmi2False, 0, nullptr), fmi2OK);
  host.clear();
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  EXPECT_TRUE(host.log.empty());
}

// ---- Status functions ----------------------------------------------------------------------

TEST_F(CoSimStepping, StatusFunctions) {
  fmi2Component c = running();
  ASSERT_EQ(unit.fmi2DoStep(c, 0.0, 0.75, fmi2True), fmi2OK);
  host.clear();
  fmi2Status s = fmi2OK;
  fmi2Integer i = 0;
  fmi2Boolean b = fmi2True;
  fmi2String str = nullptr;
  fmi2Real r = 0.0;
  EXPECT_EQ(unit.fmi2CancelStep(c), fmi2Discard);
  EXPECT_EQ(unit.fmi2GetStatus(c, fmi2DoStepStatus, &s), fmi2Discard);
  EXPECT_EQ(unit.fmi2GetStringStatus(c, fmi2PendingStatus, &str), fmi2Discard);
  EXPECT_EQ(unit.fmi2GetRealStatus(c, fmi2DoStepStatus, &r), fmi2Discard);
  EXPECT_EQ(unit.fmi2GetIntegerStatus(c, fmi2LastSuccessfulTime, &i), fmi2Discard);
  EXPECT_EQ(unit.fmi2GetBooleanStatus(c, fmi2PendingStatus, &b), fmi2Discard);
  EXPECT_EQ(textsAt(fmi2Discard),
            (std::vector<std::string>{
                "fmi2CancelStep: asynchronous execution of fmiDoStep is not supported",
                "fmi2GetStatus: not supported since asynchronous execution of fmiDoStep is not supported",
                "fmi2GetStringStatus: not supported since asynchronous execution of fmiDoStep is not supported",
                "fmi2GetRealStatus: fmiStatusKind 0 unknown",
                "fmi2GetIntegerStatus: fmiStatusKind 2 unknown",
                "fmi2GetBooleanStatus: fmiStatusKind 1 unknown",
            }));
  host.clear();
  EXPECT_EQ(unit.fmi2GetRealStatus(c, fmi2LastSuccessfulTime, &r), fmi2OK);
  EXPECT_EQ(r, 0.75);
  EXPECT_EQ(unit.fmi2GetBooleanStatus(c, fmi2Terminated, &b), fmi2OK);
  EXPECT_EQ(b, fmi2False);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(unit.fmi2GetRealStatus(c, fmi2LastSuccessfulTime, nullptr), fmi2Warning);
  EXPECT_EQ(unit.fmi2GetBooleanStatus(c, fmi2Terminated, nullptr), fmi2Warning);
}

}  // namespace
