// The init scripts of the mesh VLANs and dnsmasq, and the NAT rule.
#pragma once

// The two init script wrappers keep their names; a name that begins with an
// underscore is the implementation's in the global namespace.
namespace service {
// 0 start, 1 stop: 1 when the script fails, else 0; other ops run nothing, 1.
int _vlan(int op);
// 0 start, 1 stop, 2 restart: the shell status; other ops return 2.
int _dnsmasq(int op);
}  // namespace service
// Flushes the nat table and adds the MASQUERADE rule; the second status.
int ip_masquerade();

extern const char kMasqueradeCommand[];
