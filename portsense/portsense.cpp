#include "portsense/portsense.h"

#include "common/host.h"
#include "common/state_flags.h"
#include "common/sysinfo.h"
#include "portsense/role_decision.h"
#include "portsense/vlan_wait.h"

void probe_node() {
  check_uptime();
  check_link();
  check_mesh();
  check_vlan();
}

int settle_cycle() {
  if (!wait_for_vlan()) return -1;
  // The link and client as probed above: not probed again in this cycle.
  int done = settle_role();
  host().sleep(5);
  return done;
}

int run_portsense() {
  for (int cycle = 1; cycle <= kPortsenseCycles; ++cycle) {
    probe_node();
    int done = settle_cycle();
    if (done < 0) return 1;
    if (done) break;
  }
  return 0;
}
