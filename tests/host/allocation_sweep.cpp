// Every allocation of a short host run failing in turn, as a demanding host's fault-injection run
// does: a Co-Simulation run and a Model Exchange run, each taking a state, serialising it,
// deserialising the image and restoring both states (the Co-Simulation run restores one again
// after it terminated). The k-th call of the host's allocator fails, or (in this program, whose
// malloc the loaded unit binds to) the k-th C-heap allocation of the unit. Each point runs in a
// child process of its own, so that a crash is seen as one. At every point:
// - the process lives and nothing reaches its standard error stream;
// - a call that answers fmi2Error or fmi2Fatal (fmi2Instantiate: null) has logged, since it was
//   called and at that status (for a null instance: at fmi2Error or above), a message that names
//   the cause, a failed allocation;
// - a call that failed handed back nothing that looks valid: no instance, no state (the handle
//   stays as the host had it), no size, no image (the buffer stays as the host filled it);
// - an FMU-state call that failed answered fmi2Error and left the instance as it was: its values
//   are those from before the call, and the call made again, with nothing failing, gets through;
//   the run then goes on to its end, and its outputs are the undisturbed run's, bit for bit;
// - any other refusal ends the run, and the outputs read until then are the start of the
//   undisturbed run's; a run without one has all of the undisturbed run's outputs;
// - nothing is left: the host's allocator holds no block, and no C-heap block the unit took
//   during the run is still live (the C heap follows the unit's blocks in both sweeps; in the
//   sanitizer build each point also runs the leak check).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "case_names.h"
#include "disarmed_callbacks.h"
#include "failing_heap.h"
#include "stderr_capture.h"
#include "unit_fixture.h"

namespace {

enum Heap { hostHeap, cHeap };
enum Kind { coSimulation, modelExchange };

// What a point of a run found wrong; empty when nothing.
struct Verdict {
  std::string problem;
  void note(const std::string& what) {
    if (problem.empty()) problem = what;
  }
};

// What the unit says when an allocation fails: its own messages, the serialiser's and the
// runtime's ("out of memory", any case), SUNDIALS' refusals of a failed allocation.
bool namesAnAllocationFailure(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
  return lower.find("memory allocation failed") != std::string::npos ||
         lower.find("out of memory") != std::string::npos || text.find("CV_MEM_FAIL") != std::string::npos ||
         text.find("returned NULL pointer") != std::string::npos;
}

// The value references of every Real of the instance, read as stored (no evaluation): states,
// derivatives, parameters, inputs, outputs and auxiliaries.
std::vector<fmi2ValueReference> storedReals() {
  const struct {
    unsigned category, count;
  } arrays[] = {{1, 15}, {2, 2}, {3, 2}, {4, 1}, {5, 1}, {6, 11}};
  std::vector<fmi2ValueReference> vr;
  for (const auto& a : arrays)
    for (unsigned i = 0; i < a.count; ++i) vr.push_back(model::reference(0, a.category, i));
  return vr;
}

// The host side of one run: the unit's calls go through call(), which arms the C heap around the
// call only, so that the host's own bookkeeping is neither failed nor followed. In the C-heap
// sweep the heap fails its k-th allocation; in the host-allocator sweep it only follows the
// unit's blocks.
class HostRun {
 public:
  explicit HostRun(FmuLibrary& unit) : unit_(unit) {
    disarmedRecording = &host_;
    heap::Suspended suspended;
    stored_ = storedReals();
  }

  // Runs one call of the unit. A status of fmi2Error or above is a refusal (false), after the
  // check that a message logged since the call, at that status, names the cause.
  template <typename Call>
  bool call(const char* what, fmi2Status* status, Call&& f) {
    size_t logged = host_.log.size();
    heap::arm(true);
    *status = f();
    heap::arm(false);
    if (*status < fmi2Error) return true;
    refused = true;
    if (!causeLogged(logged, *status, *status))
      verdict.note(std::string(what) + " answered " + std::to_string(*status) +
                   " without a message at it naming the cause");
    return false;
  }

