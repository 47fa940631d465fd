#include "lonely/channel_search.h"

#include <cstdlib>

#include "common/host.h"
#include "common/leds.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/runner.h"
#include "common/services.h"
#include "common/text.h"
#include "mesh/gateway_check.h"
#include "mesh/node_identity.h"
#include "mesh/role.h"

int try_channel(int channel) {
  out_printf("Configuring wireless channel on %d\n", channel);
  FixedText<256> command;
  command.format("uci set wireless.radio0.channel=%d", channel);
  set_uci_config(command);
  commit_uci_config("wireless");

  service::_vlan(1);
  host().run("/etc/init.d/network restart");
  host().sleep(20);
  service::_vlan(0);
  host().sleep(20);

  out_line("Running Test to check the batman gateway");
  if (bat_ping(profile().gateway_readings) > 0) {
    config_batman_mode(kRoleRepeater);
    trigger_led();
    return 0;
  }
  out_line("try_channel: Unable to find the gateway");
  return 1;
}

int search_cycle(int cycle) {
  // "auto", or a channel that cannot be read, counts as 0.
  FixedText<256> text;
  get_config("uci get wireless.radio0.channel", text);
  int current = atoi(text);

  int found = wc_scan("mesh0", current);
  if (found > 0 && found != current && try_channel(found) == 0) return 0;

  if (cycle == kRebootCycle) {
    out_line("Maximum count exceed - Rebooting node");
    // Without a working reboot script the search would go on for ever.
    if (host().run("/sbin/do_reboot 30") != 0) {
      out_line("/sbin/do_reboot 30 missing or failed: rebooting with /sbin/reboot");
      host().run("/sbin/reboot");
    }
  }
  host().sleep(30);
  return 1;
}
