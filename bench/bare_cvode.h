// The bare reference that the benchmarks and the Co-Simulation tests hold the unit against: CVODE
// alone over the model's equations of the default scenario (the two filters with K = 1 and T = 1
// from 1, the limiters at -1 and 1, the ramp from 2 with its threshold at 1 and the switch), with
// the integrator's settings (BDF, Newton with the dense solver, the same tolerances, limits and
// ten crossing functions), stepped to communication points as fmi2DoStep steps. The events are
// handled as the unit handles them: a restart at each root and at the ramp's time event.
#pragma once

#include <cvode/cvode.h>
#include <nvector/nvector_serial.h>
#include <sunlinsol/sunlinsol_dense.h>
#include <sunmatrix/sunmatrix_dense.h>

namespace bare {

// The model's equations for the default scenario, written out.
struct Model {
  double u = 1.0, k = 1.0, T = 1.0;
  double uMax = 1.0, uMin = -1.0, startTime = 2.0, threshold = 1.0, alternative = 1500.0;
  double eps = 1e-10;
  bool rampOn = false;
  bool above = false;  // greaterThreshold.y
  double limited() const { return u > uMax ? uMax : u < uMin ? uMin : u; }
  double ramp(double t) const { return rampOn ? t - startTime : 0.0; }
  double output() const { return above ? u : alternative; }
};

extern "C" inline int modelRhs(double, N_Vector y, N_Vector ydot, void* data) {
  auto* m = static_cast<Model*>(data);
  const double* x = N_VGetArrayPointer(y);
  double* dx = N_VGetArrayPointer(ydot);
  dx[0] = (m->k * m->u - x[0]) / m->T;
  dx[1] = (m->k * m->limited() - x[1]) / m->T;
  return 0;
}

// Two crossing functions per relation, as the model reports them.
extern "C" inline int modelRoots(double t, N_Vector, double* g, void* data) {
  auto* m = static_cast<Model*>(data);
  const double values[] = {m->u - m->uMax, m->u - m->uMin, m->u - m->uMax, m->u - m->uMin};
  for (int r = 0; r < 4; ++r) {
    g[2 * r] = values[r] - m->eps;
    g[2 * r + 1] = values[r] + m->eps;
  }
  g[8] = g[9] = m->ramp(t) - m->threshold;
  return 0;
}

// One run: CVODE at t = 0 with both filters at 1 under the constant input `model.u`.
struct Loop {
  Model model;
  SUNContext context = nullptr;
  N_Vector y = nullptr;
  void* memory = nullptr;
  SUNMatrix matrix = nullptr;
  SUNLinearSolver solver = nullptr;
  double t = 0.0;
  double output = 0.0;  // the output before the last integration call, as the driver fetches it
};

// 0 ready; 1 when SUNDIALS refused (what was made is left for loopFree).
inline int loopCreate(Loop* loop, double u, double tolerance) {
  loop->model.u = u;
  if (SUNContext_Create(nullptr, &loop->context) < 0) return 1;
  loop->y = N_VNew_Serial(2, loop->context);
  if (!loop->y) return 1;
  N_VConst(1.0, loop->y);
  loop->memory = CVodeCreate(CV_BDF, loop->context);
  if (!loop->memory) return 1;
  loop->matrix = SUNDenseMatrix(2, 2, loop->context);
  if (!loop->matrix) return 1;
  loop->solver = SUNLinSol_Dense(loop->y, loop->matrix, loop->context);
  if (!loop->solver) return 1;
  void* m = loop->memory;
  if (CVodeInit(m, modelRhs, 0.0, loop->y) < 0 || CVodeSetUserData(m, &loop->model) < 0 ||
      CVodeSStolerances(m, tolerance, tolerance) < 0 || CVodeSetNonlinConvCoef(m, 0.1) < 0 ||
      CVodeRootInit(m, 10, modelRoots) < 0 || CVodeSetLinearSolver(m, loop->solver, loop->matrix) < 0 ||
      CVodeSetMaxNumSteps(m, 100000) < 0 || CVodeSetMaxNonlinIters(m, 3) < 0 || CVodeSetMaxErrTestFails(m, 15) < 0)
    return 1;
  return 0;
}

// Integrates to tout, restarting CVODE first when asked (as a unit whose state is taken before
// the step does). 0; 1 when CVODE failed.
inline int loopStep(Loop* loop, double tout, bool restart) {
  if (restart && CVodeReInit(loop->memory, loop->t, loop->y) < 0) return 1;
  for (;;) {
    loop->output = loop->model.output();
    int flag = CVode(loop->memory, tout, loop->y, &loop->t, CV_NORMAL);
    if (flag < 0) return 1;
    if (flag == CV_ROOT_RETURN) {
      loop->model.above = loop->model.ramp(loop->t) > loop->model.threshold;
      if (CVodeReInit(loop->memory, loop->t, loop->y) < 0) return 1;
      if (loop->t < tout) continue;
    }
    break;
  }
  // The time event of the ramp at a communication point.
  if (!loop->model.rampOn && loop->t >= loop->model.startTime - 1e-12) {
    loop->model.rampOn = true;
    if (CVodeReInit(loop->memory, loop->t, loop->y) < 0) return 1;
  }
  return 0;
}

// filter.y (0) or limitedFilter.y (1) at the loop's time.
inline double loopState(const Loop* loop, int i) { return N_VGetArrayPointer(loop->y)[i]; }

inline void loopFree(Loop* loop) {
  if (loop->memory) CVodeFree(&loop->memory);
  if (loop->solver) SUNLinSolFree(loop->solver);
  if (loop->matrix) SUNMatDestroy(loop->matrix);
  if (loop->y) N_VDestroy(loop->y);
  if (loop->context) SUNContext_Free(&loop->context);
  loop->solver = nullptr;
  loop->matrix = nullptr;
  loop->y = nullptr;
}

}  // namespace bare
