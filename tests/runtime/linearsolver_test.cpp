// The dense linear solver: LU with the condition check and its reuse, equilibration, the
// minimum-norm QR path with its rank, marks, residual check and retry, the texts of non-finite
// values, the singular-system report, and LAPACK's error handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "globalcontext.h"
#include "guarded_call.h"
#include "lapack.h"
#include "linearsolver.h"

namespace {

const double reportTol = 1e7 * DBL_EPSILON;

// One matrix with the arrays the caller owns. Rows are given as written; A is stored column-major.
struct System {
  int32_t n;
  std::vector<double> A, work;
  std::vector<int32_t> pivots, marks;
  int32_t state = 0;

  explicit System(std::vector<std::vector<double>> rows)
      : n(static_cast<int32_t>(rows.size())), A(n * n), work(n * n + 6 * n), pivots(n + 1), marks(n) {
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < n; ++j) A[i + j * n] = rows[i][j];
  }

  double product(const std::vector<double>& x, int32_t row) const {
    double s = 0.0;
    for (int32_t j = 0; j < n; ++j) s += A[row + j * n] * x[j];
    return s;
  }
};

struct Outcome {
  std::vector<double> x;
  int32_t status = -1;
  std::vector<std::string> texts;
};

Outcome Solve(System& s, int32_t mode, std::vector<double> b, const double* reference = nullptr,
              double tol = reportTol, const char* const* names = nullptr,
              const int32_t* options = nullptr, int32_t systemNumber = 7) {
  RuntimeMessageRecorder recorder;
  Outcome out;
  out.x = std::move(b);
  SolveLinearSystem(&mode, s.A.data(), &s.n, &s.n, out.x.data(), reference, &tol, s.pivots.data(),
                    s.work.data(), s.marks.data(), &s.state, &out.status, &systemNumber, names,
                    options);
  out.texts = recorder.texts();
  return out;
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i + 1;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(LinearSolver, WellConditionedSystemIsSolvedByLUAndItsFactorsReused) {
  System s({{4, 1, 0}, {1, 3, 1}, {0, 1, 2}});
  Outcome first = Solve(s, 0, {5, 5, 3});
  EXPECT_EQ(first.status, linearSolverSolved);
  EXPECT_EQ(s.state, linearSolverLU);
  ExpectNear(first.x, {1, 1, 1}, 1e-14);
  EXPECT_EQ(s.marks, (std::vector<int32_t>{0, 0, 0}));
  EXPECT_TRUE(first.texts.empty());

  // The held factors answer a new right-hand side; the matrix itself is not read again.
  std::vector<double> original = s.A;
  std::fill(s.A.begin(), s.A.end(), 0.0);
  Outcome second = Solve(s, 0, {4, 1, -1});
  EXPECT_EQ(second.status, linearSolverSolved);
  EXPECT_EQ(s.state, linearSolverLU);
  s.A = original;
  for (int32_t i = 0; i < s.n; ++i) EXPECT_NEAR(s.product(second.x, i), (std::vector<double>{4, 1, -1})[i], 1e-14);
}

TEST(LinearSolver, ModeDecidesBetweenLUAndQR) {
  struct Case {
    int32_t mode;
    int32_t state;
  } cases[] = {{0, linearSolverLU}, {1, linearSolverQR}, {2, linearSolverLU}, {3, linearSolverQR}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    System s({{2, -1, 0}, {-1, 2, -1}, {0, -1, 2}});
    Outcome out = Solve(s, c.mode, {1, 0, 1});
    EXPECT_EQ(s.state, c.state);
    EXPECT_EQ(out.status, linearSolverSolved);
    ExpectNear(out.x, {1, 1, 1}, 1e-14);
    if (c.state == linearSolverQR) {
      EXPECT_EQ(s.pivots[3], 3);  // full rank
      EXPECT_EQ(s.marks, (std::vector<int32_t>{0, 0, 0}));
    }
  }
}

TEST(LinearSolver, EquilibrationRecordsItsScalingAndSolvesTheOriginalSystem) {
  struct Case {
    std::vector<std::vector<double>> rows;
    int32_t scaling;
  } cases[] = {
      {{{1e10, 1e10}, {1, 2}}, linearSolverRowScaled},
      {{{1e10, 1}, {2e10, 3}}, linearSolverColumnScaled},
      {{{1e10, 1e5}, {1, 1e-3}}, linearSolverRowScaled | linearSolverColumnScaled},
      {{{2, 1}, {1, 3}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scaling);
    System s(c.rows);
    const std::vector<double> expected = {0.5, -2};
    const std::vector<double> b = {s.product(expected, 0), s.product(expected, 1)};
    Outcome out = Solve(s, 2, b);
    EXPECT_EQ(s.state, c.scaling | linearSolverLU);
    EXPECT_EQ(out.status, linearSolverSolved);
    ExpectNear(out.x, expected, 1e-12);
    // The scale factors stay with the factors for the next right-hand side.
    Outcome again = Solve(s, 2, {s.product({1, 1}, 0), s.product({1, 1}, 1)});
    ExpectNear(again.x, {1, 1}, 1e-12);
  }
}

TEST(LinearSolver, RankTakenInAgainWhenTheLooseRankLeavesTooLargeAResidual) {
  // Unscaled, the condition estimate rejects LU and the rank estimate stops at 1 although the
  // second column is dependent only by the tolerance; the rank-1 solution misses b, so the call
  // factorises once more with both columns and solves exactly.
  System s({{1e10, 1e10}, {1, 2}});
  Outcome out = Solve(s, 0, {2e10, 3});
  EXPECT_EQ(s.state, linearSolverQR);
  EXPECT_EQ(s.pivots[2], 2);
  EXPECT_EQ(out.status, linearSolverSolved);
  ExpectNear(out.x, {1, 1}, 1e-6);
  EXPECT_TRUE(out.texts.empty());
}

TEST(LinearSolver, RankDeficientSystemsGetTheMinimumNormSolution) {
  struct Case {
    const char* what;
    std::vector<std::vector<double>> rows;
    std::vector<double> b;
    std::vector<double> reference;  // empty: none
    std::vector<double> x;
    int32_t rank;
  } cases[] = {
      {"one zero row", {{1, 0}, {0, 0}}, {2, 0}, {}, {2, 0}, 1},
      {"equal columns", {{1, 1}, {1, 1}}, {2, 2}, {}, {1, 1}, 1},
      {"closest to the reference", {{1, 1}, {1, 1}}, {2, 2}, {1, 3}, {0, 2}, 1},
      {"reference itself solves", {{1, 1}, {1, 1}}, {2, 2}, {3, -1}, {3, -1}, 1},
      {"3 x 3 of rank 2", {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {1, 4, 7}, {}, {5.0 / 6, 1.0 / 3, -1.0 / 6}, 2},
      {"3 x 3 of rank 1",
       {{1, 2, 2}, {2, 4, 4}, {3, 6, 6}}, {9, 18, 27}, {}, {1, 2, 2}, 1},
  };
  for (int32_t mode : {0, 3}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", mode " + std::to_string(mode));
      System s(c.rows);
      Outcome out = Solve(s, mode, c.b, c.reference.empty() ? nullptr : c.reference.data());
      EXPECT_EQ(out.status, linearSolverMinimumNorm);
      EXPECT_EQ(s.state & 3, linearSolverQR);
      EXPECT_EQ(s.pivots[s.n], c.rank);
      ExpectNear(out.x, c.x, 1e-12);
      int32_t marked = 0;
      for (int32_t m : s.marks) marked += m;
      EXPECT_EQ(marked, s.n - c.rank);
      EXPECT_TRUE(out.texts.empty());
    }
  }
  // Which variable is marked follows the column order: the zero column's.
  System s({{1, 0}, {0, 0}});
  Solve(s, 0, {2, 0});
  EXPECT_EQ(s.marks, (std::vector<int32_t>{0, 1}));
}

TEST(LinearSolver, InconsistentRankDeficientSystemReportsItsResidual) {
  System s({{1, 0}, {0, 0}});
  Outcome out = Solve(s, 0, {2, 1});
  EXPECT_EQ(out.status, linearSolverRejected);
  ExpectNear(out.x, {2, 0}, 0);
  EXPECT_EQ(out.texts, (Texts{"Residual component 2 of system 7 is 1.000000e+00"}));

  // The options may keep the status, never the text.
  System t({{1, 0}, {0, 0}});
  const int32_t keep[] = {0, 0, 1};
  Outcome kept = Solve(t, 0, {2, 1}, nullptr, reportTol, nullptr, keep);
  EXPECT_EQ(kept.status, linearSolverMinimumNorm);
  EXPECT_EQ(kept.texts, out.texts);
}

TEST(LinearSolver, ZeroMatrixHasRankZeroAndItsResidualChecked) {
  struct Case {
    int32_t mode;
    std::vector<double> b;
    std::vector<double> reference;
    int32_t status;
    std::vector<double> x;
    Texts texts;
  } cases[] = {
      {0, {0, 0}, {}, linearSolverMinimumNorm, {0, 0}, {}},
      {2, {0, 0}, {}, linearSolverMinimumNorm, {0, 0}, {}},
      {3, {0, 0}, {5, 6}, linearSolverMinimumNorm, {5, 6}, {}},
      {0, {1, 0}, {}, linearSolverRejected, {0, 0}, {"Residual component 1 of system 7 is 1.000000e+00"}},
      {3, {0, -2}, {5, 6}, linearSolverRejected, {5, 6}, {"Residual component 2 of system 7 is -2.000000e+00"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    System s({{0, 0}, {0, 0}});
    Outcome out = Solve(s, c.mode, c.b, c.reference.empty() ? nullptr : c.reference.data());
    EXPECT_EQ(s.state & 3, linearSolverQR);
    EXPECT_EQ(s.pivots[2], 0);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.x, c.x);
    EXPECT_EQ(s.marks, (std::vector<int32_t>{1, 1}));
    EXPECT_EQ(out.texts, c.texts);
  }
}

TEST(LinearSolver, NonFiniteValuesAreReportedPerComponent) {
  const std::string longName(150, 'v');
  const char* longNames[] = {longName.c_str()};
  const char* shortNames[] = {"a.b"};
  const int32_t keep[] = {0, 0, 1};
  struct Case {
    const char* what;
    double b;
    const char* const* names;
    const int32_t* options;
    int32_t status;
    Texts texts;
  } cases[] = {
      {"NaN right-hand side", NAN, nullptr, nullptr, linearSolverRejected,
       {"Rhs component 1 of system 7 is nan", "Solution component 1 of system 7 is nan"}},
      {"infinite right-hand side, a long name", INFINITY, longNames, nullptr, linearSolverRejected,
       {"Rhs component 1 of system 7 is inf", "In system 7 " + std::string(140, 'v') + "... = inf"}},
      {"named, status kept", -INFINITY, shortNames, keep, linearSolverSolved,
       {"Rhs component 1 of system 7 is -inf", "In system 7 a.b = -inf"}},
      {"DBL_MAX counts as not finite", DBL_MAX, nullptr, nullptr, linearSolverRejected,
       {"Rhs component 1 of system 7 is 1.797693e+308", "Solution component 1 of system 7 is inf"}},
      {"finite overflow of the solution", 1e308, nullptr, nullptr, linearSolverRejected,
       {"Solution component 1 of system 7 is inf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    System s(std::vector<std::vector<double>>{{0.5}});
    Outcome out = Solve(s, 0, {c.b}, nullptr, reportTol, c.names, c.options);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.texts, c.texts);
  }
  // A NaN reaches every component that the substitutions combine with it, and each is reported.
  System lu({{2, 1}, {1, 2}});
  Outcome spread = Solve(lu, 0, {NAN, 1});
  EXPECT_EQ(spread.status, linearSolverRejected);
  EXPECT_EQ(spread.texts.size(), 3u);
  EXPECT_EQ(spread.texts[0], "Rhs component 1 of system 7 is nan");
  // On the rank-deficient path a NaN makes the residual fail instead of passing unnoticed.
  System s({{1, 0}, {0, 0}});
  Outcome out = Solve(s, 0, {NAN, 0});
  EXPECT_EQ(out.status, linearSolverRejected);
  ASSERT_GE(out.texts.size(), 2u);
  EXPECT_EQ(out.texts[0], "Rhs component 1 of system 7 is nan");
  EXPECT_EQ(out.texts[1], "Residual component 1 of system 7 is nan");
}

namespace {

std::vector<std::pair<int, std::string>> sinkTexts;
void recordSink(int type, const char* text) {
  if (std::string(text) != "\n") sinkTexts.emplace_back(type, text);
}

// The report entry with the sink recorded.
class SolverReport : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = globalContext;
    sinkTexts.clear();
    globalContext.messageCallback = recordSink;
  }
  void TearDown() override { globalContext = saved_; }

  struct Reported {
    std::vector<double> x;
    int32_t error = -1;
    Texts logged;
    Texts sunk;
  };

  Reported Report(System& s, std::vector<double> b, int32_t reportSwitch, int32_t reportLevel,
                  const char* const* names = nullptr, const int32_t* options = nullptr) {
    RuntimeMessageRecorder recorder;
    std::vector<int32_t> ints(2 * s.n + 1);
    Reported r;
    r.x = std::move(b);
    const int32_t number = 4, mode = 0;
    const double time = 1.5;
    SolveLinearSystemReport(&number, &mode, s.A.data(), &s.n, &s.n, r.x.data(), nullptr, &time,
                            &reportSwitch, &reportLevel, s.work.data(), ints.data(), &s.state,
                            names, &r.error, options);
    s.marks.assign(ints.begin() + s.n + 1, ints.end());
    r.logged = recorder.texts();
    for (auto& [type, text] : sinkTexts) {
      EXPECT_EQ(type, 1);
      r.sunk.push_back(text);
    }
    sinkTexts.clear();
    return r;
  }

  GlobalContext saved_;
};

}  // namespace

TEST_F(SolverReport, SingularSystemIsReportedOnlyWhenAskedOrRejected) {
  struct Case {
    std::vector<double> b;
    int32_t reportSwitch, reportLevel;
    int32_t error;
    Texts logged;
    Texts sunk;
  } cases[] = {
      {{2, 0}, 0, 100, 0, {}, {}},
      {{2, 0}, 1, 79, 0, {}, {}},
      {{2, 0}, 1, 80, 0, {"... 2"},
       {"... System of equations is singular at Time = 1.5", "...    Linear system of equations number = 4",
        "...    Variables X(i) which cannot be uniquely computed:",
        "... Simulation continues with minimum norm solution."}},
      {{2, 1}, 0, 0, 1, {"Residual component 2 of system 4 is 1.000000e+00", "... 2"},
       {"LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = 1.5",
        "...    Linear system of equations number = 4",
        "...    Variables X(i) which cannot be uniquely computed:",
        "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.b[1] + c.reportLevel);
    System s({{1, 0}, {0, 0}});
    Reported r = Report(s, c.b, c.reportSwitch, c.reportLevel);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.x, (std::vector<double>{2, 0}));
    EXPECT_EQ(s.marks, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(r.logged, c.logged);
    EXPECT_EQ(r.sunk, c.sunk);
  }
}

TEST_F(SolverReport, NamedVariablesAreListedWithTheirValues) {
  const std::string longName(150, 'n');
  const char* names[] = {"x", longName.c_str(), "z"};
  System s({{1, 0, 0}, {0, 0, 0}, {0, 0, 0}});
  Reported r = Report(s, {3, 0, 0}, 1, 80, names);
  EXPECT_EQ(r.error, 0);
  EXPECT_TRUE(r.logged.empty());
  ASSERT_EQ(r.sunk.size(), 6u);
  EXPECT_EQ(r.sunk[2], "... Variables which cannot be uniquely computed:");
  Texts listed = {r.sunk[3], r.sunk[4]};
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (Texts{std::string(140, 'n') + "... = 0", "z = 0"}));
}

TEST_F(SolverReport, OptionsLoosenTheTolerance) {
  // rcond 1e-7: accepted against 1e7·eps, rejected against 1e11·eps, where the second variable
  // is undetermined and its residual 1e-7 small enough.
  const int32_t loose[] = {1, 0, 0};
  System strict({{1, 0}, {0, 1e-7}});
  Reported exact = Report(strict, {1, 1e-7}, 0, 0);
  EXPECT_EQ(strict.state, linearSolverLU);
  EXPECT_EQ(exact.error, 0);
  EXPECT_NEAR(exact.x[1], 1, 1e-12);

  System relaxed({{1, 0}, {0, 1e-7}});
  Reported minimum = Report(relaxed, {1, 1e-7}, 0, 0, nullptr, loose);
  EXPECT_EQ(relaxed.state, linearSolverQR);
  EXPECT_EQ(minimum.error, 0);
  EXPECT_EQ(minimum.x, (std::vector<double>{1, 0}));
  EXPECT_EQ(relaxed.marks, (std::vector<int32_t>{0, 1}));
}

TEST(LapackErrorHandler, IllegalArgumentIsReportedAndTheRoutineReturns) {
  RuntimeMessageRecorder recorder;
  const int32_t minusOne = -1, two = 2;
  double a[4] = {1, 0, 0, 1}, x[2] = {1, 1}, y[2] = {0, 0};
  int32_t pivots[2], info = 0;
  dgetrf_(&minusOne, &two, a, &two, pivots, &info);
  EXPECT_EQ(info, -1);
  const double one = 1.0;
  const int32_t inc = 1;
  dgemv_("X", &two, &two, &one, a, &two, x, &inc, &one, y, &inc, 1);
  EXPECT_EQ(recorder.texts(), (Texts{"LAPACK routine DGETRF: argument 1 has an illegal value",
                                     "LAPACK routine DGEMV: argument 1 has an illegal value"}));
  EXPECT_EQ(recorder.levels(), (std::vector<int>{2, 2}));
  EXPECT_EQ(y[0], 0.0);  // the rejected call did nothing
}
