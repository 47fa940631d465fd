#include "lonely/lonely.h"

#include "common/host.h"
#include "common/leds.h"
#include "common/profile.h"
#include "common/services.h"
#include "common/state_flags.h"
#include "lonely/channel_search.h"
#include "mesh/gateway_check.h"
#include "mesh/node_identity.h"
#include "mesh/role.h"

void settle_and_probe() {
  host().sleep(10);
  check_link();
  check_mesh();
  check_vlan();
  host().sleep(60);
}

int join_mesh() {
  if (vlan != 1) service::_vlan(0);
  // An uplink or a running mesh client: nothing to search for.
  if (elink || mesh) return 0;

  led_config(2, kLedOn);
  if (bat_ping(profile().gateway_readings) > 0) {
    config_batman_mode(kRoleRepeater);
    trigger_led();
    return 0;
  }
  for (int cycle = 0;; ++cycle) {
    if (search_cycle(cycle) == 0) return 0;
  }
}

int run_lonely() {
  settle_and_probe();
  return join_mesh();
}
