// A unit loaded into a process that has no thread-local storage key left: it cannot evaluate on
// any thread, so it refuses to instantiate and says why.
#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fmu_host.h"

namespace {

constexpr const char* guid = "{ec302a77-e3a5-4a9c-b251-44e9b2ecede6}";

// Runs in a child process: takes every key there is, loads a private copy of the unit (so that
// its constructor runs now, not in an earlier load of this process) and instantiates.
void instantiateWithoutSlot(const std::string& copy) {
  pthread_key_t key;
  while (pthread_key_create(&key, nullptr) == 0) {
  }
  FmuLibrary unit(copy.c_str());
  if (!unit.loaded()) _exit(10);
  HostCallbacks host;
  fmi2Component c = unit.fmi2Instantiate("noSlot", fmi2CoSimulation, guid, "", host.functions(), fmi2False, fmi2True);
  if (c) _exit(11);
  if (host.log.size() < 2) _exit(12);
  const LogRecord& cause = host.log[host.log.size() - 2];
  const LogRecord& failed = host.log.back();
  if (cause.status != fmi2Error || cause.text.find("thread-local storage") == std::string::npos) _exit(13);
  if (failed.status != fmi2Fatal || failed.text != "Instantiation failed") _exit(14);
  if (hostAllocator().liveBlocks != 0) _exit(15);
  _exit(0);
}

TEST(ThreadSlotDeathTest, ALoadWithoutASlotIsRefusedAtInstantiation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string copy =
      (std::filesystem::temp_directory_path() / ("quenzel-noslot-" + std::to_string(getpid()) + ".so")).string();
  std::filesystem::copy_file(QUENZEL_SO_PATH, copy, std::filesystem::copy_options::overwrite_existing);
  EXPECT_EXIT(instantiateWithoutSlot(copy), ::testing::ExitedWithCode(0), "");
  std::filesystem::remove(copy);
}

}  // namespace
