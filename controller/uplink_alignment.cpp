#include "controller/uplink_alignment.h"

#include <cstring>

#include "common/host.h"
#include "common/netif.h"
#include "common/runner.h"

namespace {

bool same(const char* a, const char* b) { return a && strcmp(a, b) == 0; }

void write_role(const char* command) {
  set_uci_config(command);
  commit_uci_config("node");
}

}  // namespace

void align_uplink(const char* role) {
  FixedText<20> mode;
  mode.clear();
  get_config("batctl gw | awk '{print $1}'", mode);
  align_uplink_to(if_status("eth0"), mode, role);
}

void align_uplink_to(int eth0_status, const char* gw_mode, const char* role) {
  if (eth0_status == 1) {
    if (same(gw_mode, "client")) host().run("batctl gw server");
    if (same(role, "repeater")) write_role("uci set node.status.mode=gateway");
  } else {
    if (same(gw_mode, "server")) host().run("batctl gw client");
    if (same(role, "gateway")) write_role("uci set node.status.mode=repeater");
  }
}
