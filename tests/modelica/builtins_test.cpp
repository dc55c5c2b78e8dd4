// The built-in functions: shape and material codes, memory vectors, enumeration texts and checks,
// the smooth step and its derivatives, the all-sections flag and the resources folder's rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "builtins.h"
#include "failed_check.h"
#include "guarded_call.h"
#include "resources.h"
#include "workbuffers.h"

TEST(Builtins, ShapeCodes) {
  struct Case {
    const char* name;
    double code;
  } cases[] = {{"box", 101},       {"sphere", 102},      {"cylinder", 103}, {"cone", 104},
               {"pipe", 105},      {"beam", 106},        {"wirebox", 107},  {"gearwheel", 108},
               {"vector", 109},    {"pipecylinder", 110}, {"spring", 111},  {"tire", 112},
               {"tyre", 112},      {"Box", 200},         {"12", 212},       {"  -5x", 195},
               {"modelica://x", 200}, {"", 200},         {nullptr, 200},
               {"99999999999999999999", 200.0 + 2147483647.0}, {"-99999999999999999999", 200.0 - 2147483648.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(ShapeCode(c.name), c.code);
  }
}

TEST(Builtins, MaterialCodes) {
  struct Case {
    double r, g, b, s, code;
  } cases[] = {{1, 0.5, 0, 1, 9949009},   {-1, -0.5, -3, -1, 0},  {2, 7, 1e300, 5, 9999999},
               {0.1, 0.2, 0.3, 0.4, 919293}, {NAN, NAN, NAN, NAN, 0}, {-1e300, 0, 0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r);
    EXPECT_EQ(MaterialCode(c.r, c.g, c.b, c.s), c.code);
  }
}

TEST(Builtins, MemoryVectorsKeepTheEightBytesAndRefuseScalars) {
  double memory[2] = {0.0, 0.0};
  const double stored = -0.0;
  EXPECT_EQ(putMemory(0, memory, 2, 1, 5.0), 0.0);
  EXPECT_EQ(memory[0], 0.0);
  putMemory(1, memory, 2, 1, stored);
  EXPECT_TRUE(std::signbit(getMemory(memory, 1, 2)));
  putMemory(1, memory, 2, 1, 7.5);
  EXPECT_EQ(getMemory(memory, 2, 1), 7.5);
  static double* m;
  m = memory;
  GuardedCallResult get = GuardedCall([] { getMemory(m, 1, 1); });
  ASSERT_TRUE(get.jumped);
  EXPECT_EQ(get.texts()[1], "Memory argument to getMemory must be a vector.");
  GuardedCallResult put = GuardedCall([] { putMemory(1, m, 1, 1, 3.0); });
  ASSERT_TRUE(put.jumped);
  EXPECT_EQ(put.texts()[1], "Memory argument to putMemory must be a vector.");
  EXPECT_EQ(memory[0], 7.5);
  modelDataTemplate.status = 0;
}

TEST(Builtins, EnumToStringPadsAndChecks) {
  static std::string longName(300, 'n');
  static char* names[3];
  names[0] = const_cast<char*>("ab");
  names[1] = const_cast<char*>("name");
  names[2] = longName.data();
  static int32_t dims[1] = {3};
  struct Case {
    int x, left, width;
    std::string text;
  } cases[] = {{1, 0, 5, "   ab"}, {1, 1, 5, "ab   "}, {2, 0, 2, "name"}, {2, 0, 0, "name"},
               {1, 0, -4, "ab  "}, {3, 1, 39, longName}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    static const Case* current;
    static std::string got;
    current = &c;
    ExpectNoFailure(GuardedCall([] {
      MarkReset();
      got = EnumToString(current->x, current->left, current->width, StringArray{1, dims, names});
    }));
    EXPECT_EQ(got, c.text);
  }
  const char namesCondition[] = "names.ndims==1 && x>=1 && x<=names.dims[0]";
  ExpectFailedCheck(GuardedCall([] { EnumToString(1, 0, 40, StringArray{1, dims, names}); }), "minwidth<40", "");
  ExpectFailedCheck(GuardedCall([] { EnumToString(0, 0, 5, StringArray{1, dims, names}); }), namesCondition, "");
  ExpectFailedCheck(GuardedCall([] { EnumToString(4, 0, 5, StringArray{1, dims, names}); }), namesCondition, "");
  static int32_t matrixDims[2] = {1, 3};
  ExpectFailedCheck(GuardedCall([] { EnumToString(1, 0, 5, StringArray{2, matrixDims, names}); }),
                    namesCondition, "");
  modelDataTemplate.status = 0;
}

TEST(Builtins, EnumFromIntegerChecksTheRange) {
  EXPECT_EQ(EnumFromInteger(1, 3, "m"), 1);
  EXPECT_EQ(EnumFromInteger(3, 3, "m"), 3);
  for (int bad : {0, 4, -7}) {
    SCOPED_TRACE(bad);
    static int value;
    value = bad;
    ExpectFailedCheck(GuardedCall([] { EnumFromInteger(value, 3, "Not a colour"); }),
                      "toConvert >= 1 && toConvert <= maxEnumValue", "Not a colour");
  }
  modelDataTemplate.status = 0;
}

TEST(Builtins, SpliceStepAndItsDerivatives) {
  struct Case {
    double x, dx, step;
  } cases[] = {{0, 1, 0.5},  {0.5, 1, 0.8807970779778823}, {0.5, -1, 0.11920292202211769},
               {-1, 1, 0},   {1, 1, 1},   {2, 1, 1},  {-2, 1, 0}, {0, 0, 0}, {1e-9, 0, 1}, {-1, -1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + " " + std::to_string(c.dx));
    EXPECT_NEAR(SpliceStep(c.x, c.dx), c.step, 1e-15);
  }
  EXPECT_NEAR(SpliceStepDerivative(0, 1, 1, 0), M_PI / 4, 1e-15);
  EXPECT_EQ(SpliceStepDerivative(1, 1, 1, 0), 0.0);
  EXPECT_EQ(SpliceStepDerivative(0, 0, 1, 0), 0.0);
  // Against a central difference of the step along x(t) = 0.3 + t, dx(t) = 2 + 0.5 t.
  const double h = 1e-6;
  const double numeric = (SpliceStep(0.3 + h, 2 + 0.5 * h) - SpliceStep(0.3 - h, 2 - 0.5 * h)) / (2 * h);
  EXPECT_NEAR(SpliceStepDerivative(0.3, 2, 1, 0.5), numeric, 1e-8);
  EXPECT_NEAR(SpliceStepDerivative(-0.3, -2, -1, -0.5), numeric, 1e-8);

  // The blend's derivative: inside the step all three terms, outside only the weighted side.
  const double y1 = 3, y2 = -1, dy1 = 0.7, dy2 = 0.2;
  const double s = SpliceStep(0.3, 2);
  EXPECT_NEAR(SpliceBlendDerivative(y1, y2, 0.3, 2, dy1, dy2, 1, 0.5),
              s * dy1 + (1 - s) * dy2 + SpliceStepDerivative(0.3, 2, 1, 0.5) * (y1 - y2), 1e-15);
  EXPECT_EQ(SpliceBlendDerivative(y1, y2, 5, 2, dy1, NAN, 1, 0), dy1);
  EXPECT_EQ(SpliceBlendDerivative(y1, y2, -5, 2, NAN, dy2, 1, 0), dy2);
}

TEST(Builtins, AllSectionsFlagOfTheRecordBeingEvaluated) {
  static ModelData record;
  static int inside, ofTemplate;
  record = modelDataTemplate;
  record.allSections = 1;
  const int saved = modelDataTemplate.allSections;
  modelDataTemplate.allSections = 0;
  ExpectNoFailure(GuardedCall([] { inside = AllSectionsFlag(); }, &record));
  ExpectNoFailure(GuardedCall([] { ofTemplate = AllSectionsFlag(); }));
  EXPECT_EQ(inside, 1);
  EXPECT_EQ(ofTemplate, 0);
  modelDataTemplate.allSections = saved;
}

TEST(Builtins, ResourcesFolderOfAModulePath) {
  struct Case {
    const char* path;
    const char* folder;  // null: refused
  } cases[] = {{"/fmu/binaries/linux64/Quenzel.so", "/fmu/resources/"},
               {"/a/b/c/Quenzel.so", "/a/resources/"},
               {"/b/c/Quenzel.so", "/resources/"},
               {"/x\\y/binaries/linux64/Quenzel.so", "/x\\y/resources/"},
               {"/c/Quenzel.so", nullptr},
               {"Quenzel.so", nullptr},
               {"", nullptr},
               {nullptr, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path ? c.path : "(null)");
    char folder[resourcesPathCapacity];
    const int result = ResourcesFolderOf(c.path, folder, sizeof folder);
    EXPECT_EQ(result, c.folder ? 0 : -1);
    EXPECT_STREQ(folder, c.folder ? c.folder : "");
  }
  // The result must fit with its terminator: "/a/" and "resources/" need 14 bytes.
  char small[14];
  EXPECT_EQ(ResourcesFolderOf("/a/b/c/d.so", small, sizeof small), 0);
  EXPECT_STREQ(small, "/a/resources/");
  EXPECT_EQ(ResourcesFolderOf("/a/b/c/d.so", small, sizeof small - 1), -1);
  const std::string deep = "/" + std::string(990, 'd') + "/binaries/linux64/Quenzel.so";
  char folder[resourcesPathCapacity];
  EXPECT_EQ(ResourcesFolderOf(deep.c_str(), folder, sizeof folder), -1);
}

TEST(Builtins, FmuResourcesPathOutsideTheUnitFallsBackOnce) {
  // This program is no Quenzel.so: the folder cannot be found, and is not looked for again.
  const char* savedPath = resourcesPath;
  const int32_t savedPending = resourcesPathPending;
  resourcesPath = nullptr;
  resourcesPathPending = 1;
  EXPECT_STREQ(FmuResourcesPath(), "TrelvixResources/");
  EXPECT_EQ(resourcesPathPending, 0);
  resourcesPath = "/preset/";
  EXPECT_STREQ(FmuResourcesPath(), "/preset/");
  resourcesPath = savedPath;
  resourcesPathPending = savedPending;
}
