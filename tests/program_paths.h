// The program a whole-program test runs: the one built beside the tests or,
// with NODE_PROGRAMS_DIR set, the file of the program's name in that folder
// (the router's multi-call file and its links, run through an emulator).
#pragma once

#include <cstdlib>
#include <string>

inline std::string program_path(const char* built, const char* name) {
  const char* dir = getenv("NODE_PROGRAMS_DIR");
  return dir && *dir ? std::string(dir) + "/" + name : std::string(built);
}
