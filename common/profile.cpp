#include "common/profile.h"

#include <cstdio>
#include <cstdlib>

namespace {
const ProgramProfile* g_profile = nullptr;
const ProgramProfile& (*g_missing)() = nullptr;
}  // namespace

const ProgramProfile& profile() {
  if (g_profile) return *g_profile;
  if (g_missing) return g_missing();
  fputs("no program row chosen: <program>_main selects it before any library call\n", stderr);
  abort();
}

void set_profile(const ProgramProfile& p) { g_profile = &p; }

void clear_profile() { g_profile = nullptr; }

void set_missing_profile_handler(const ProgramProfile& (*handler)()) { g_missing = handler; }
