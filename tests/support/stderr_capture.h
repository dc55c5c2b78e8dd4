// What reaches file descriptor 2 between the start and take().
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class StandardErrorCapture {
 public:
  StandardErrorCapture() {
    fflush(stderr);
    file_ = tmpfile();
    saved_ = dup(2);
    dup2(fileno(file_), 2);
  }
  ~StandardErrorCapture() { take(); }
  StandardErrorCapture(const StandardErrorCapture&) = delete;
  StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

  std::string take() {
    if (!file_) return text_;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    rewind(file_);
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) text_.append(chunk, n);
    fclose(file_);
    file_ = nullptr;
    return text_;
  }

 private:
  FILE* file_ = nullptr;
  int saved_ = -1;
  std::string text_;
};
