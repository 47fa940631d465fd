#include "tests/cycle_host.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/signals.h"

namespace {

unsigned wanted_cycles() {
  const char* text = getenv("NODE_FAST_CYCLES");
  return text ? static_cast<unsigned>(strtoul(text, nullptr, 10)) : 0;
}

void report_memory() {
  const char* report = getenv("NODE_FAST_REPORT");
  if (!report) return;
  FILE* status = fopen("/proc/self/status", "r");
  FILE* out = fopen(report, "w");
  if (status && out) {
    char line[256];
    while (fgets(line, sizeof(line), status)) {
      if (strncmp(line, "VmHWM:", 6) == 0 || strncmp(line, "VmRSS:", 6) == 0) fputs(line, out);
    }
  }
  if (status) fclose(status);
  if (out) fclose(out);
}

}  // namespace

void CycleHost::sleep(unsigned seconds) {
  if (seconds == period_ && ++cycles_ == wanted_cycles()) {
    report_memory();
    kill(getpid(), SIGTERM);
  }
  wait_ms(0);  // the termination point every sleep is
}

void install_cycle_host(unsigned period_seconds) {
  static CycleHost fast(period_seconds);
  if (wanted_cycles() > 0) set_host(&fast);
}
