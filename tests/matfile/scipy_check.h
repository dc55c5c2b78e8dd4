// The independent side of the MAT-file cross-check: scipy_check.py run by Debian's own
// /usr/bin/python3. The test command installs python3-scipy, so a missing SciPy fails the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Runs the check script; its standard output, and whether it exited with 0.
inline bool RunScipyCheck(const char* command, const std::string& path, std::string* output) {
  std::string line = std::string("/usr/bin/python3 ") + QUENZEL_SCIPY_CHECK + " " + command + " '" + path + "'";
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  return pclose(pipe) == 0;
}

// Every matrix of the file as scipy.io.loadmat reads it, one line each (see scipy_check.py).
inline std::string ScipyLoaded(const std::string& path) {
  std::string output;
  EXPECT_TRUE(RunScipyCheck("load", path, &output)) << "scipy could not read " << path << ":\n" << output;
  return output;
}
