// The router's one file: the seven programs in one static binary, the
// program chosen by the name it was started under (the last part of
// argv[0]), as busybox chooses its applets. Each program name is a link to
// this file; a started link keeps its own name as the process name, which
// is how the watchdog finds "fleetlink_super" in /proc.
#include <cstdio>
#include <cstring>

#include "controller/program.h"
#include "lonely/program.h"
#include "portsense/program.h"
#include "reporters/clientscout_program.h"
#include "reporters/ifcounter_program.h"
#include "vouchercheck/program.h"
#include "watchdog/program.h"

namespace {

struct Program {
  const char* name;
  int (*entry)(int argc, char** argv);
};

const Program kPrograms[] = {
    {"fleetlink_supervisor", fleetlink_supervisor_main},
    {"lonely", lonely_main},
    {"portsense", portsense_main},
    {"clientscout", clientscout_main},
    {"ifcounter", ifcounter_main},
    {"watchdog", watchdog_main},
    {"vouchercheck", vouchercheck_main},
};

const char* base_name(const char* path) {
  const char* slash = path ? strrchr(path, '/') : nullptr;
  return slash ? slash + 1 : (path ? path : "");
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = base_name(argc > 0 ? argv[0] : nullptr);
  for (const Program& p : kPrograms) {
    if (strcmp(name, p.name) == 0) return p.entry(argc, argv);
  }
  fprintf(stderr, "%s: not one of the programs this file holds:", name);
  for (const Program& p : kPrograms) fprintf(stderr, " %s", p.name);
  fputc('\n', stderr);
  return 1;
}
