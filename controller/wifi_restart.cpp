#include "controller/wifi_restart.h"

#include <syslog.h>

#include <cstring>

#include "common/host.h"
#include "common/leds.h"
#include "common/output.h"
#include "common/route.h"
#include "common/runner.h"
#include "common/shell_quote.h"
#include "common/state_flags.h"
#include "controller/settings/setting_values.h"
#include "mesh/bridge_addresses.h"

namespace {

using AddressText = FixedText<64>;

// An unreadable address leaves the address out of the command.
void read_address(const char* command, AddressText& address) {
  address.clear();
  get_config(command, address);
}

void bring_up_bridge(const char* bridge, const char* address) {
  CommandText cmd;
  FixedText<64> head;
  head.format("ifconfig %s ", bridge);
  host().run(setting_command(cmd, head, address, " netmask 255.255.252.0 up"));
}

}  // namespace

void restart_wifi(const char* role) {
  bool as_gateway = role && strcmp(role, "gateway") == 0;
  leds_green_off();
  led_config(2, kLedOn);
  out_line("Restarting WiFi");
  stop_mesh_dhcp_client();

  host().run("/etc/init.d/dnsmasq stop");
  host().run("/etc/init.d/vlan stop");
  host().run("/etc/init.d/network restart");
  host().run("/etc/init.d/vlan start");
  host().sleep(30);

  if (as_gateway) {
    AddressText mesh_address;
    read_address("uci get dhcp.mesh.ipaddr", mesh_address);
    bring_up_bridge("br-meship", mesh_address);
  } else {
    host().run(kMeshDhcpClientCommand);
  }
  AddressText pub_address;
  AddressText priv_address;
  read_address("uci get dhcp.pub.ipaddr", pub_address);
  read_address("uci get dhcp.priv.ipaddr", priv_address);
  bring_up_bridge("br-pub", pub_address);
  bring_up_bridge("br-priv", priv_address);

  if (make_world_readable("/tmp/resolv.conf.auto") == 0) {
    log_printf(LOG_DEBUG, "Permission changed for resolve.conf.auto");
  }
  if (!as_gateway) set_nameserver();
  host().run("/etc/init.d/dnsmasq start");

  leds_green_blink();
  led_config(2, kLedOff);
}
