#include "fmu_archive.h"

#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

}  // namespace

bool unpackFmu(const char* fmuPath, std::string* folder, std::string* error) {
  struct stat info;
  if (stat(fmuPath, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = std::string(fmuPath) + ": no such file";
    return false;
  }
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quenzel-host-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    *error = "cannot create a temporary folder: " + std::string(strerror(errno));
    return false;
  }
  // A path that starts with '-' would read as an option.
  std::string archive = fmuPath[0] == '-' ? std::string("./") + fmuPath : std::string(fmuPath);
  const char* argv[] = {"unzip", "-qq", "-o", archive.c_str(), "-d", pattern.c_str(), nullptr};
  pid_t child = 0;
  int spawned = posix_spawnp(&child, "unzip", nullptr, nullptr, const_cast<char* const*>(argv), environ);
  int status = 0;
  if (spawned == 0) {
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    removeUnpackedFmu(pattern);
    *error = spawned != 0 ? "cannot run unzip: " + std::string(strerror(spawned))
                          : std::string(fmuPath) + ": not a readable zip archive";
    return false;
  }
  *folder = pattern;
  return true;
}

void removeUnpackedFmu(const std::string& folder) {
  if (!folder.empty()) nftw(folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string fmuBinaryPath(const std::string& folder, const std::string& modelIdentifier) {
  return folder + "/binaries/linux64/" + modelIdentifier + ".so";
}
