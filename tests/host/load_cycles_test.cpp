// A host that loads and unloads the unit over and over, with a short Model Exchange run each
// time, finds nothing left behind: no live host allocation, no growing process memory and no
// used-up thread-local keys.
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "unit_fixture.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool underAddressSanitizer = true;
#else
constexpr bool underAddressSanitizer = false;
#endif

long residentKilobytes() {
  long pages = 0, resident = 0;
  if (FILE* f = fopen("/proc/self/statm", "r")) {
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// glibc hands out the lowest free key, so a key made now shows how many are taken.
pthread_key_t nextFreeKey() {
  pthread_key_t key;
  EXPECT_EQ(pthread_key_create(&key, nullptr), 0);
  pthread_key_delete(key);
  return key;
}

// One host's whole use of the unit, from dlopen to dlclose.
void cycle(HostCallbacks& host) {
  FmuLibrary unit;
  ASSERT_TRUE(unit.loaded()) << unit.error();
  fmi2Component c =
      unit.fmi2Instantiate("cycle", fmi2ModelExchange, model::guid, "", host.functions(), fmi2False, fmi2False);
  ASSERT_NE(c, nullptr);
  const fmi2ValueReference limits[] = {model::limiterUMin, model::limiter1UMin};
  const double minus1[] = {-1.0, -1.0};
  ASSERT_EQ(unit.fmi2SetReal(c, limits, 2, minus1), fmi2OK);
  ASSERT_EQ(unit.fmi2SetupExperiment(c, fmi2False, 0, 0, fmi2False, 0), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterInitializationMode(c), fmi2OK);
  ASSERT_EQ(unit.fmi2ExitInitializationMode(c), fmi2OK);
  fmi2EventInfo info{};
  ASSERT_EQ(unit.fmi2NewDiscreteStates(c, &info), fmi2OK);
  ASSERT_EQ(unit.fmi2EnterContinuousTimeMode(c), fmi2OK);
  double x[2], dx[2], z[10];
  ASSERT_EQ(unit.fmi2GetContinuousStates(c, x, 2), fmi2OK);
  for (int step = 1; step <= 3; ++step) {
    ASSERT_EQ(unit.fmi2GetDerivatives(c, dx, 2), fmi2OK);
    for (int i = 0; i < 2; ++i) x[i] += 0.1 * dx[i];
    ASSERT_EQ(unit.fmi2SetTime(c, 0.1 * step), fmi2OK);
    ASSERT_EQ(unit.fmi2SetContinuousStates(c, x, 2), fmi2OK);
    ASSERT_EQ(unit.fmi2GetEventIndicators(c, z, 10), fmi2OK);
    fmi2Boolean enter, stop;
    ASSERT_EQ(unit.fmi2CompletedIntegratorStep(c, fmi2True, &enter, &stop), fmi2OK);
  }
  ASSERT_EQ(unit.fmi2Terminate(c), fmi2OK);
  unit.fmi2FreeInstance(c);
}

TEST(LoadCycles, TwoThousandCyclesLeaveNothingBehind) {
  resetHostAllocator();
  HostCallbacks host;
  for (int i = 0; i < 100; ++i) ASSERT_NO_FATAL_FAILURE(cycle(host)) << "warm-up cycle " << i;
  long residentBefore = residentKilobytes();
  pthread_key_t keyBefore = nextFreeKey();
  for (int i = 0; i < 2000; ++i) {
    ASSERT_NO_FATAL_FAILURE(cycle(host)) << "cycle " << i;
    ASSERT_EQ(hostAllocator().liveBlocks, 0) << "cycle " << i;
  }
  EXPECT_EQ(hostAllocator().liveBytes, 0);
  EXPECT_EQ(nextFreeKey(), keyBefore);
  EXPECT_TRUE(host.log.empty()) << host.log.front().text;
  // AddressSanitizer holds freed memory back in its quarantine, so resident memory says nothing
  // there; its leak checker covers that build instead.
  if (!underAddressSanitizer) {
    EXPECT_LT(residentKilobytes() - residentBefore, 4096) << "kB grown";
  }
}

// Two copies of the unit (two FMUs of this runtime), each unloaded while the other is loaded: a
// unit that took space of the static thread-local block would find none left after a few rounds.
TEST(LoadCycles, TwoCopiesLoadedAndUnloadedInTurnKeepLoading) {
  std::vector<std::string> copies;
  for (const char* tag : {"a", "b"}) {
    copies.push_back((std::filesystem::temp_directory_path() /
                      ("quenzel-copy-" + std::to_string(getpid()) + "-" + tag + ".so"))
                         .string());
    std::filesystem::copy_file(QUENZEL_SO_PATH, copies.back(), std::filesystem::copy_options::overwrite_existing);
  }
  for (int round = 0; round < 100; ++round) {
    auto first = std::make_unique<FmuLibrary>(copies[0].c_str());
    auto second = std::make_unique<FmuLibrary>(copies[1].c_str());
    ASSERT_TRUE(first->loaded()) << "round " << round << ": " << first->error();
    ASSERT_TRUE(second->loaded()) << "round " << round << ": " << second->error();
    first.reset();
    second.reset();
  }
  for (const std::string& copy : copies) std::filesystem::remove(copy);
}

}  // namespace