  // An FMU-state call on instance c. A refusal must be fmi2Error and leave the instance as it
  // was: after `nothingHandedBack` has checked what the call left the host, the instance's
  // values are compared with those before the call, and the call is made again with nothing
  // failing. True when the run can go on.
  template <typename Call, typename Check>
  bool stateCall(fmi2Component c, const char* what, Call&& f, Check&& nothingHandedBack) {
    heap::Suspended suspended;
    std::vector<double> before = values(c);
    fmi2Status status;
    if (call(what, &status, f)) return true;
    nothingHandedBack();
    const std::string name = what;
    if (status != fmi2Error) {
      verdict.note("a failed " + name + " answered " + std::to_string(status) + ", not fmi2Error");
      ended = true;
      return false;
    }
    std::vector<double> after = values(c);
    if (after.size() != before.size() || memcmp(after.data(), before.data(), after.size() * sizeof(double)) != 0)
      verdict.note("a failed " + name + " changed the instance's values");
    hostAllocator().failAt = 0;
    heap::failAt = 0;
    if (!call(what, &status, f)) {
      verdict.note(name + " made again after its refusal, with nothing failing, was refused");
      ended = true;
      return false;
    }
    return true;
  }

  // Instantiation: null ends the run, after the check for a message naming the cause at
  // fmi2Error or above.
  fmi2Component instantiate(fmi2Type type) {
    size_t logged = host_.log.size();
    heap::arm(true);
    fmi2Component c = unit_.fmi2Instantiate("sweep", type, model::guid, "", &functions_, fmi2False, fmi2False);
    heap::arm(false);
    if (c) return c;
    refused = true;
    ended = true;
    if (!causeLogged(logged, fmi2Error, fmi2Fatal))
      verdict.note("fmi2Instantiate gave null without a message naming the cause");
    return nullptr;
  }

  // Calls whose answer the run does not depend on (releases): armed as well, no status.
  template <typename Call>
  void release(Call&& f) {
    heap::arm(true);
    f();
    heap::arm(false);
  }

  void output(double value) {
    heap::Suspended suspended;
    outputs.push_back(value);
  }

  FmuLibrary& unit_;
  HostCallbacks host_;
  const fmi2CallbackFunctions functions_{disarmedLogger, disarmedAllocate, disarmedFree, nullptr, &host_};
  bool refused = false;  // some call refused
  bool ended = false;    // a refusal ended the run
  Verdict verdict;
  std::vector<double> outputs;

 private:
  // Whether a message since `logged`, at a status from `lowest` to `highest`, names the cause.
  bool causeLogged(size_t logged, fmi2Status lowest, fmi2Status highest) const {
    for (size_t k = logged; k < host_.log.size(); ++k) {
      const LogRecord& r = host_.log[k];
      if (r.status >= lowest && r.status <= highest && namesAnAllocationFailure(r.text)) return true;
    }
    return false;
  }

  // Every Real of the instance as stored, read with nothing armed; empty when refused.
  std::vector<double> values(fmi2Component c) {
    std::vector<double> v(stored_.size());
    if (unit_.fmi2GetReal(c, stored_.data(), stored_.size(), v.data()) != fmi2OK) {
      verdict.note("the instance's values could not be read");
      v.clear();
    }
    return v;
  }

