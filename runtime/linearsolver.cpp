#include "linearsolver.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "clocale.h"
#include "lapack.h"
#include "messages.h"
#include "messagesink.h"

namespace {

const int32_t intOne = 1;
const int32_t intTwo = 2;
const double plusOne = 1.0;
const double minusOne = -1.0;

// The regions of the caller's work array behind the n·n factors.
struct SolverWork {
  double* factors;      // the copy of A, then its factors
  double* tau;          // Householder scalars of the QR; 4n of scratch for dgecon
  double* zTau;         // scalars of the trapezoidal reduction; 3n of scratch for dgeqpf before
  double* minVector;    // smallest-singular-value estimate; later flags and the residual
  double* maxVector;    // largest-singular-value estimate; later the saved right-hand side
  double* rowScale;
  double* columnScale;
};

SolverWork regionsOf(double* work, int32_t n) {
  double* behind = work + static_cast<size_t>(n) * n;
  return {work, behind, behind + n, behind + 2 * n, behind + 3 * n, behind + 4 * n, behind + 5 * n};
}

bool notFinite(double v) { return std::isnan(v) || v >= DBL_MAX || v <= -DBL_MAX; }

void copyMatrix(const double* A, int32_t lda, int32_t n, double* to) {
  for (int32_t j = 0; j < n; ++j)
    memcpy(to + static_cast<size_t>(j) * n, A + static_cast<size_t>(j) * lda, n * sizeof(double));
}

int32_t scalingOf(char equed) {
  switch (equed) {
    case 'R': return linearSolverRowScaled;
    case 'C': return linearSolverColumnScaled;
    case 'B': return linearSolverRowScaled | linearSolverColumnScaled;
    default: return 0;
  }
}

// "%.140s" of the name and "..." when it was cut; 144 characters at most.
void cutName(char* out, size_t size, const char* name) {
  name = StringOrEmpty(name);
  snprintf(out, size, "%.140s%s", name, strlen(name) > 140 ? "..." : "");
}

// Equilibration, the LU attempt and, failing it, the QR factorisation with its rank. On a retry the
// rank is not estimated again: it is the number of columns the first estimate examined.
void factorise(int32_t mode, const double* A, int32_t lda, int32_t n, double tol, int32_t* pivots,
               int32_t* marks, const SolverWork& w, int32_t* solverState, int32_t* columnsExamined,
               bool retry) {
  copyMatrix(A, lda, n, w.factors);
  int32_t scaling = 0, info = 0;
  bool tryLU = !(mode & linearSolverNoLU);
  double rowcnd = 0.0, colcnd = 0.0, amax = 0.0;
  if (mode & linearSolverEquilibrate) {
    dgeequ_(&n, &n, A, &lda, w.rowScale, w.columnScale, &rowcnd, &colcnd, &amax, &info);
    if (info == 0) {
      char equed = 'N';
      dlaqge_(&n, &n, w.factors, &n, w.rowScale, w.columnScale, &rowcnd, &colcnd, &amax, &equed, 1);
      scaling = scalingOf(equed);
    } else {
      tryLU = false;  // a zero row or column: singular, and the scale factors are not usable
    }
  }
  if (tryLU) {
    const double anorm = dlange_("1", &n, &n, w.factors, &n, w.tau, 1);
    dgetrf_(&n, &n, w.factors, &n, pivots, &info);
    if (info == 0) {
      double rcond = 0.0;
      dgecon_("1", &n, w.factors, &n, &anorm, &rcond, w.tau, marks, &info, 1);
      if (!(rcond <= tol)) {
        *solverState = scaling | linearSolverLU;
        return;
      }
    }
    copyMatrix(A, lda, n, w.factors);
    if (scaling) {
      char equed = 'N';
      dlaqge_(&n, &n, w.factors, &n, w.rowScale, w.columnScale, &rowcnd, &colcnd, &amax, &equed, 1);
    }
  }

  for (int32_t i = 0; i < n; ++i) pivots[i] = 0;  // every column free
  dgeqpf_(&n, &n, w.factors, &n, pivots, w.tau, w.zTau, &info);

  int32_t rank = 0;
  if (retry) {
    rank = *columnsExamined;
  } else {
    int32_t j = 0;
    const double r11 = w.factors[0];
    // A zero R(1,1) is a zero matrix (the pivoting put the largest column first): rank 0, since
    // both estimates would stay 0 and the rank test would accept every column.
    if (r11 != 0.0) {
      rank = j = 1;
      double smin = fabs(r11), smax = smin;
      w.minVector[0] = w.maxVector[0] = 1.0;
      while (j < n) {
        const double* column = w.factors + static_cast<size_t>(j) * n;
        const double gamma = column[j];
        double sminpr, s1, c1, smaxpr, s2, c2;
        dlaic1_(&intTwo, &j, w.minVector, &smin, column, &gamma, &sminpr, &s1, &c1);
        dlaic1_(&intOne, &j, w.maxVector, &smax, column, &gamma, &smaxpr, &s2, &c2);
        if (sminpr < smaxpr * DBL_EPSILON) break;
        if (sminpr >= smaxpr * tol && rank == j) ++rank;
        for (int32_t i = 0; i < j; ++i) {
          w.minVector[i] *= s1;
          w.maxVector[i] *= s2;
        }
        w.minVector[j] = c1;
        w.maxVector[j] = c2;
        smin = sminpr;
        smax = smaxpr;
        ++j;
      }
    }
    *columnsExamined = j;
  }
  if (rank > 0 && rank < n) dtzrqf_(&rank, &n, w.factors, &n, w.zTau, &info);
  *solverState = scaling | linearSolverQR;
  pivots[n] = rank;
}

// x := the minimum-norm solution of the held QR factorisation, in the variables' order, with the
// undetermined variables marked. Returns the rank.
int32_t solveQR(int32_t n, const int32_t* pivots, const SolverWork& w, double* x, int32_t* marks) {
  int32_t info = 0;
  double* scratch = w.minVector;
  dorm2r_("L", "T", &n, &intOne, &n, w.factors, &n, w.tau, x, &n, scratch, &info, 1, 1);
  int32_t rank = pivots[n];
  for (int32_t i = 0; i < n; ++i) marks[i] = i >= rank;
  for (int32_t i = rank; i < n; ++i) x[i] = 0.0;
  if (rank > 0) {
    dtrsm_("L", "U", "N", "N", &rank, &intOne, &plusOne, w.factors, &n, x, &n, 1, 1, 1, 1);
    if (rank < n) {
      const int32_t length = n - rank + 1;
      for (int32_t i = 0; i < rank; ++i)
        dlatzm_("L", &length, &intOne, w.factors + i + static_cast<size_t>(rank) * n, &n,
                w.zTau + i, x + i, x + rank, &n, scratch, 1);
    }
  }
  // Element i belongs to variable pivots[i]: follow each cycle of the permutation once.
  double* moved = scratch;
  for (int32_t i = 0; i < n; ++i) moved[i] = 0.0;
  for (int32_t start = 0; start < n; ++start) {
    if (moved[start] != 0.0) continue;
    double value = x[start];
    int32_t mark = marks[start];
    int32_t at = start;
    do {
      const int32_t to = pivots[at] - 1;
      const double v = x[to];
      const int32_t m = marks[to];
      x[to] = value;
      marks[to] = mark;
      moved[to] = 1.0;
      value = v;
      mark = m;
      at = to;
    } while (at != start);
  }
  return rank;
}

void sendComponent(const char* format, int32_t position, int32_t systemNumber, double value) {
  char text[128];
  sprintf_c(text, format, position, systemNumber, value);
  LogMessage(text);
}

}  // namespace

