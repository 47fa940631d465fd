#include "common/services.h"

#include "common/runner.h"

const char kMasqueradeCommand[] = "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE";

int service::_vlan(int op) {
  const char* command = op == 0 ? "/etc/init.d/vlan start" : op == 1 ? "/etc/init.d/vlan stop" : nullptr;
  if (!command) return 1;
  return set_uci_config(command) != 0 ? 1 : 0;
}

int service::_dnsmasq(int op) {
  static const char* const kCommands[] = {"/etc/init.d/dnsmasq start", "/etc/init.d/dnsmasq stop",
                                          "/etc/init.d/dnsmasq restart"};
  if (op < 0 || op > 2) return 2;
  return set_uci_config(kCommands[op]);
}

int ip_masquerade() {
  set_uci_config("/usr/sbin/iptables -t nat -F");
  return set_uci_config(kMasqueradeCommand);
}
