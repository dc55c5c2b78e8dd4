// The stepper against stock CVODE normal mode on small ODEs: where no stop callback is registered
// it must return what normal mode returns; the callback, the held-back root and the step limit
// are checked against the known solutions.
#include "cvode_stepper.h"

#include <gtest/gtest.h>
#include <nvector/nvector_serial.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

#include <cmath>
#include <string>
#include <vector>

#include "case_names.h"

namespace {

// y' = -y (one state) or the oscillator y0' = y1, y1' = -y0 (two states), or y' = 1.
enum class Ode { decay, oscillator, ramp };

struct Problem {
  Ode ode;
  double rootAt;  // one root function y0 - rootAt; NaN for none
  double consults = 0;
  long stopAtConsult = 0;      // the callback stops at this consult (1-based); 0 never
  double stopAfterTime = NAN;  // or stops once CVODE's time has passed this
  void* memory = nullptr;
};

extern "C" int problemRhs(double, N_Vector y, N_Vector ydot, void* data) {
  auto* p = static_cast<Problem*>(data);
  double* x = N_VGetArrayPointer(y);
  double* dx = N_VGetArrayPointer(ydot);
  switch (p->ode) {
    case Ode::decay:
      dx[0] = -x[0];
      break;
    case Ode::oscillator:
      dx[0] = x[1];
      dx[1] = -x[0];
      break;
    case Ode::ramp:
      dx[0] = 1.0;
      break;
  }
  return 0;
}

extern "C" int problemRoot(double, N_Vector y, double* g, void* data) {
  g[0] = N_VGetArrayPointer(y)[0] - static_cast<Problem*>(data)->rootAt;
  return 0;
}

extern "C" int problemStop(void* data) {
  auto* p = static_cast<Problem*>(data);
  p->consults += 1;
  if (p->stopAtConsult && p->consults == p->stopAtConsult) return 1;
  double tn = 0.0;
  CVodeGetCurrentTime(p->memory, &tn);
  return tn > p->stopAfterTime ? 1 : 0;  // false for NaN
}

struct Report {
  int code;
  std::string module, function, message;
};

extern "C" void recordReport(int code, const char* module, const char* function, char* message, void* data) {
  static_cast<std::vector<Report>*>(data)->push_back({code, module, function, message});
}

// One CVODE integration of a problem, set up like the driver's: BDF, dense solver.
class Integration {
 public:
  explicit Integration(Ode ode, double rootAt = NAN) : problem{ode, rootAt} {
    SUNContext_Create(nullptr, &context);
    long n = ode == Ode::oscillator ? 2 : 1;
    y = N_VNew_Serial(n, context);
    N_VConst(0.0, y);
    N_VGetArrayPointer(y)[0] = ode == Ode::ramp ? 0.0 : 1.0;
    memory = CVodeCreate(CV_BDF, context);
    problem.memory = memory;
    CVodeInit(memory, problemRhs, 0.0, y);
    CVodeSetUserData(memory, &problem);
    CVodeSStolerances(memory, 1e-6, 1e-8);
    matrix = SUNDenseMatrix(n, n, context);
    solver = SUNLinSol_Dense(y, matrix, context);
    CVodeSetLinearSolver(memory, solver, matrix);
    if (!std::isnan(rootAt)) CVodeRootInit(memory, 1, problemRoot);
    cvodeStepperAttach(&stepper, memory);
    cvodeStepperSetErrHandlerFn(&stepper, recordReport, &reports);
  }
  ~Integration() {
    CVodeFree(&memory);
    SUNLinSolFree(solver);
    SUNMatDestroy(matrix);
    N_VDestroy(y);
    SUNContext_Free(&context);
  }
  Integration(const Integration&) = delete;
  Integration& operator=(const Integration&) = delete;

  double value(int i = 0) const { return N_VGetArrayPointer(y)[i]; }
  long steps() const {
    long n = 0;
    CVodeGetNumSteps(memory, &n);
    return n;
  }
  double currentTime() const {
    double t = 0.0;
    CVodeGetCurrentTime(memory, &t);
    return t;
  }