// Defined here, beside the solver that calls LAPACK, so that wherever the solver is linked this
// handler is already defined when the LAPACK and BLAS archives are searched, and their own (which
// needs the Fortran runtime and stops the process) is never taken from them.
extern "C" void xerbla_(const char* routine, const int32_t* argument, size_t routineLength) {
  size_t length = routine ? strnlen(routine, routineLength) : 0;
  while (length > 0 && routine[length - 1] == ' ') --length;
  if (length > 32) length = 32;
  char text[96];
  snprintf(text, sizeof text, "LAPACK routine %.*s: argument %d has an illegal value",
           static_cast<int>(length), routine ? routine : "", argument ? *argument : 0);
  LogWithLevel(messageError, text);
}

void SolveLinearSystem(const int32_t* mode, const double* A, const int32_t* lda, const int32_t* n,
                       double* x, const double* reference, const double* tol, int32_t* pivots,
                       double* work, int32_t* marks, int32_t* solverState, int32_t* status,
                       const int32_t* systemNumber, const char* const* names,
                       const int32_t* solverOptions) {
  const int32_t order = *n, system = *systemNumber;
  const bool mayReject = !(solverOptions && solverOptions[2]);
  const SolverWork w = regionsOf(work, order);
  int32_t columnsExamined = 0;
  bool retry = false;
  for (;;) {
    *status = linearSolverSolved;
    for (int32_t i = 0; i < order; ++i)
      if (notFinite(x[i])) sendComponent("Rhs component %d of system %d is %e", i + 1, system, x[i]);

    if (!(*solverState & (linearSolverLU | linearSolverQR)))
      factorise(*mode, A, *lda, order, *tol, pivots, marks, w, solverState, &columnsExamined, retry);

    const bool qr = *solverState & linearSolverQR;
    const bool partial = qr && pivots[order] < order;
    double* saved = w.maxVector;
    if (partial) {
      dcopy_(n, x, &intOne, saved, &intOne);
      if (reference) dgemv_("N", n, n, &minusOne, A, lda, reference, &intOne, &plusOne, x, &intOne, 1);
    }
    if (*solverState & linearSolverRowScaled)
      for (int32_t i = 0; i < order; ++i) x[i] *= w.rowScale[i];

    int32_t rank = order;
    if (qr) {
      rank = solveQR(order, pivots, w, x, marks);
      *status = rank < order ? linearSolverMinimumNorm : linearSolverSolved;
    } else {
      int32_t info = 0;
      dgetrs_("N", n, &intOne, w.factors, n, pivots, x, n, &info, 1);
      // The condition estimate left its scratch here; an LU solution determines every variable.
      for (int32_t i = 0; i < order; ++i) marks[i] = 0;
    }
    if (*solverState & linearSolverColumnScaled)
      for (int32_t i = 0; i < order; ++i) x[i] *= w.columnScale[i];

    if (!partial) {
      for (int32_t i = 0; i < order; ++i) {
        if (!notFinite(x[i])) continue;
        if (names) {
          char name[160], text[256];
          cutName(name, sizeof name, names[i]);
          sprintf_c(text, "In system %d %s = %e", system, name, x[i]);
          LogMessage(text);
        } else {
          sendComponent("Solution component %d of system %d is %e", i + 1, system, x[i]);
        }
        if (mayReject) *status = linearSolverRejected;
      }
      return;
    }

    // The residual of the original system, also for rank 0: a zero solution is accepted only
    // when b itself is within the tolerance. A NaN component never passes.
    double* residual = w.minVector;
    dcopy_(n, saved, &intOne, residual, &intOne);
    if (reference)
      dgemv_("N", n, n, &minusOne, A, lda, reference, &intOne, &plusOne, residual, &intOne, 1);
    dgemv_("N", n, n, &minusOne, A, lda, x, &intOne, &plusOne, residual, &intOne, 1);
    bool again = false;
    for (int32_t i = 0; i < order && !again; ++i) {
      if (fabs(residual[i]) <= *tol) continue;
      if (rank < columnsExamined) {
        // The estimate passed over columns that were dependent only by the tolerance: take
        // them in once more.
        again = true;
      } else {
        sendComponent("Residual component %d of system %d is %e", i + 1, system, residual[i]);
        if (mayReject) *status = linearSolverRejected;
      }
    }
    if (again) {
      dcopy_(n, saved, &intOne, x, &intOne);
      *solverState = 0;
      retry = true;
      continue;
    }
    if (reference)
      for (int32_t i = 0; i < order; ++i) x[i] += reference[i];
    return;
  }
}

