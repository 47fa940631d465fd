#include "mesh/role.h"

#include "common/host.h"
#include "common/runner.h"
#include "common/services.h"
#include "common/text.h"
#include "mesh/bridge_addresses.h"
#include "mesh/node_identity.h"

int config_batman_mode(int role) {
  // Unreadable, the mode stays empty and batman's mode is left alone.
  FixedText<100> mode;
  get_config("batctl gw | awk '{print $1}'", mode);
  if (role == kRoleGateway) {
    dnsmasq_config(kRoleGateway);
    if (mode == "client") host().run("batctl gw server");
    set_uci_config("uci set node.status.mode=gateway");
    commit_uci_config("node");
  } else if (role == kRoleRepeater) {
    dnsmasq_config(kRoleRepeater);
    if (mode == "server") host().run("batctl gw client");
    set_uci_config("uci set node.status.mode=repeater");
    commit_uci_config("node");
  }
  return ip_masquerade();
}
