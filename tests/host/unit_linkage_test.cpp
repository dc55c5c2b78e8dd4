// What the unit carries and what it needs from the host: it must load on a machine that has none
// of the build's libraries, and it holds the whole runtime, used by this model or not.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "fmu_host.h"

TEST(UnitLinkage, NeedsOnlyTheCLibraryTheMathsLibraryAndTheLoader) {
  std::set<std::string> allowed = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"};
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer build's runtimes come from the compiler; a unit for users is built without them.
  allowed.insert({"libasan.so.8", "libubsan.so.1", "libstdc++.so.6", "libgcc_s.so.1"});
#endif
  std::vector<std::string> needed = neededLibraries(QUENZEL_SO_PATH);
  ASSERT_FALSE(needed.empty()) << "no dynamic section read from " << QUENZEL_SO_PATH;
  for (const std::string& library : needed) EXPECT_TRUE(allowed.count(library)) << "the unit needs " << library;
}

// One function of each library of the runtime, chosen among those this model never calls where
// the library has such, so that only a library linked in whole provides it.
struct CarriedFunction {
  const char* library;
  const char* function;
};

const CarriedFunction carriedFunctions[] = {
    {"platform", "PlatformLockCreate"},
    {"runtime", "ElapsedTimeSinceFirstCall"},
    {"runtime linear solver", "SolveLinearSystem"},
    {"matfile", "amatPutRinit"},
    {"matfile trajectories", "atrajPutOpen"},
    {"modelica", "RealNewLike"},
    {"modelica file cache", "FileCacheOpen"},
    {"model", "modelEquations"},
    {"tpl", "tpl_free_map"},
    {"fmi", "fmiCancelStep"},
    {"CVODE", "CVodeCreate"},
    {"CVODE serial vectors", "N_VNew_Serial"},
    {"CVODE dense matrices", "SUNDenseMatrix"},
    {"CVODE dense solver", "SUNLinSol_Dense"},
    {"LAPACK", "dgeqpf_"},
    {"BLAS", "dgemv_"},
};

TEST(UnitLinkage, CarriesOneFunctionOfEveryRuntimeLibrary) {
  std::vector<std::string> names = definedFunctionNames(QUENZEL_SO_PATH);
  ASSERT_FALSE(names.empty()) << "no symbol table read from " << QUENZEL_SO_PATH;
  std::sort(names.begin(), names.end());
  for (const CarriedFunction& f : carriedFunctions)
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), f.function))
        << f.library << ": " << f.function << " is not in the unit";
}
