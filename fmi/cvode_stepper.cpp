#include "cvode_stepper.h"

#include <cstdarg>
#include <cstdio>

// Reports like CVODE: through the registered handler, else to stderr in CVODE's own layout.
static void stepperReport(const CVodeStepper* stepper, int code, const char* function, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

static void stepperReport(const CVodeStepper* stepper, int code, const char* function, const char* format, ...) {
  char message[256];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (stepper && stepper->errorHandler) {
    stepper->errorHandler(code, "CVODE", function, message, stepper->errorData);
  } else {
    fprintf(stderr, "\n[CVODE %s]  %s\n  %s\n\n", code == CV_WARNING ? "WARNING" : "ERROR", function, message);
  }
}

void cvodeStepperAttach(CVodeStepper* stepper, void* memory) {
  *stepper = CVodeStepper{};
  stepper->memory = memory;
  stepper->maxSteps = cvodeDefaultMaxSteps;
}

int CVodeStepRootInit(CVodeStepper* stepper, CVStepRootFn stepRoot) {
  if (!stepper || !stepper->memory) {
    stepperReport(stepper, CV_MEM_NULL, "CVodeStepRootInit", "cvode_mem = NULL illegal.");
    return CV_MEM_NULL;
  }
  stepper->stepRoot = stepRoot;
  return CV_SUCCESS;
}

int cvodeStepperSetMaxNumSteps(CVodeStepper* stepper, long maxSteps) {
  int flag = CVodeSetMaxNumSteps(stepper->memory, maxSteps);
  if (flag == CV_SUCCESS) stepper->maxSteps = maxSteps == 0 ? cvodeDefaultMaxSteps : maxSteps;
  return flag;
}

int cvodeStepperSetErrHandlerFn(CVodeStepper* stepper, CVErrHandlerFn handler, void* data) {
  int flag = CVodeSetErrHandlerFn(stepper->memory, handler, data);
  if (flag == CV_SUCCESS) {
    stepper->errorHandler = handler;
    stepper->errorData = data;
  }
  return flag;
}

int cvodeStepperReInit(CVodeStepper* stepper, double t0, N_Vector y0) {
  int flag = CVodeReInit(stepper->memory, t0, y0);
  if (flag == CV_SUCCESS) {
    stepper->rootPending = 0;
    stepper->cvodeAtRoot = 0;
  }
  return flag;
}

// The solution at t, which must lie within the last internal step.
static int interpolate(CVodeStepper* stepper, double t, N_Vector yout, double* tret) {
  if (CVodeGetDky(stepper->memory, t, 0, yout) != CV_SUCCESS) {
    stepperReport(stepper, CV_ILL_INPUT, "CVode",
                  "Trouble interpolating at tout = %lg. tout too far back in direction of integration", t);
    return CV_ILL_INPUT;
  }
  *tret = t;
  return CV_SUCCESS;
}

static long stepCount(void* memory) {
  long steps = 0;
  CVodeGetNumSteps(memory, &steps);
  return steps;
}

static int stopRequested(const CVodeStepper* stepper) {
  if (!stepper->stepRoot) return 0;
  void* userData = nullptr;
  CVodeGetUserData(stepper->memory, &userData);
  return stepper->stepRoot(userData) != 0;
}

int cvodeStepperAdvance(CVodeStepper* stepper, double tout, N_Vector yout, double* tret) {
  if (!stepper || !stepper->memory) {
    stepperReport(stepper, CV_MEM_NULL, "CVode", "cvode_mem = NULL illegal.");
    return CV_MEM_NULL;
  }
  void* memory = stepper->memory;

  // A root found beyond an earlier tout: returned once tout reaches it, with no new step.
  if (stepper->rootPending) {
    if (tout < stepper->pendingRootTime) return interpolate(stepper, tout, yout, tret);
    stepper->rootPending = 0;
    int flag = interpolate(stepper, stepper->pendingRootTime, yout, tret);
    return flag == CV_SUCCESS ? CV_ROOT_RETURN : flag;
  }

  long steps = stepCount(memory);
  // tout inside the last step: normal mode interpolates without stepping or asking the callback.
  if (steps > 0 && !stepper->cvodeAtRoot) {
    double tn = 0.0;
    CVodeGetCurrentTime(memory, &tn);
    if (tn >= tout) return interpolate(stepper, tout, yout, tret);
  }

  long stepsThisCall = 0;
  double previous = 0.0;
  CVodeGetCurrentTime(memory, &previous);
  for (;;) {
    if (stepper->maxSteps > 0 && stepsThisCall >= stepper->maxSteps) {
      // yout and tret already hold the last step's solution.
      stepperReport(stepper, CV_TOO_MUCH_WORK, "CVode", "At t = %lg, mxstep steps taken before reaching tout.", *tret);
      return CV_TOO_MUCH_WORK;
    }
    double t = 0.0;
    int flag = CVode(memory, tout, yout, &t, CV_ONE_STEP);
    if (flag < 0) {
      *tret = t;
      return flag;
    }
    long after = stepCount(memory);
    // A return without a new step (the rest of a step after a root) is neither counted nor
    // shown to the callback.
    bool newStep = after != steps;
    steps = after;
    if (newStep) ++stepsThisCall;
    // A step that left the time where it was with a next step size of 0 ("t + h = t" for
    // good) would be repeated for ever. A tiny step that is not 0 may still grow; the step
    // limit bounds that.
    if (newStep && t == previous) {
      double h = 0.0;
      CVodeGetCurrentStep(memory, &h);
      if (h == 0.0) {
        *tret = t;
        stepperReport(stepper, CV_ERR_FAILURE, "CVode", "At t = %lg, the step size is 0 and the time cannot advance.",
                      t);
        return CV_ERR_FAILURE;
      }
    }
    previous = t;

    if (flag == CV_ROOT_RETURN) {
      stepper->cvodeAtRoot = 1;
      if (t <= tout) {
        *tret = t;
        return CV_ROOT_RETURN;
      }
      // Beyond tout: hold it back and end the call as a step that passed tout.
      stepper->rootPending = 1;
      stepper->pendingRootTime = t;
      bool stop = newStep && stopRequested(stepper);
      int result = interpolate(stepper, tout, yout, tret);
      if (result != CV_SUCCESS) return result;
      return stop ? CV_ROOT_RETURN : CV_SUCCESS;
    }

    stepper->cvodeAtRoot = 0;
    *tret = t;  // yout holds the solution at t
    if (newStep && stopRequested(stepper)) {
      if (t <= tout) return CV_ROOT_RETURN;
      int result = interpolate(stepper, tout, yout, tret);
      return result == CV_SUCCESS ? CV_ROOT_RETURN : result;
    }
    if (t >= tout) return interpolate(stepper, tout, yout, tret);
  }
}