  std::vector<fmi2ValueReference> stored_;
};

#define RUN_CALL(run, what, expression)                            \
  do {                                                             \
    fmi2Status status_;                                            \
    if (!(run).call(what, &status_, [&] { return expression; })) { \
      (run).ended = true;                                          \
      return;                                                      \
    }                                                              \
  } while (0)

constexpr size_t sizeSentinel = 0x5EED;
constexpr char bufferFill = '\x5A';

// Takes a state, serialises it, deserialises the image: the checks that a failed call handed
// back nothing, then the two states in *taken and *read.
void takeAndImage(HostRun& run, fmi2Component c, fmi2FMUstate* taken, fmi2FMUstate* read, std::vector<char>* image) {
  FmuLibrary& u = run.unit_;
  if (!run.stateCall(
          c, "fmi2GetFMUstate", [&] { return u.fmi2GetFMUstate(c, taken); },
          [&] {
            if (*taken) run.verdict.note("a failed fmi2GetFMUstate handed back a state");
          }))
    return;
  size_t size = sizeSentinel;
  if (!run.stateCall(
          c, "fmi2SerializedFMUstateSize", [&] { return u.fmi2SerializedFMUstateSize(c, *taken, &size); },
          [&] {
            if (size != sizeSentinel) run.verdict.note("a failed fmi2SerializedFMUstateSize handed back a size");
          }))
    return;
  {
    heap::Suspended suspended;
    image->assign(size, bufferFill);
  }
  if (!run.stateCall(
          c, "fmi2SerializeFMUstate", [&] { return u.fmi2SerializeFMUstate(c, *taken, image->data(), image->size()); },
          [&] {
            if (std::any_of(image->begin(), image->end(), [](char b) { return b != bufferFill; }))
              run.verdict.note("a failed fmi2SerializeFMUstate wrote into the host's buffer");
          }))
    return;
  run.stateCall(
      c, "fmi2DeSerializeFMUstate", [&] { return u.fmi2DeSerializeFMUstate(c, image->data(), image->size(), read); },
      [&] {
        if (*read) run.verdict.note("a failed fmi2DeSerializeFMUstate handed back a state");
      });
}

// Restores a state; false when the run ends.
bool restore(HostRun& run, fmi2Component c, fmi2FMUstate state) {
  return run.stateCall(
      c, "fmi2SetFMUstate", [&] { return run.unit_.fmi2SetFMUstate(c, state); }, [] {});
}

void setLimits(HostRun& run, fmi2Component c) {
  const fmi2ValueReference vr[] = {model::limiterUMin, model::limiter1UMin, model::u, model::filterT};
  const double values[] = {-1.0, -1.0, 0.5, 0.25};
  RUN_CALL(run, "fmi2SetReal", run.unit_.fmi2SetReal(c, vr, 4, values));
}

// The values the run reports.
void readOutputs(HostRun& run, fmi2Component c) {
  const fmi2ValueReference vr[] = {model::y, model::filterY, model::limitedFilterY};
  double values[3] = {};
  RUN_CALL(run, "fmi2GetReal", run.unit_.fmi2GetReal(c, vr, 3, values));
  for (double v : values) run.output(v);
}

void coSimulationSteps(HostRun& run, fmi2Component c, fmi2FMUstate* s1, fmi2FMUstate* s2, std::vector<char>* image) {
  FmuLibrary& u = run.unit_;
  setLimits(run, c);
  if (run.ended) return;
  RUN_CALL(run, "fmi2SetupExperiment", u.fmi2SetupExperiment(c, fmi2True, 1e-6, 0.0, fmi2False, 0.0));
  RUN_CALL(run, "fmi2EnterInitializationMode", u.fmi2EnterInitializationMode(c));
  RUN_CALL(run, "fmi2ExitInitializationMode", u.fmi2ExitInitializationMode(c));
  RUN_CALL(run, "fmi2DoStep", u.fmi2DoStep(c, 0.0, 0.5, fmi2True));
  readOutputs(run, c);
  if (run.ended) return;
  takeAndImage(run, c, s1, s2, image);
  if (run.ended) return;
  RUN_CALL(run, "fmi2DoStep", u.fmi2DoStep(c, 0.5, 0.5, fmi2True));
  readOutputs(run, c);
  if (run.ended) return;
  for (fmi2FMUstate state : {*s2, *s1}) {
    if (!restore(run, c, state)) return;
    RUN_CALL(run, "fmi2DoStep", u.fmi2DoStep(c, 0.5, 0.5, fmi2True));
    readOutputs(run, c);
    if (run.ended) return;
  }
  RUN_CALL(run, "fmi2Terminate", u.fmi2Terminate(c));
  // Terminating released the integrator: the restore sets one up afresh.
  if (!restore(run, c, *s1)) return;
  RUN_CALL(run, "fmi2DoStep", u.fmi2DoStep(c, 0.5, 0.5, fmi2True));
  readOutputs(run, c);
  if (run.ended) return;
  RUN_CALL(run, "fmi2Terminate", u.fmi2Terminate(c));
}

// A few explicit Euler steps of the host's own integrator.
void eulerSteps(HostRun& run, fmi2Component c, double* t, int n) {
  FmuLibrary& u = run.unit_;
  const double h = 0.1;
  for (int i = 0; i < n; ++i) {
    double x[2] = {}, dx[2] = {};
    RUN_CALL(run, "fmi2GetContinuousStates", u.fmi2GetContinuousStates(c, x, 2));
    RUN_CALL(run, "fmi2GetDerivatives", u.fmi2GetDerivatives(c, dx, 2));
    *t += h;
    RUN_CALL(run, "fmi2SetTime", u.fmi2SetTime(c, *t));
    for (int k = 0; k < 2; ++k) x[k] += h * dx[k];
    RUN_CALL(run, "fmi2SetContinuousStates", u.fmi2SetContinuousStates(c, x, 2));
    fmi2Boolean enterEventMode = fmi2False, terminate = fmi2False;
    RUN_CALL(run, "fmi2CompletedIntegratorStep",
             u.fmi2CompletedIntegratorStep(c, fmi2True, &enterEventMode, &terminate));
  }
  readOutputs(run, c);
}

void modelExchangeSteps(HostRun& run, fmi2Component c, fmi2FMUstate* s1, fmi2FMUstate* s2, std::vector<char>* image) {
  FmuLibrary& u = run.unit_;
  setLimits(run, c);
  if (run.ended) return;
  RUN_CALL(run, "fmi2SetupExperiment", u.fmi2SetupExperiment(c, fmi2False, 0.0, 0.0, fmi2False, 0.0));
  RUN_CALL(run, "fmi2EnterInitializationMode", u.fmi2EnterInitializationMode(c));
  RUN_CALL(run, "fmi2ExitInitializationMode", u.fmi2ExitInitializationMode(c));
  fmi2EventInfo info{};
  RUN_CALL(run, "fmi2NewDiscreteStates", u.fmi2NewDiscreteStates(c, &info));
  RUN_CALL(run, "fmi2EnterContinuousTimeMode", u.fmi2EnterContinuousTimeMode(c));
  double t = 0.0;
  eulerSteps(run, c, &t, 3);
  if (run.ended) return;
  const double taken = t;
  takeAndImage(run, c, s1, s2, image);
  if (run.ended) return;
  eulerSteps(run, c, &t, 3);
  if (run.ended) return;
  for (fmi2FMUstate state : {*s2, *s1}) {
    if (!restore(run, c, state)) return;
    t = taken;
    eulerSteps(run, c, &t, 3);
    if (run.ended) return;
  }
  RUN_CALL(run, "fmi2Terminate", u.fmi2Terminate(c));
}

// One whole run: the run, then the host releases what it holds, as a host does after a failure.
void wholeRun(HostRun& run, Kind kind) {
  FmuLibrary& u = run.unit_;
  fmi2Component c = run.instantiate(kind == coSimulation ? fmi2CoSimulation : fmi2ModelExchange);
  if (!c) return;
  fmi2FMUstate s1 = nullptr, s2 = nullptr;
  std::vector<char> image;
  if (kind == coSimulation)
    coSimulationSteps(run, c, &s1, &s2, &image);
  else
    modelExchangeSteps(run, c, &s1, &s2, &image);
  run.release([&] {
    u.fmi2FreeFMUstate(c, &s2);
    u.fmi2FreeFMUstate(c, &s1);
    u.fmi2FreeInstance(c);
  });
  heap::Suspended suspended;
  std::vector<char>().swap(image);
}

// How a point's run went.
enum Outcome { noRefusal = 0, endedAtARefusal = 1, wentOnAfterAStateRefusal = 2 };

// The point's verdict, in the calling process: empty when sound.
std::string runPoint(FmuLibrary& unit, Kind kind, Heap heap, long k, const std::vector<double>& expected,
                     long* taken, Outcome* outcome) {
  resetHostAllocator();
  heap::reset();
  if (heap == hostHeap)
    hostAllocator().failAt = k;
  else
    heap::failAt = k;
  StandardErrorCapture standardError;
  HostRun run(unit);
  wholeRun(run, kind);
  std::string written = standardError.take();
  *taken = heap == hostHeap ? hostAllocator().calls : heap::calls;
  *outcome = !run.refused ? noRefusal : run.ended ? endedAtARefusal : wentOnAfterAStateRefusal;
  Verdict& v = run.verdict;
  if (!written.empty()) v.note("standard error: " + written);
  if (!run.ended && run.outputs != expected)
    v.note(run.refused ? "the run went on after a refused FMU-state call, but the outputs differ"
                       : "every call answered as usual, but the outputs differ");
  if (run.ended && (run.outputs.size() > expected.size() ||
                    !std::equal(run.outputs.begin(), run.outputs.end(), expected.begin())))
    v.note("the outputs read before the refusal that ended the run differ from the undisturbed run's");
  if (hostAllocator().liveBlocks != 0)
    v.note(std::to_string(hostAllocator().liveBlocks) + " blocks left with the host's allocator");
  if (heap::overflow) v.note("more live C-heap blocks than the test can follow");
  if (heap::liveCount != 0) v.note(std::to_string(heap::liveCount) + " C-heap blocks of the run still live");
  return v.problem;
}

class AllocationSweep : public ::testing::TestWithParam<std::tuple<Kind, Heap>> {
 protected:
  void SetUp() override { ASSERT_TRUE(unit.loaded()) << unit.error(); }
  FmuLibrary unit;
};

// Runs point k in a child process; the child writes its verdict into a pipe. A child that dies
// by a signal or does not report is a crash.
std::string inChild(FmuLibrary& unit, Kind kind, Heap heap, long k, const std::vector<double>& expected,
                    long* taken, Outcome* outcome) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    long t = 0;
    Outcome o = noRefusal;
    std::string verdict = runPoint(unit, kind, heap, k, expected, &t, &o);
#if defined(__SANITIZE_ADDRESS__)
    // The child ends without the exit-time leak check: the point's C-heap blocks are checked here.
    if (verdict.empty() && __lsan_do_recoverable_leak_check() != 0) verdict = "the leak check found a leak";
#endif
    std::string message = std::to_string(t) + " " + std::to_string(static_cast<int>(o)) + "\n" + verdict;
    ssize_t ignored = write(fds[1], message.data(), message.size());
    (void)ignored;
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string received;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0) received.append(chunk, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return "crashed with signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child ended with " + std::to_string(status);
  size_t newline = received.find('\n');
  if (newline == std::string::npos) return "the child reported nothing";
  size_t blank = received.find(' ');
  *taken = std::stol(received.substr(0, blank));
  *outcome = static_cast<Outcome>(std::stoi(received.substr(blank + 1, newline - blank - 1)));
  return received.substr(newline + 1);
}

