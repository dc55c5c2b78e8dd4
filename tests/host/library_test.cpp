// The unit as a shared library: what it exports and the two version queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>

#include <set>

#include "fmu_host.h"

TEST(Library, ExportsExactlyTheBuiltFmi2FunctionsAndNothingElse) {
  std::vector<std::string> defined = definedDynamicSymbols(QUENZEL_SO_PATH);
  std::set<std::string> exported(defined.begin(), defined.end());
  std::set<std::string> expected(builtFmi2FunctionNames().begin(), builtFmi2FunctionNames().end());
  ASSERT_FALSE(exported.empty()) << "no dynamic symbols read from " << QUENZEL_SO_PATH;
  EXPECT_EQ(exported, expected);
  for (const std::string& name : builtFmi2FunctionNames())
    EXPECT_NE(std::find(allFmi2FunctionNames().begin(), allFmi2FunctionNames().end(), name),
              allFmi2FunctionNames().end())
        << name << " is not an fmi2 function";
}

TEST(Library, HostResolvesEveryBuiltFunctionByName) {
  FmuLibrary unit;
  ASSERT_TRUE(unit.loaded()) << unit.error();
  for (const std::string& name : builtFmi2FunctionNames())
    EXPECT_NE(dlsym(unit.handle(), name.c_str()), nullptr) << name;
}

TEST(Library, VersionQueriesAnswerTheirFixedTexts) {
  FmuLibrary unit;
  ASSERT_TRUE(unit.loaded()) << unit.error();
  ASSERT_NE(unit.fmi2GetTypesPlatform, nullptr);
  ASSERT_NE(unit.fmi2GetVersion, nullptr);
  EXPECT_STREQ(unit.fmi2GetTypesPlatform(), "default");
  EXPECT_STREQ(unit.fmi2GetVersion(), "2.0");
}

TEST(Library, LoadsAndUnloadsRepeatedly) {
  for (int i = 0; i < 50; ++i) {
    FmuLibrary unit;
    ASSERT_TRUE(unit.loaded()) << unit.error();
  }
}

// No instance can be made yet, so only the null component reaches the call here: the call
// cannot fail, whatever categories it is given.
TEST(Library, SetDebugLoggingOnANullComponentAnswersOk) {
  FmuLibrary unit;
  ASSERT_TRUE(unit.loaded()) << unit.error();
  ASSERT_NE(unit.fmi2SetDebugLogging, nullptr);
  const fmi2String categories[] = {"logAll", nullptr};
  EXPECT_EQ(unit.fmi2SetDebugLogging(nullptr, fmi2True, 0, nullptr), fmi2OK);
  EXPECT_EQ(unit.fmi2SetDebugLogging(nullptr, fmi2False, 2, categories), fmi2OK);
}
