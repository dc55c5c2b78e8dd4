// Result generation is built into the unit but no fmi2 call switches it on: runs of either kind,
// with every value of noSetFMUStatePriorToCurrentPoint, a reset and a second initialisation,
// write no file into the working folder and say nothing about it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "unit_fixture.h"

namespace {

class ResultFilesOff : public UnitTest {
 protected:
  void SetUp() override {
    UnitTest::SetUp();
    char buffer[PATH_MAX];
    previous = getcwd(buffer, sizeof buffer) ? buffer : "/";
    std::string pattern = (std::filesystem::temp_directory_path() / "quenzel-nofiles-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    ASSERT_EQ(chdir(folder.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(previous.c_str()), 0);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    UnitTest::TearDown();
  }
  bool folderEmpty() const { return std::filesystem::is_empty(folder); }

  std::string previous;
  std::filesystem::path folder;
};

TEST_F(ResultFilesOff, NoRunWritesAResultFile) {
  for (fmi2Type type : {fmi2CoSimulation, fmi2ModelExchange}) {
    SCOPED_TRACE(kindName(type));
    fmi2Component c = startIn(type, startRunning);
    ASSERT_NE(c, nullptr);
    if (type == fmi2CoSimulation) {
      for (int i = 0; i < 6; ++i) ASSERT_EQ(unit.fmi2DoStep(c, 0.1 * i, 0.1, i % 2 ? fmi2True : fmi2False), fmi2OK);
    } else {
      fmi2EventInfo info{};
      ASSERT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
      ASSERT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
      fmi2Boolean event = fmi2False, terminate = fmi2False;
      for (int i = 1; i <= 6; ++i) {
        ASSERT_EQ(unit.fmi2SetTime(c, 0.1 * i), fmi2OK);
        ASSERT_EQ(unit.fmi2CompletedIntegratorStep(c, i % 2 ? fmi2True : fmi2False, &event, &terminate), fmi2OK);
      }
    }
    ASSERT_EQ(unit.fmi2Reset(c), fmi2OK);
    consistentLimits(c);
    ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
    ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
    ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
    release(c);
    EXPECT_TRUE(folderEmpty());
    EXPECT_FALSE(host.contains("esult generation"));
  }
}

}  // namespace
