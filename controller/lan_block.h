// The LAN block: a pair of firewall rules that drop traffic from the public
// and from the private client network into the wired LAN. apply_lan_block
// itself is declared with the filter applier (filter_settings.h).
#pragma once

#include <cstddef>

enum class LanSide { kPublic, kPrivate };

// Forms and runs the rule of one side against the LAN network/prefix:
// action 1 appends it, 0 deletes it, anything else runs nothing.
void lan_block_rule(const char* lan_network, int lan_prefix, int action, LanSide side);

// The kernel probes that the LAN block reads: whether eth0 is up and
// running, and br-lan's address and netmask. They are ioctls, so unit tests
// put scripted ones in their place.
struct LanProbes {
  int (*if_status)(const char* ifname);
  int (*get_ipaddr)(const char* ifname, char* out, size_t cap);
  int (*get_netmask)(const char* ifname, char* out, size_t cap);
};
// Installs probes (nullptr: the kernel's); returns the ones in place before.
const LanProbes* set_lan_probes(const LanProbes* probes);
