// Allocation failures inside the three calls that run the serialiser: each allocation fails in
// turn, the host's through its allocator and the C heap's through an interposed malloc, and the
// host lives on with a status, a message, nothing on its standard error and nothing leaked.
//
// The program has a malloc of its own (failing_heap.h), which the loaded unit binds to.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "case_names.h"
#include "disarmed_callbacks.h"
#include "failing_heap.h"
#include "state_fixture.h"
#include "stderr_capture.h"

namespace {

using namespace stateImage;


enum Heap { hostHeap, cHeap };

// One of the three calls on a running instance with a state and that state's image.
struct Subject {
  fmi2Component c;
  fmi2FMUstate state;
  std::vector<char>* image;
  fmi2FMUstate* made;  // a state the call makes, null before it
};

struct SerialiserCallCase {
  const char* name;
  std::function<fmi2Status(const FmuLibrary&, const Subject&)> run;
  // The refusals a failure may end in: the messages of the steps that take memory.
  std::vector<std::string> refusals;
};

void PrintTo(const SerialiserCallCase& c, std::ostream* os) { *os << c.name; }

const SerialiserCallCase serialiserCalls[] = {
    {"fmi2SerializedFMUstateSize",
     [](const FmuLibrary& u, const Subject& s) {
       size_t size = 0;
       return u.fmi2SerializedFMUstateSize(s.c, s.state, &size);
     },
     {"createTplMap: tpl_map returned NULL", "fmi2SerializedFMUstateSize: tpl_pack failed"}},
    {"fmi2SerializeFMUstate",
     [](const FmuLibrary& u, const Subject& s) {
       std::vector<char> buffer;
       {
         heap::Suspended suspended;
         buffer.resize(s.image->size());
       }
       return u.fmi2SerializeFMUstate(s.c, s.state, buffer.data(), buffer.size());
     },
     {"createTplMap: tpl_map returned NULL", "fmi2SerializeFMUstate: tpl_pack failed"}},
    {"fmi2DeSerializeFMUstate",
     [](const FmuLibrary& u, const Subject& s) {
       return u.fmi2DeSerializeFMUstate(s.c, s.image->data(), s.image->size(), s.made);
     },
     {"createTplMap: tpl_map returned NULL", "fmi2DeSerializeFMUstate: tpl_unpack failed"}},
};

class SerialiserAllocationFailure : public StateTest,
                                    public ::testing::WithParamInterface<std::tuple<SerialiserCallCase, Heap>> {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    disarmedRecording = &host;
  }

  fmi2Component running() {
    fmi2Component c = instantiate(fmi2ModelExchange, "inst", fmi2True, &functions_);
    consistentLimits(c);
    EXPECT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    EXPECT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    EXPECT_EQ(set(c, model::filterT, 0.25), fmi2OK);
    return c;
  }

  const fmi2CallbackFunctions functions_{disarmedLogger, disarmedAllocate, disarmedFree, nullptr, &host};
};

// For every k until the call gets through: the k-th allocation of the call fails; the call
// returns its failure status with a message on the logger and nothing on the standard error
// stream, every block it took is given back, and the instance still makes and reads images.
TEST_P(SerialiserAllocationFailure, EachAllocationInTurnEndsTheCallNotTheHost) {
  const SerialiserCallCase& call = std::get<0>(GetParam());
  const Heap failing = std::get<1>(GetParam());
  bool completed = false;
  long failures = 0;
  for (long k = 1; !completed && k <= 10000; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k));
    fmi2Component c = running();
    ASSERT_NE(c, nullptr);
    fmi2FMUstate state = nullptr;
    ASSERT_EQ(unit.fmi2GetFMUstate(c, &state), fmi2OK);
    std::vector<char> image = serialize(c, state);
    ASSERT_EQ(image.size(), imageSize);
    // The first call of a process installs the unit's hooks; the calls above have done that.
    fmi2FMUstate made = nullptr;
    Subject subject{c, state, &image, &made};
    host.clear();
    long hostBlocks = hostAllocator().liveBlocks;

    StandardErrorCapture standardError;
    heap::calls = 0;
    heap::liveCount = 0;
    heap::overflow = false;
    if (failing == hostHeap) {
      hostAllocator().failAt = hostAllocator().calls + k;
    } else {
      heap::failAt = k;
      heap::arm(true);
    }
    long hostCallsBefore = hostAllocator().calls;
    fmi2Status status = call.run(unit, subject);
    heap::arm(false);
    heap::failAt = 0;
    hostAllocator().failAt = 0;
    std::string written = standardError.take();

    const long taken = failing == hostHeap ? hostAllocator().calls - hostCallsBefore : heap::calls;
    completed = taken < k;
    EXPECT_EQ(written, "");
    if (completed) {
      EXPECT_EQ(status, fmi2OK);
      if (failing == cHeap) {
        EXPECT_GT(taken, 0) << "the unit's C heap is not the test's";
      }
    } else {
      ++failures;
      std::vector<std::string> texts = host.texts();
      ASSERT_FALSE(texts.empty()) << "no message";
      // A call that could not do its work: fmi2Error with its refusal last, at that status.
      EXPECT_EQ(status, fmi2Error);
      EXPECT_EQ(host.log.back().status, fmi2Error);
      // The cause first, at the status of the refusal.
      EXPECT_EQ(host.log.front().status, fmi2Error) << texts.front();
      if (failing == hostHeap) {
        // Only the deserialisation takes the host's memory: for its new state and its scratch
        // storage.
        EXPECT_EQ(texts.front(), "memory allocation failed");
      } else {
        EXPECT_EQ(texts.front(), "out of memory");
        EXPECT_NE(std::find(call.refusals.begin(), call.refusals.end(), texts.back()), call.refusals.end())
            << texts.back();
      }
      // A refused call hands back no state.
      EXPECT_EQ(made, nullptr);
    }
    EXPECT_FALSE(heap::overflow);
    EXPECT_EQ(heap::liveCount, 0) << "C heap blocks the call did not give back";

    // A state the call made is the host's to free; then the host's allocator holds what it
    // held before.
    if (made) {
      EXPECT_EQ(unit.fmi2FreeFMUstate(c, &made), fmi2OK);
    }
    EXPECT_EQ(hostAllocator().liveBlocks, hostBlocks);

    // The instance still writes and reads images of its state.
    std::vector<char> again = serialize(c, state);
    fmi2FMUstate copy = nullptr;
    EXPECT_EQ(unit.fmi2DeSerializeFMUstate(c, again.data(), again.size(), &copy), fmi2OK);
    EXPECT_TRUE(sameStateImage(serialize(c, copy), image));
    unit.fmi2FreeFMUstate(c, &copy);
    unit.fmi2FreeFMUstate(c, &state);
    release(c);
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
  EXPECT_TRUE(completed) << "the call never got through";
  if (failing == cHeap || std::string(call.name) == "fmi2DeSerializeFMUstate") {
    EXPECT_GT(failures, 0) << "no allocation of the call was failed";
  }
}

std::string callAndHeapName(const std::tuple<SerialiserCallCase, Heap>& c) {
  return std::string(std::get<0>(c).name) + (std::get<1>(c) == hostHeap ? "HostAllocator" : "CHeap");
}

INSTANTIATE_TEST_SUITE_P(ThreeCalls, SerialiserAllocationFailure,
                         ::testing::Combine(::testing::ValuesIn(serialiserCalls), ::testing::Values(hostHeap, cHeap)),
                         quenzel_test::CaseNameFrom<callAndHeapName>{});

}  // namespace
