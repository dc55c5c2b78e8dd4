// Whether a thread of this process sleeps in the kernel rather than runs: what a test watches to
// see a thread wait for a descriptor instead of trying it again and again (a thread that tries
// again at once never sleeps).
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

inline int ThisThreadId() { return static_cast<int>(syscall(SYS_gettid)); }

// The state letter of a thread of this process: 'R' running or runnable, 'S' asleep, '?' when
// it cannot be read.
inline char ThreadState(int id) {
  std::ifstream stat("/proc/self/task/" + std::to_string(id) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  size_t nameEnd = text.rfind(')');  // the thread name may hold spaces and brackets
  return nameEnd != std::string::npos && nameEnd + 2 < text.size() ? text[nameEnd + 2] : '?';
}

// Looks, for about 20 s at most, for a moment at which `condition` holds while the thread is
// asleep: whether there was one.
template <typename Condition>
bool WaitUntilAsleep(int id, Condition condition) {
  for (int attempt = 0; attempt < 20000; ++attempt) {
    if (condition() && ThreadState(id) == 'S') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}
