#include "portsense/role_decision.h"

#include "common/host.h"
#include "common/leds.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/services.h"
#include "common/state_flags.h"
#include "mesh/gateway_check.h"
#include "mesh/node_identity.h"
#include "mesh/role.h"

namespace {

// A wired node without mesh DHCP client stays gateway only when the
// dashboard confirms the Internet; either way the LEDs say it is settled.
void confirm_gateway() {
  led_config(2, kLedOn);
  out_line("Check Internet Connectivity");
  if (check_internet() == 0) config_batman_mode(kRoleGateway);
  leds_green_blink();
  led_config(2, kLedOff);
}

void cable_into_repeater() {
  leds_green_off();
  led_config(2, kLedOn);
  out_line("Link detected on ethernet port");
  restart_network();
  config_batman_mode(kRoleGateway);
  leds_green_blink();
  led_config(2, kLedOff);
}

void keep_repeater() {}

// Without cable and mesh client: a repeater when a gateway answers, else the
// lonely search, which takes over the LEDs as they are (red on, green off).
void look_for_mesh() {
  leds_green_off();
  led_config(2, kLedOn);
  if (bat_ping(profile().gateway_readings) == 0) {
    start_lonely();
    return;
  }
  restart_network();
  config_batman_mode(kRoleRepeater);
  leds_green_blink();
  led_config(2, kLedOff);
}

}  // namespace

//                                   elink mesh
const RoleRow kRoleRows[4] = {
    {1, 0, "wired node without mesh DHCP client", confirm_gateway},
    {1, 1, "cable plugged into a repeater", cable_into_repeater},
    {0, 1, "repeater without cable", keep_repeater},
    {0, 0, "neither cable nor mesh DHCP client", look_for_mesh},
};

int settle_role() {
  int link = elink ? 1 : 0;
  int client = mesh ? 1 : 0;
  for (const RoleRow& row : kRoleRows) {
    if (row.elink == link && row.mesh == client) {
      row.action();
      break;
    }
  }
  return 1;
}

void restart_network() {
  service::_vlan(1);
  host().run("/etc/init.d/network restart");
  service::_vlan(0);
  host().sleep(20);
}

void start_lonely() {
  pid_t child = host().fork();
  if (child == 0) {
    // The shell puts lonely in the background; this child then ends the
    // cycle like its parent.
    host().run("/usr/bin/lonely &");
  } else if (child > 0) {
    out_printf("Lonely pid:%d\n", static_cast<int>(child));
  }
}
