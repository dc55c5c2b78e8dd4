// Files, pipes and the process's own descriptor and mapping tables for the serialiser's file,
// descriptor and gather tests: a scratch folder removed with everything in it, a pipe closed at
// the end, and counts that show a descriptor or a view left behind.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    std::string pattern = "/tmp/quenzel-tpl-XXXXXX";
    path = mkdtemp(pattern.data()) ? pattern : "";
  }
  ~ScratchFolder() {
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') remove((path + "/" + entry->d_name).c_str());  // files and empty folders
      closedir(dir);
    }
    rmdir(path.c_str());
  }
  std::string file(const char* name) const { return path + "/" + name; }
};

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Writes all bytes to a descriptor (a pipe that has room for them).
inline bool writeAll(int descriptor, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

inline int openDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count - 1;  // the folder's own descriptor
}

// Whether the process holds a view of the file.
inline bool isMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0) return true;
  return false;
}

struct Pipe {
  int read = -1, write = -1;
  explicit Pipe(bool nonBlockingRead = false) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    read = ends[0], write = ends[1];
    if (nonBlockingRead) fcntl(read, F_SETFL, fcntl(read, F_GETFL) | O_NONBLOCK);
  }
  void closeWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
  ~Pipe() {
    closeWrite();
    if (read >= 0) close(read);
  }
};