  Problem problem;
  SUNContext context = nullptr;
  N_Vector y = nullptr;
  void* memory = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver solver = nullptr;
  CVodeStepper stepper{};
  std::vector<Report> reports;
};

struct Return {
  int flag;
  double t;
  double y;
};

Return stockCall(Integration& run, double tout) {
  double t = 0.0;
  int flag = CVode(run.memory, tout, run.y, &t, CV_NORMAL);
  return {flag, t, run.value()};
}

Return stepperCall(Integration& run, double tout) {
  double t = 0.0;
  int flag = cvodeStepperAdvance(&run.stepper, tout, run.y, &t);
  return {flag, t, run.value()};
}

// Without a callback the stepper is normal mode: a sequence of touts gives the same returns.
struct OracleCase {
  const char* name;
  Ode ode;
  double rootAt;
  std::vector<double> touts;
  double timeTolerance;  // a held-back root is located over a different bracket
};

void PrintTo(const OracleCase& c, std::ostream* os) { *os << c.name; }

class StepperMatchesNormalMode : public ::testing::TestWithParam<OracleCase> {};

TEST_P(StepperMatchesNormalMode, SameFlagsTimesAndValues) {
  const OracleCase& c = GetParam();
  Integration stock(c.ode, c.rootAt);
  Integration ours(c.ode, c.rootAt);
  for (double tout : c.touts) {
    // Normal mode is called again towards the same tout after a root, as the driver does.
    for (int repeat = 0; repeat < 3; ++repeat) {
      Return expected = stockCall(stock, tout);
      Return actual = stepperCall(ours, tout);
      SCOPED_TRACE("tout " + std::to_string(tout));
      ASSERT_EQ(actual.flag, expected.flag);
      EXPECT_NEAR(actual.t, expected.t, c.timeTolerance);
      EXPECT_NEAR(actual.y, expected.y, c.timeTolerance);
      if (expected.flag != CV_ROOT_RETURN) break;
    }
  }
  EXPECT_EQ(ours.steps(), stock.steps());
  EXPECT_TRUE(ours.reports.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StepperMatchesNormalMode,
    ::testing::Values(OracleCase{"decay", Ode::decay, NAN, {0.1, 0.1001, 0.5, 2.0, 2.0, 7.5}, 0.0},
                      OracleCase{"oscillator", Ode::oscillator, NAN, {0.3, 1.0, 1.7, 6.0, 20.0}, 0.0},
                      OracleCase{"root inside tout", Ode::decay, 0.5, {0.2, 1.0, 3.0}, 1e-12},
                      OracleCase{"oscillator roots", Ode::oscillator, 0.0, {1.0, 5.0, 12.0}, 1e-9},
                      OracleCase{"root beyond tout", Ode::ramp, 1.05, {0.5, 1.0, 1.04, 2.0, 3.0}, 1e-8}),
    quenzel_test::CaseName{});

// The ramp y' = 1 lets CVODE take huge steps, so the step that reaches tout 1.0 also passes the
// root at 1.05: normal mode reports it only in a later call, and so must the stepper.
TEST(CVodeStepper, RootBeyondToutIsHeldBackUntilToutReachesIt) {
  Integration run(Ode::ramp, 1.05);
  Return first = stepperCall(run, 1.0);
  ASSERT_GT(run.currentTime(), 1.05) << "the problem must step past the root";
  EXPECT_EQ(first.flag, CV_SUCCESS);
  EXPECT_EQ(first.t, 1.0);
  EXPECT_NEAR(first.y, 1.0, 1e-12);

  long steps = run.steps();
  Return before = stepperCall(run, 1.02);
  EXPECT_EQ(before.flag, CV_SUCCESS);
  EXPECT_NEAR(before.y, 1.02, 1e-12);
  Return root = stepperCall(run, 2.0);
  EXPECT_EQ(root.flag, CV_ROOT_RETURN);
  EXPECT_NEAR(root.t, 1.05, 1e-8);
  EXPECT_NEAR(root.y, 1.05, 1e-8);
  EXPECT_EQ(run.steps(), steps) << "the held-back root needs no new step";
}

TEST(CVodeStepper, ReInitDropsAHeldBackRoot) {
  Integration run(Ode::ramp, 1.05);
  ASSERT_EQ(stepperCall(run, 1.0).flag, CV_SUCCESS);
  ASSERT_GT(run.currentTime(), 1.05);
  // Restart above the root: y grows from 2, so no root lies ahead.
  N_VGetArrayPointer(run.y)[0] = 2.0;
  ASSERT_EQ(cvodeStepperReInit(&run.stepper, 1.0, run.y), CV_SUCCESS);
  Return next = stepperCall(run, 2.0);
  EXPECT_EQ(next.flag, CV_SUCCESS);
  EXPECT_EQ(next.t, 2.0);
  EXPECT_NEAR(next.y, 3.0, 1e-9);
}

// The callback stopping after a step that ends before tout: a root return at the step's end
// with the solution there.
TEST(CVodeStepper, StopBeforeToutEndsAtTheStep) {
  Integration run(Ode::decay);
  CVodeStepRootInit(&run.stepper, problemStop);
  run.problem.stopAtConsult = 4;
  Return r = stepperCall(run, 10.0);
  EXPECT_EQ(r.flag, CV_ROOT_RETURN);
  EXPECT_EQ(run.problem.consults, 4);
  EXPECT_EQ(run.steps(), 4) << "consulted once after each new step";
  EXPECT_EQ(r.t, run.currentTime());
  EXPECT_LT(r.t, 10.0);
  EXPECT_NEAR(r.y, std::exp(-r.t), 1e-5);

  // The next call goes on from there.
  run.problem.stopAtConsult = 0;
  Return rest = stepperCall(run, 10.0);
  EXPECT_EQ(rest.flag, CV_SUCCESS);
  EXPECT_EQ(rest.t, 10.0);
  EXPECT_NEAR(rest.y, std::exp(-10.0), 1e-6);
}

// The callback stopping after a step that passed tout: a root return at tout, with the
// solution interpolated there, not a success.
TEST(CVodeStepper, StopAfterPassingToutEndsAtTout) {
  Integration stock(Ode::decay);
  Integration run(Ode::decay);
  CVodeStepRootInit(&run.stepper, problemStop);
  run.problem.stopAfterTime = 0.7;
  Return expected = stockCall(stock, 0.7);
  Return r = stepperCall(run, 0.7);
  EXPECT_EQ(r.flag, CV_ROOT_RETURN);
  EXPECT_EQ(r.t, 0.7);
  EXPECT_GT(run.currentTime(), 0.7);
  EXPECT_EQ(r.y, expected.y);

  // A tout still inside that step is reached by interpolation, without asking the callback.
  double consults = run.problem.consults;
  Return inside = stepperCall(run, (0.7 + run.currentTime()) / 2);
  EXPECT_EQ(inside.flag, CV_SUCCESS);
  EXPECT_EQ(run.problem.consults, consults);
}

// A root found by a step returns without asking the callback about that step.
TEST(CVodeStepper, RootStepIsNotShownToTheCallback) {
  Integration run(Ode::decay, 0.5);
  CVodeStepRootInit(&run.stepper, problemStop);
  Return r = stepperCall(run, 3.0);
  ASSERT_EQ(r.flag, CV_ROOT_RETURN);
  EXPECT_NEAR(r.t, std::log(2.0), 1e-5);
  EXPECT_EQ(run.problem.consults, run.steps() - 1);
}

// One-step mode never enforces the step limit; the stepper does, with CVODE's own report,
// returning where normal mode returns.
TEST(CVodeStepper, StepLimitFailsLikeNormalMode) {
  Integration stock(Ode::oscillator);
  Integration run(Ode::oscillator);
  CVodeSetMaxNumSteps(stock.memory, 20);
  ASSERT_EQ(cvodeStepperSetMaxNumSteps(&run.stepper, 20), CV_SUCCESS);
  CVodeSetErrHandlerFn(stock.memory, recordReport, &stock.reports);

  Return expected = stockCall(stock, 1000.0);
  Return r = stepperCall(run, 1000.0);
  ASSERT_EQ(expected.flag, CV_TOO_MUCH_WORK);
  EXPECT_EQ(r.flag, CV_TOO_MUCH_WORK);
  EXPECT_EQ(r.t, expected.t);
  EXPECT_EQ(r.y, expected.y);
  EXPECT_EQ(run.steps(), 20);
  ASSERT_EQ(run.reports.size(), 1u);
  ASSERT_EQ(stock.reports.size(), 1u);
  EXPECT_EQ(run.reports[0].code, stock.reports[0].code);
  EXPECT_EQ(run.reports[0].module, "CVODE");
  EXPECT_EQ(run.reports[0].function, "CVode");
  EXPECT_EQ(run.reports[0].message, stock.reports[0].message);

  // The limit counts per call: the next call may take its own 20 steps.
  Return more = stepperCall(run, 1000.0);
  EXPECT_EQ(more.flag, CV_TOO_MUCH_WORK);
  EXPECT_EQ(run.steps(), 40);
}

TEST(CVodeStepper, NegativeLimitMeansNone) {
  Integration run(Ode::oscillator);
  ASSERT_EQ(cvodeStepperSetMaxNumSteps(&run.stepper, -1), CV_SUCCESS);
  Return r = stepperCall(run, 200.0);
  EXPECT_EQ(r.flag, CV_SUCCESS);
  EXPECT_GT(run.steps(), cvodeDefaultMaxSteps);
  EXPECT_NEAR(r.y, std::cos(200.0), 1e-3);
}

TEST(CVodeStepper, ToutTooCloseComesBackAsCVODEsFlag) {
  Integration stock(Ode::decay);
  Integration run(Ode::decay);
  Return expected = stockCall(stock, 0.0);
  Return r = stepperCall(run, 0.0);
  EXPECT_EQ(expected.flag, CV_TOO_CLOSE);
  EXPECT_EQ(r.flag, CV_TOO_CLOSE);
  ASSERT_EQ(run.reports.size(), 1u);
  EXPECT_EQ(run.reports[0].message, "tout too close to t0 to start integration.");
}

TEST(CVodeStepper, ToutBehindTheLastStepIsIllegalInput) {
  Integration run(Ode::decay);
  ASSERT_EQ(stepperCall(run, 5.0).flag, CV_SUCCESS);
  Return r = stepperCall(run, 0.001);
  EXPECT_EQ(r.flag, CV_ILL_INPUT);
  ASSERT_FALSE(run.reports.empty());
  EXPECT_EQ(run.reports.back().function, "CVode");
  EXPECT_EQ(run.reports.back().message.rfind("Trouble interpolating at tout = 0.001.", 0), 0u);
}

// tout beyond t0 by less than any step size CVODE can represent: the call returns a failure.
// CVODE fails the corrector of the ramp and the oscillator itself; the decay's step succeeds
// with a step size of 0 that leaves the time where it is, which the stepper ends.
TEST(CVodeStepper, AStretchBelowTheTimesResolutionFails) {
  for (Ode ode : {Ode::decay, Ode::ramp, Ode::oscillator}) {
    SCOPED_TRACE(static_cast<int>(ode));
    Integration run(ode);
    const Return r = stepperCall(run, 5e-324);
    EXPECT_LT(r.flag, 0);
    ASSERT_FALSE(run.reports.empty());
    if (ode == Ode::decay) {
      EXPECT_EQ(r.flag, CV_ERR_FAILURE);
      EXPECT_EQ(run.reports.back().message, "At t = 0, the step size is 0 and the time cannot advance.");
      EXPECT_EQ(r.t, 0.0);
    }
  }
}

TEST(CVodeStepper, NullMemoryIsReportedLikeCVODE) {
  CVodeStepper stepper;
  cvodeStepperAttach(&stepper, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(CVodeStepRootInit(&stepper, problemStop), CV_MEM_NULL);
  EXPECT_EQ(CVodeStepRootInit(nullptr, problemStop), CV_MEM_NULL);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("CVodeStepRootInit"), std::string::npos);
  EXPECT_NE(err.find("cvode_mem = NULL illegal."), std::string::npos);
}

}  // namespace
