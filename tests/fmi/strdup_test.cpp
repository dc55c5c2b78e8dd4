// fmiStrdup: copies through the host's allocator, cut and always terminated.
#include <string>

#include "case_names.h"
#include "instance_fixture.h"

namespace {

struct CopyCase {
  const char* what;
  bool null;
  std::string text;
  std::string copy;
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.what; }

class Strdup : public ::testing::TestWithParam<CopyCase> {
 protected:
  void SetUp() override { resetHostAllocator(); }  // poisons new blocks: the copy must terminate itself
  HostCallbacks host;
};

TEST_P(Strdup, CopiesIntoHostMemoryOfTheCopysLength) {
  const CopyCase& c = GetParam();
  char* copy = fmiStrdup(host.functions(), c.null ? nullptr : c.text.c_str());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy), c.copy);
  EXPECT_EQ(hostAllocator().allocations, 1);
  EXPECT_EQ(hostAllocator().liveBytes, static_cast<long long>(c.copy.size() + 1));
  host.functions()->freeMemory(copy);
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Strdup,
    ::testing::Values(CopyCase{"Plain", false, "inst", "inst"}, CopyCase{"Empty", false, "", ""},
                      CopyCase{"Null", true, "", "<NULL>"},
                      CopyCase{"AtTheLimit", false, std::string(1024, 'n'), std::string(1024, 'n')},
                      CopyCase{"Long", false, std::string(2000, 'n'), std::string(1024, 'n')}),
    quenzel_test::CaseNameFrom<&CopyCase::what>{});

TEST(StrdupFailure, ExhaustedHostMemoryGivesNull) {
  resetHostAllocator();
  HostCallbacks host;
  hostAllocator().failAt = 1;
  EXPECT_EQ(fmiStrdup(host.functions(), "inst"), nullptr);
  EXPECT_EQ(hostAllocator().calls, 1);
  EXPECT_EQ(hostAllocator().liveBlocks, 0);
  EXPECT_EQ(fmiStrdup(nullptr, "inst"), nullptr);
}

}  // namespace