void SolveLinearSystemReport(const int32_t* systemNumber, const int32_t* mode, const double* A,
                             const int32_t* lda, const int32_t* n, double* x,
                             const double* reference, const double* time,
                             const int32_t* reportSwitch, const int32_t* reportLevel, double* work,
                             int32_t* ints, int32_t* solverState, const char* const* names,
                             int32_t* error, const int32_t* solverOptions) {
  const double tol = solverOptions && solverOptions[0] ? 1e11 * DBL_EPSILON : 1e7 * DBL_EPSILON;
  const int32_t order = *n;
  int32_t* marks = ints + order + 1;
  int32_t status = linearSolverSolved;
  SolveLinearSystem(mode, A, lda, n, x, reference, &tol, ints, work, marks, solverState, &status,
                    systemNumber, names, solverOptions);
  *error = 0;
  if (status == linearSolverSolved) return;
  if (status == linearSolverMinimumNorm && !(*reportSwitch == 1 && *reportLevel >= 80)) return;

  auto send = [](const char* text) { PaddedTextMessage(1, text, static_cast<int>(strlen(text))); };
  const char* singular = status == linearSolverMinimumNorm
                             ? "... System of equations is singular at Time = "
                             : "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = ";
  PaddedTextMessageReal(1, singular, time, static_cast<int>(strlen(singular)));
  const char number[] = "...    Linear system of equations number = ";
  PaddedTextMessageInteger(1, number, systemNumber, static_cast<int>(sizeof number - 1));
  if (names) {
    send("... Variables which cannot be uniquely computed:");
    for (int32_t i = 0; i < order; ++i) {
      if (marks[i] != 1) continue;
      char line[160];
      cutName(line, sizeof line - 3, names[i]);
      strcat(line, " = ");
      PaddedTextMessageReal(1, line, x + i, static_cast<int>(strlen(line)));
    }
  } else {
    send("...    Variables X(i) which cannot be uniquely computed:");
    const char prefix[] = "...     ";
    for (int32_t i = 0; i < order; ++i) {
      if (marks[i] != 1) continue;
      const int32_t position = i + 1;
      PaddedTextLogInteger(prefix, &position, static_cast<int>(sizeof prefix - 1));
    }
  }
  if (status == linearSolverMinimumNorm) {
    send("... Simulation continues with minimum norm solution.");
  } else {
    send("... NOT ACCEPTING SINCE TOO LARGE RESDIUAL");
    *error = 1;
  }
}

void SolveLinearSystemDefault(const int32_t* systemNumber, const int32_t* mode, const double* A,
                              const int32_t* lda, const int32_t* n, double* x, const double* time,
                              const int32_t* reportSwitch, const int32_t* reportLevel,
                              double* work, int32_t* ints, int32_t* solverState, int32_t* error) {
  SolveLinearSystemReport(systemNumber, mode, A, lda, n, x, nullptr, time, reportSwitch,
                          reportLevel, work, ints, solverState, nullptr, error, nullptr);
}
