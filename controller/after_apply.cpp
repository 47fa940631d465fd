#include "controller/after_apply.h"

#include <syslog.h>

#include "common/output.h"
#include "common/process.h"
#include "common/runner.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/settings/portal.h"
#include "controller/settings/reboot_settings.h"
#include "controller/wifi_restart.h"

namespace {

// Stands for the row's own keyword as the package to commit.
const char kOwnName[] = "";

struct AfterApplyRule {
  const char* count_format;               // printed with the row's name and count
  const char* package;                    // committed when the count is not 0
  void (*on_change)(NodeConfig& config);  // after the commit, when the count is not 0
  void (*always)(NodeConfig& config);     // whatever the count
};

void after_wireless_commit(NodeConfig& config) {
  config.wireless.enterprise_reconfigured = 0;
  // The reboot brings the new settings up anyway.
  if (config.reboot_token != 0) {
    log_printf(LOG_INFO, "Reboot node set, do not restart wifi");
  } else {
    // The role may have changed since start-up (portsense, the check-in's
    // uplink alignment): a gateway restarted as the repeater it booted as
    // would drop its mesh bridge address for a DHCP client on the mesh.
    // When the role cannot be read, the one known before stays: a gateway
    // restarted as "" would be restarted as a repeater.
    FixedText<30> now;
    if (get_config("uci get node.status.mode", now) == 0) config.node_mode.set(now);
    restart_wifi(config.node_mode);
  }
}

// Starts the portal when it is not running, restarts it with new settings.
void portal_step(NodeConfig& config) {
  if (config.management.portal_enable != 1) return;
  const char* name = config.management.portal_name;
  if (find_pid_by_name(name) <= 0) {
    log_printf(LOG_INFO, "%s Not Running: Starting", name);
    control_portal(portal_kind(name), 0);
  } else if (config.captive_portal.enable == 1) {
    control_portal(portal_kind(name), 2);
  }
}

void rewrite_schedule(NodeConfig& config) {
  const RebootSchedule& s = config.reboot_schedule;
  write_reboot_schedule(s.enable, s.date, s.time);
}

void raise_upgrade_flag(NodeConfig&) {
  if (upgrade_pending == 0) upgrade_pending = 1;
}

const char kCount[] = "%s counter: %d\n";

// By section code.
const AfterApplyRule kRules[kCodeUnknown] = {
    /* 0 dashboard    */ {"%s Counter:%d\n", "dashboard", nullptr, nullptr},
    /* 1 debug        */ {kCount, kOwnName, nullptr, nullptr},
    /* 2 madwifi      */ {kCount, kOwnName, nullptr, nullptr},
    /* 3 anyip        */ {kCount, kOwnName, nullptr, nullptr},
    /* 4 wireless     */ {kCount, "wireless", after_wireless_commit, nullptr},
    /* 5 radio        */ {nullptr, nullptr, nullptr, nullptr},
    /* 6 filter       */ {kCount, kOwnName, nullptr, nullptr},
    /* 7 chilli       */ {nullptr, nullptr, nullptr, nullptr},
    /* 8 nodog        */ {nullptr, nullptr, nullptr, nullptr},
    /* 9 nodes        */ {kCount, kOwnName, nullptr, nullptr},
    /* 10 management  */ {kCount, "management", nullptr, portal_step},
    /* 11 general     */ {nullptr, nullptr, nullptr, nullptr},
    /* 12 services    */ {nullptr, nullptr, nullptr, nullptr},
    /* 13 reboot      */ {kCount, kOwnName, nullptr, nullptr},
    /* 14 customscript*/ {kCount, "node", nullptr, nullptr},
    /* 15 s_reboot    */ {kCount, nullptr, rewrite_schedule, nullptr},
    /* 16 ledsign     */ {kCount, kOwnName, nullptr, nullptr},
    /* 17 fwupgrade   */ {kCount, nullptr, raise_upgrade_flag, nullptr},
};

}  // namespace

void run_after_apply(NodeConfig& config) {
  for (int row = 0; row < kSectionRowCount; ++row) {
    const Keyword& section = kKeywords[row];
    const AfterApplyRule& rule = kRules[section.code];
    int count = config.changes[row];
    TABLE_FORMAT_BEGIN
    if (rule.count_format) out_printf(rule.count_format, section.name, count);
    TABLE_FORMAT_END
    if (count != 0) {
      if (rule.package) commit_uci_config(rule.package == kOwnName ? section.name : rule.package);
      if (rule.on_change) rule.on_change(config);
    }
    if (rule.always) rule.always(config);
  }
}
