// Paths for the files a test writes, named after the running test, in a folder of the process's
// own: test programs that run at the same time (ctest -j, a second build tree) never write or read
// each other's files, and no file of an earlier run is found in place of the one a test expects.
// The folder goes, with everything in it, when the process ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class ProcessFileFolder {
 public:
  // The folder, with a trailing slash.
  static const std::string& Path() {
    static ProcessFileFolder folder;
    return folder.path_;
  }

  ~ProcessFileFolder() {
    // A death test's forked child ends through exit as well: only the process that made the
    // folder removes it.
    if (getpid() != owner_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

 private:
  ProcessFileFolder() : owner_(getpid()) {
    std::string pattern = ::testing::TempDir() + "quenzel-files-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      fprintf(stderr, "no folder for the test files: %s\n", pattern.c_str());
      abort();
    }
    path_ = pattern + "/";
  }

  pid_t owner_;
  std::string path_;
};

// A path for the running test; suffix tells the test's files apart.
inline std::string TestFilePath(const std::string& suffix) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  return ProcessFileFolder::Path() + name + suffix;
}
