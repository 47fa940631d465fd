#include "controller/settings/lan_block.h"

#include "common/host.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/settings/filter_settings.h"
#include "controller/settings/netmask.h"

namespace {

struct SideRule {
  const char* address_command;
  const char* netmask_command;
  const char* message;
};

const SideRule kSides[] = {
    {"uci get dhcp.pub.ipaddr", "uci get dhcp.pub.netmask", "Public %s/%d\n"},
    {"uci get dhcp.priv.ipaddr", "uci get dhcp.priv.netmask", "Private %s/%d\n"},
};

}  // namespace

int apply_lan_block(int action) {
  // Without the wired uplink there is no LAN to protect.
  if (if_status("eth0") != 1) return 1;
  FixedText<16> address;
  FixedText<16> netmask;
  get_ipaddr("br-lan", address);
  get_netmask("br-lan", netmask);
  FixedText<17> network;
  network_address(address, netmask, network);
  int prefix = prefix_length(address, netmask);
  out_printf("LAN %s/%d\n", network.c_str(), prefix);
  lan_block_rule(network, prefix, action, LanSide::kPublic);
  lan_block_rule(network, prefix, action, LanSide::kPrivate);
  return 0;
}

void lan_block_rule(const char* lan_network, int lan_prefix, int action, LanSide side) {
  const SideRule& rule = kSides[side == LanSide::kPublic ? 0 : 1];
  FixedText<256> address;
  FixedText<256> netmask;
  get_config(rule.address_command, address);
  get_config(rule.netmask_command, netmask);
  int prefix = prefix_length(address, netmask);
  FixedText<17> network;
  network_address(address, netmask, network);
  TABLE_FORMAT_BEGIN
  out_printf(rule.message, network.c_str(), prefix);
  TABLE_FORMAT_END
  if (action != 0 && action != 1) return;
  // A controller that ended without its clean-up left its rule behind: an
  // add takes that copy out first, so that one removal clears the block.
  const char* const verbs[] = {"-D", "-A"};
  for (int i = 0; i <= action; ++i) {
    // Both networks are dotted quads written by network_address (or empty),
    // so nothing from uci reaches the shell as it stands.
    FixedText<256> command;
    command.format("iptables %s FORWARD -s %s/%d -d %s/%d -j DROP", verbs[i], network.c_str(), prefix,
                   lan_network ? lan_network : "", lan_prefix);
    host().run(command);
  }
}
