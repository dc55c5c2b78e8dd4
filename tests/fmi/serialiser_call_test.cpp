// The serialiser inside a call: its messages on the calling instance's logger, and fatal
// conditions that land back in the call with every block of the call given back (the leak check
// of the sanitizer build sees the rest).
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "case_names.h"
#include "instance_fixture.h"
#include "serialiser_call.h"
#include "tpl.h"

namespace {

using SerialiserCalls = InstanceTest;

struct FatalCase {
  const char* what;
  std::function<void()> run;
  const char* message;
};

void PrintTo(const FatalCase& c, std::ostream* os) { *os << c.what; }

double values[8];
int32_t numbers[4];

const FatalCase fatalCases[] = {
    // Two nodes with their value buffers and two fixed lengths are built before the zero.
    {"non-positive length after two arrays", [] { tpl_map("f#f#i#", values, 3, values, 3, numbers, 0); },
     "non-positive iteration count 0"},
    {"eleven lengths in one run", [] { tpl_map("i###########", numbers, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1); },
     "contiguous # exceeds hardcoded limit"},
};

class SerialiserFatal : public InstanceTest, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(SerialiserFatal, LandsInTheCallWithItsMessageOnTheLogger) {
  testing::internal::CaptureStderr();
  SerialiserCall call;
  fmiSerialiserEnter(&call, instance);
  volatile bool landed = false;
  if (SERIALISER_ARMED(call)) {
    GetParam().run();
  } else {
    landed = true;
  }
  EXPECT_EQ(call.blocks.next, &call.blocks) << "blocks of the call left";
  fmiSerialiserLeave(&call);
  EXPECT_TRUE(landed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // A fatal condition always ends the call in its refusal: its text comes at that status.
  ASSERT_EQ(host.log.size(), 1u);
  EXPECT_EQ(host.log[0].status, fmi2Error);
  EXPECT_EQ(host.log[0].instance, "inst");
  EXPECT_EQ(host.log[0].text, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Conditions, SerialiserFatal, ::testing::ValuesIn(fatalCases),
                         quenzel_test::CaseNameFrom<&FatalCase::what>{});

TEST_F(SerialiserCalls, ReportsGoToTheCallingInstanceAndAreDroppedOutsideACall) {
  testing::internal::CaptureStderr();
  SerialiserCall call;
  fmiSerialiserEnter(&call, instance);
  if (SERIALISER_ARMED(call)) {
    EXPECT_EQ(tpl_map("iQ", numbers), nullptr);
  } else {
    ADD_FAILURE() << "a report ended the call";
  }
  fmiSerialiserLeave(&call);
  EXPECT_EQ(tpl_map("iQ", numbers), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(host.texts(), (std::vector<std::string>{"unsupported option Q", "failed to parse iQ"}));
  // The serialiser's own reports come with a refusal the caller makes: they stay warnings.
  for (const LogRecord& r : host.log) EXPECT_EQ(r.status, fmi2Warning) << r.text;
}

// A fatal condition in a call made from inside another call (a host's logger may call the unit)
// lands in the inner call; the outer call's map is still whole.
TEST_F(SerialiserCalls, AnInnerCallsFatalConditionLandsInTheInnerCall) {
  SerialiserCall outer;
  fmiSerialiserEnter(&outer, instance);
  volatile bool innerLanded = false;
  if (SERIALISER_ARMED(outer)) {
    tpl_map_node* map = tpl_map("f#", values, 4);
    SerialiserCall inner;
    fmiSerialiserEnter(&inner, instance);
    if (SERIALISER_ARMED(inner)) {
      tpl_map("i#", numbers, -2);
    } else {
      innerLanded = true;
    }
    fmiSerialiserLeave(&inner);
    EXPECT_EQ(tpl_pack(map, 0), 0);
    uint64_t size = 0;
    EXPECT_EQ(tpl_dump(map, TPL_MODE_SIZE_ONLY, &size), 0);
    EXPECT_EQ(size, 9u + 2 + 4 + 32);
    tpl_free_map(map);
  } else {
    ADD_FAILURE() << "the inner call's fatal condition landed in the outer call";
  }
  EXPECT_EQ(outer.blocks.next, &outer.blocks);
  fmiSerialiserLeave(&outer);
  EXPECT_TRUE(innerLanded);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"non-positive iteration count -2"});
  EXPECT_EQ(host.log[0].status, fmi2Error);
}

// A map made in a call may be released after it: its blocks are no longer the call's.
TEST_F(SerialiserCalls, BlocksOutliveTheCallThatTookThem) {
  tpl_map_node* volatile map = nullptr;  // set after arming, read after leaving
  SerialiserCall call;
  fmiSerialiserEnter(&call, instance);
  if (SERIALISER_ARMED(call)) map = tpl_map("i#f#", numbers, 4, values, 8);
  fmiSerialiserLeave(&call);
  ASSERT_NE(map, nullptr);
  SerialiserCall later;
  fmiSerialiserEnter(&later, instance);
  if (SERIALISER_ARMED(later)) {
    EXPECT_EQ(tpl_pack(map, 0), 0);
    tpl_free_map(map);
  }
  EXPECT_EQ(later.blocks.next, &later.blocks);
  fmiSerialiserLeave(&later);
  EXPECT_TRUE(host.log.empty());
}

// Each thread's serialiser reports to the instance whose call runs on that thread.
TEST_F(SerialiserCalls, EachThreadReportsToItsOwnInstance) {
  HandBuiltInstance other;
  strcpy(other.name, "other");
  auto reportRepeatedly = [](ModelInstance* target) {
    for (int k = 0; k < 200; ++k) {
      SerialiserCall call;
      fmiSerialiserEnter(&call, target);
      if (SERIALISER_ARMED(call)) tpl_map("Q");
      fmiSerialiserLeave(&call);
    }
  };
  std::thread first(reportRepeatedly, instance);
  std::thread second(reportRepeatedly, &other.record);
  first.join();
  second.join();
  for (HostCallbacks* h : {&host, &other.host}) {
    EXPECT_EQ(h->log.size(), 400u);
    for (const LogRecord& r : h->log) EXPECT_EQ(r.instance, h == &host ? "inst" : "other");
  }
}

}  // namespace
