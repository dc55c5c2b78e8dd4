// quenzel-host's file side: unpacking an FMU into a temporary folder and reading a model
// description, including the descriptions it must refuse.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "case_names.h"
#include "fmu_archive.h"
#include "model_description.h"

namespace {

// A private TMPDIR for the duration of a test, so that what the code leaves there can be seen.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    char pattern[] = "/tmp/host-tool-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
    const char* old = getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~TemporaryFolder() {
    if (hadOld_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
    removeUnpackedFmu(path_);
  }
  const std::string& path() const { return path_; }

  int entries() const {
    int n = 0;
    if (DIR* d = opendir(path_.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
      closedir(d);
    }
    return n;
  }

  std::string write(const std::string& name, const std::string& text) const {
    std::string file = path_ + "/" + name;
    std::ofstream(file) << text;
    return file;
  }

 private:
  std::string path_, old_;
  bool hadOld_ = false;
};

bool isFile(const std::string& path) {
  struct stat s;
  return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

TEST(HostToolArchive, UnpacksTheFmuAndRemovesItAgain) {
  TemporaryFolder tmp;
  std::string folder, error;
  ASSERT_TRUE(unpackFmu(QUENZEL_FMU_PATH, &folder, &error)) << error;
  EXPECT_EQ(folder.rfind(tmp.path() + "/quenzel-host-", 0), 0u) << folder;
  EXPECT_TRUE(isFile(folder + "/modelDescription.xml"));
  EXPECT_TRUE(isFile(fmuBinaryPath(folder, "Quenzel")));
  removeUnpackedFmu(folder);
  EXPECT_EQ(tmp.entries(), 0);
}

TEST(HostToolArchive, AFileThatIsNoArchiveLeavesNothingBehind) {
  TemporaryFolder tmp;
  std::string notZip = tmp.write("not-a-zip.fmu", "plain text");
  std::string folder, error;
  EXPECT_FALSE(unpackFmu(notZip.c_str(), &folder, &error));
  EXPECT_NE(error.find("not a readable zip archive"), std::string::npos) << error;
  EXPECT_FALSE(unpackFmu((tmp.path() + "/missing.fmu").c_str(), &folder, &error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;
  EXPECT_EQ(tmp.entries(), 1);  // the input file only
}

const char validDescription[] = R"xml(<?xml version="1.0"?>
<fmiModelDescription fmiVersion="2.0" modelName="M" guid="{g}" numberOfEventIndicators="3">
  <ModelExchange modelIdentifier="MI"/>
  <DefaultExperiment startTime="0.5" stopTime="2"/>
  <ModelVariables>
    <ScalarVariable name="p" valueReference="16777216" causality="parameter" variability="fixed"><Real start="2.5"/></ScalarVariable>
    <ScalarVariable name="x" valueReference="33554432" initial="calculated"><Real/></ScalarVariable>
    <ScalarVariable name="der(x)" valueReference="587202560"><Real derivative="2"/></ScalarVariable>
    <ScalarVariable name="b" valueReference="7" causality="output" variability="discrete"><Boolean start="true"/></ScalarVariable>
  </ModelVariables>
  <ModelStructure>
    <Outputs><Unknown index="4"/></Outputs>
    <Derivatives><Unknown index="3"/></Derivatives>
  </ModelStructure>
</fmiModelDescription>
)xml";

TEST(HostToolModelDescription, ReadsIdentityExperimentVariablesAndStructure) {
  TemporaryFolder tmp;
  ModelDescription d;
  std::string error;
  ASSERT_TRUE(readModelDescription(tmp.write("md.xml", validDescription).c_str(), &d, &error)) << error;
  EXPECT_EQ(d.guid, "{g}");
  EXPECT_EQ(d.numberOfEventIndicators, 3u);
  EXPECT_TRUE(d.modelExchange);
  EXPECT_EQ(d.modelExchangeIdentifier, "MI");
  EXPECT_FALSE(d.coSimulation);
  EXPECT_TRUE(d.hasStartTime && d.hasStopTime);
  EXPECT_FALSE(d.hasStepSize || d.hasTolerance);
  EXPECT_EQ(d.startTime, 0.5);
  ASSERT_EQ(d.variables.size(), 4u);
  EXPECT_EQ(d.variables[0].valueReference, 16777216u);
  EXPECT_TRUE(d.variables[0].hasStart);
  EXPECT_EQ(d.variables[0].start, "2.5");
  // Attributes left out take the FMI defaults.
  EXPECT_EQ(d.variables[1].causality, "local");
  EXPECT_EQ(d.variables[1].variability, "continuous");
  EXPECT_FALSE(d.variables[1].hasStart);
  EXPECT_EQ(d.variables[2].derivativeOf, 2u);
  EXPECT_EQ(d.variables[3].type, variableBoolean);
  EXPECT_EQ(findVariable(d, "b"), &d.variables[3]);
  EXPECT_EQ(findVariable(d, "B"), nullptr);
  EXPECT_EQ(stateVariables(d), std::vector<size_t>{1});
}

struct BrokenCase {
  const char* what;
  const char* from;  // replaced everywhere in the valid description ...
  const char* to;    // ... by this
  const char* error;  // part of the reason given
};

void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.what; }

class HostToolBrokenDescription : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(HostToolBrokenDescription, IsRefusedWithAReason) {
  const BrokenCase& c = GetParam();
  std::string text = validDescription;
  size_t at = text.find(c.from);
  ASSERT_NE(at, std::string::npos) << c.from;
  for (; at != std::string::npos; at = text.find(c.from, at + strlen(c.to))) text.replace(at, strlen(c.from), c.to);
  TemporaryFolder tmp;
  ModelDescription d;
  std::string error;
  EXPECT_FALSE(readModelDescription(tmp.write("md.xml", text).c_str(), &d, &error));
  EXPECT_NE(error.find(c.error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostToolBrokenDescription,
    ::testing::Values(
        BrokenCase{"not well-formed", "</ModelVariables>", "</ModelVariable>", "md.xml"},
        BrokenCase{"another root", "fmiModelDescription", "other", "not an FMI model"},
        BrokenCase{"FMI 1.0", "fmiVersion=\"2.0\"", "fmiVersion=\"1.0\"", "not \"2.0\""},
        BrokenCase{"no value reference", "valueReference=\"7\"", "", "(b) has no valid valueReference"},
        BrokenCase{"negative value reference", "valueReference=\"7\"", "valueReference=\"-7\"", "valueReference"},
        BrokenCase{"value reference over 32 bits", "valueReference=\"7\"", "valueReference=\"4294967296\"",
                   "valueReference"},
        BrokenCase{"two types", "<Boolean start=\"true\"/>", "<Boolean/><Real/>", "more than one type"},
        BrokenCase{"no type", "<Boolean start=\"true\"/>", "", "no type element"},
        BrokenCase{"derivative 0", "derivative=\"2\"", "derivative=\"0\"", "invalid derivative"},
        BrokenCase{"derivative beyond the list", "derivative=\"2\"", "derivative=\"9\"", "does not exist"},
        BrokenCase{"structure index 0", "<Unknown index=\"4\"/>", "<Unknown index=\"0\"/>", "Outputs: invalid"},
        BrokenCase{"structure index beyond the list", "<Unknown index=\"4\"/>", "<Unknown index=\"5\"/>",
                   "Outputs: invalid"},
        BrokenCase{"a derivative that is none", "<Unknown index=\"3\"/>", "<Unknown index=\"2\"/>",
                   "x is not a derivative"},
        BrokenCase{"experiment value not a number", "stopTime=\"2\"", "stopTime=\"two\"", "stopTime"},
        BrokenCase{"event indicator count not a count", "numberOfEventIndicators=\"3\"",
                   "numberOfEventIndicators=\"-3\"", "numberOfEventIndicators"}),
    quenzel_test::CaseNameFrom<&BrokenCase::what>{});

}  // namespace
