#include "mesh/bridge_addresses.h"

#include <signal.h>

#include <cstdlib>

#include "common/host.h"
#include "common/process.h"
#include "common/route.h"
#include "common/runner.h"
#include "common/services.h"
#include "common/state_flags.h"
#include "common/text.h"
#include "mesh/node_identity.h"

// busybox's udhcpc takes "-t 0" for discovers without end, so with "-n" a
// repeater that no gateway answers would hang its caller for good. Three
// discovers, then: with a lease the client goes on in the background, without
// one it ends and removes its pid file, which is what tells lonely and the
// watchdog that the node is no mesh client.
const char kMeshDhcpClientCommand[] =
    "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship";

void stop_mesh_dhcp_client() {
  if (path_exists(kMeshDhcpPidFile) != 0) return;
  FixedText<64> text;
  if (read_file(kMeshDhcpPidFile, text) == 0) {
    long pid = atol(text);
    // A pid file left by a client that died long ago may name an unrelated
    // process by now: only a process that really is udhcpc gets the signals.
    if (pid > 0) {
      signal_named_process(pid, "udhcpc", SIGUSR2);  // gives up the lease
      signal_named_process(pid, "udhcpc", SIGKILL);
    }
  }
  host_unlink(kMeshDhcpPidFile);
}

int config_ipaddr(int role) {
  config_nodeid();
  if (role != kRoleGateway && role != kRoleRepeater) return 1;
  // A repeater's mesh bridge takes its address from the gateway by DHCP.
  int bridges = role == kRoleGateway ? 3 : 2;
  int status = 0;
  for (int i = 0; i < bridges; ++i) {
    FixedText<256> command;
    command.format("ifconfig %s `uci get dhcp.%s.ipaddr` netmask 255.255.252.0 up", kPlannedBridges[i].ifname,
                   kPlannedBridges[i].section);
    status = host().run(command);
  }
  return status;
}

int dhcp_config(int role) {
  if (role == kRoleRepeater) {
    host().run(kMeshDhcpClientCommand);
    set_nameserver();
    return config_ipaddr(kRoleRepeater);
  }
  if (role == kRoleGateway) {
    stop_mesh_dhcp_client();
    return config_ipaddr(kRoleGateway);
  }
  return 1;
}

int dnsmasq_config(int role) {
  service::_dnsmasq(1);
  if (role == kRoleGateway || role == kRoleRepeater) dhcp_config(role);
  return service::_dnsmasq(0);
}