TEST_P(AllocationSweep, EveryFailurePointEndsInASoundAnswer) {
  const Kind kind = std::get<0>(GetParam());
  const Heap heap = std::get<1>(GetParam());

  // The undisturbed run, here, twice: its outputs and how many allocations it makes once the
  // process has made what it makes only once (the points inherit that).
  long allocations = 0;
  std::vector<double> expected;
  for (int pass = 0; pass < 2; ++pass) {
    HostRun run(unit);
    resetHostAllocator();
    heap::reset();
    wholeRun(run, kind);
    ASSERT_FALSE(run.refused) << run.verdict.problem;
    ASSERT_EQ(run.verdict.problem, "");
    expected = run.outputs;
    allocations = heap == hostHeap ? hostAllocator().calls : heap::calls;
    ASSERT_EQ(hostAllocator().liveBlocks, 0);
    // The first run also makes what the process makes once.
    if (pass == 1) {
      ASSERT_EQ(heap::liveCount, 0) << "C-heap blocks of the undisturbed run still live";
    }
  }
  ASSERT_FALSE(expected.empty());
  ASSERT_GT(allocations, 0) << "the unit's allocations do not reach the test's allocator";

  int failedPoints = 0;
  long refusals = 0, wentOn = 0;
  long k = 1;
  for (; k <= allocations + 1; ++k) {
    long taken = 0;
    Outcome outcome = noRefusal;
    std::string verdict = inChild(unit, kind, heap, k, expected, &taken, &outcome);
    refusals += outcome != noRefusal ? 1 : 0;
    wentOn += outcome == wentOnAfterAStateRefusal ? 1 : 0;
    if (!verdict.empty()) {
      ADD_FAILURE() << "allocation " << k << " of " << allocations << ": " << verdict;
      if (++failedPoints >= 20) break;
    }
    // Past the last allocation of the run the point is the undisturbed run again.
    if (taken < k) break;
  }
  EXPECT_GT(k, allocations) << "the sweep stopped early";
  EXPECT_GT(refusals, 0) << "no failed allocation was ever seen by the run";
  // Every kind of run takes memory for its states, the host's and the serialiser's.
  EXPECT_GT(wentOn, 0) << "no refused FMU-state call was ever gone on from";
  printf("%ld allocations, %ld points with a refusal, %ld of them a refused FMU-state call the run went on from\n",
         allocations, refusals, wentOn);
}

std::string kindAndHeapName(const std::tuple<Kind, Heap>& c) {
  return std::string(std::get<0>(c) == coSimulation ? "CoSimulation" : "ModelExchange") +
         (std::get<1>(c) == hostHeap ? "HostAllocator" : "CHeap");
}

INSTANTIATE_TEST_SUITE_P(Runs, AllocationSweep,
                         ::testing::Combine(::testing::Values(coSimulation, modelExchange),
                                            ::testing::Values(hostHeap, cHeap)),
                         quenzel_test::CaseNameFrom<kindAndHeapName>{});

}  // namespace
