// Files for tests that run real programs or shells: read, write, look for,
// and wait until what a program writes shows.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

// The whole file; "" when it cannot be read.
inline std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// A new file with `text` and `mode`; whatever lay at `path` is removed first,
// so a test never writes through a link into the real system.
inline void write_file(const std::string& path, const std::string& text, mode_t mode = 0644) {
  unlink(path.c_str());
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), mode);
}

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Polls `done` every 20 ms for up to `seconds`; its last answer.
inline bool await(const std::function<bool()>& done, int seconds = 20) {
  for (auto t0 = std::chrono::steady_clock::now();
       std::chrono::steady_clock::now() - t0 < std::chrono::seconds(seconds);) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}
