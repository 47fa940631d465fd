// The LAN block: a pair of firewall rules that drop traffic from the public
// and from the private client network into the wired LAN. apply_lan_block
// itself is declared with the filter applier (filter_settings.h).
#pragma once

#include <cstddef>

enum class LanSide { kPublic, kPrivate };

// Forms and runs the rule of one side against the LAN network/prefix:
// action 1 appends it, 0 deletes it, anything else runs nothing.
void lan_block_rule(const char* lan_network, int lan_prefix, int action, LanSide side);
