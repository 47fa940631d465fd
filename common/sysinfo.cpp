#include "common/sysinfo.h"

#include <syslog.h>

#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/state_flags.h"

int check_uptime() {
  FILE* f = host_fopen("/proc/uptime", "r");
  if (!f) {
    out_line("Unable to get the system uptime");
    return 1;
  }
  char line[12];
  memset(line, 0, sizeof(line));
  if (!fgets(line, sizeof(line), f)) line[0] = '\0';
  fclose(f);
  boot = atol(line) >= 360 ? 1 : 0;
  return 0;
}

bool read_meminfo(unsigned* kb) {
  FILE* f = host_fopen("/proc/meminfo", "r");
  if (!f) return false;
  char line[256];
  bool found = false;
  while (!found && fgets(line, sizeof(line), f)) {
    unsigned v;
    if (sscanf(line, "MemFree: %u", &v) == 1) {
      *kb = v;
      found = true;
    }
    // A line longer than the buffer: skip its rest.
    while (!strchr(line, '\n') && fgets(line, sizeof(line), f)) {
    }
  }
  fclose(f);
  return found;
}

bool read_loadavg(LoadAverage* load) {
  FILE* f = host_fopen("/proc/loadavg", "r");
  if (!f) return false;
  LoadAverage v;
  bool ok = scan_load(f, v);
  fclose(f);
  if (!ok) return false;
  *load = v;
  char text[64];
  format_load(v, 6, text, sizeof(text));
  log_printf(LOG_DEBUG, "System Load: %s\n", text);
  return true;
}
