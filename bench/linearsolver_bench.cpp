// SolveLinearSystem (mode 0, a fresh factorisation each time) beside a direct dgesv on the same
// well-conditioned systems. Both copy the matrix once per solve (dgesv overwrites its own); the
// solver adds its condition estimate, its checks of the right-hand side and the solution.
#include <benchmark/benchmark.h>

#include <cfloat>
#include <cstdint>
#include <vector>

#include "lapack.h"
#include "linearsolver.h"
#include "ratio_main.h"

extern "C" void dgesv_(const int32_t* n, const int32_t* nrhs, double* a, const int32_t* lda,
                       int32_t* ipiv, double* b, const int32_t* ldb, int32_t* info);

namespace {

// Diagonally dominant, so LU is accepted; column-major.
struct Problem {
  int32_t n;
  std::vector<double> A, b;
  explicit Problem(int32_t order) : n(order), A(order * order), b(order) {
    uint32_t seed = 12345;
    for (double& a : A) {
      seed = seed * 1664525u + 1013904223u;
      a = static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
    }
    for (int32_t i = 0; i < n; ++i) {
      A[i + i * n] += n;
      b[i] = i + 1.0;
    }
  }
};

void solveLinearSystem(benchmark::State& s) {
  Problem p(static_cast<int32_t>(s.range(0)));
  std::vector<double> work(p.n * p.n + 6 * p.n), x(p.n);
  std::vector<int32_t> pivots(p.n + 1), marks(p.n);
  const int32_t mode = 0, system = 1;
  const double tol = 1e7 * DBL_EPSILON;
  int32_t status = 0;
  for (auto _ : s) {
    x = p.b;
    int32_t state = 0;
    SolveLinearSystem(&mode, p.A.data(), &p.n, &p.n, x.data(), nullptr, &tol, pivots.data(),
                      work.data(), marks.data(), &state, &status, &system, nullptr, nullptr);
    benchmark::DoNotOptimize(x.data());
  }
  if (status != 0) s.SkipWithError("not solved by LU");
}

void directDgesv(benchmark::State& s) {
  Problem p(static_cast<int32_t>(s.range(0)));
  std::vector<double> a(p.A.size()), x(p.n);
  std::vector<int32_t> pivots(p.n);
  const int32_t one = 1;
  int32_t info = 0;
  for (auto _ : s) {
    a = p.A;
    x = p.b;
    dgesv_(&p.n, &one, a.data(), &p.n, pivots.data(), x.data(), &p.n, &info);
    benchmark::DoNotOptimize(x.data());
  }
  if (info != 0) s.SkipWithError("dgesv failed");
}

BENCHMARK(solveLinearSystem)->Arg(2)->Arg(10)->Arg(50)->Arg(200);
BENCHMARK(directDgesv)->Arg(2)->Arg(10)->Arg(50)->Arg(200);

}  // namespace

int main(int argc, char** argv) {
  return runWithRatios(argc, argv, {{"solveLinearSystem/2", "directDgesv/2"},
                                    {"solveLinearSystem/10", "directDgesv/10"},
                                    {"solveLinearSystem/50", "directDgesv/50"},
                                    {"solveLinearSystem/200", "directDgesv/200"}});
}
