#include "controller/settings/management_settings.h"

#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/portal.h"
#include "controller/settings/root_password.h"
#include "controller/settings/setting_values.h"

namespace {

enum ManagementCode {
  kNetwork = 3,
  kDnsAltServer = 4,
  kRootPassword = 5,
  kStrictMesh = 6,
  kGmtOffset = 7,
  kTzOffset = 8,
  kPortalEnable = 9,
  kPortalName = 10,
  kNodeId = 11,
  kInternetCheck = 12,
};

// The keys that are only acknowledged, with the message that shows them.
struct Acknowledged {
  int code;
  const char* message;
};
const Acknowledged kAcknowledged[] = {
    {kDnsAltServer, "Received DNS alt server: %s\n"}, {kStrictMesh, "Received Strict Mesh: %s\n"},
    {kGmtOffset, "Received GMT offset: %s\n"},        {kNodeId, "Received Node ID: %s\n"},
    {kInternetCheck, "Received Intrnet check: %s\n"},
};

void change_network(ManagementSettings& m, const char* value) {
  out_printf("Received Network name: %s\n", value);
  if (!has_value(value) || !text_differs(m.network, value)) return;
  m.network.set(value);
  CommandText cmd;
  set_uci_config(setting_command(cmd, "uci set node.status.network=", m.network));
  commit_uci_config("node");
}

// The password is kept only once the node has taken it, so a failed change
// is tried again when the next reply brings the same password.
void change_password(ManagementSettings& m, const char* value) {
  if (!has_value(value)) {
    out_line("No Root password changes");
    return;
  }
  out_printf("Received Root password: %s\n", value);
  // A password cut short would lock out whoever set it.
  if (!value_fits("Root password", value, m.root_password)) return;
  if (!text_differs(m.root_password, value)) return;
  FixedText<50> password(value);
  if (change_root_password(password) != 0) return;
  CommandText cmd;
  set_uci_config(setting_command(cmd, "uci set node.setting.rootpwd=", password));
  commit_uci_config("node");
  m.root_password = password;
}

void change_timezone(ManagementSettings& m, const char* value) {
  if (!has_value(value)) return;
  out_printf("Received TZ offset: %s\n", value);
  if (!text_differs(m.timezone, value)) return;
  m.timezone.set(value);
  CommandText cmd;
  set_uci_config(setting_command(cmd, "uci set system.@system[0].timezone=", m.timezone));
  commit_uci_config("system");
  // The C library takes the running zone from this file.
  FixedText<101> line;
  line.format("%s\n", m.timezone.c_str());
  write_setting_file("/tmp/TZ", "Changing Timezone", line);
}

void change_portal_enable(ManagementSettings& m, const char* value) {
  out_printf("Received Captive portale Enable: %d\n", decimal_value(value));
  if (!has_value(value)) return;
  m.portal_enable = decimal_value(value);
}

void change_portal_name(ManagementSettings& m, const char* value) {
  out_printf("Received Captive Portal name: %s\n", value);
  if (!has_value(value)) return;
  PortalNameStep step = portal_name_step(m.portal_enable, text_differs(m.portal_name, value));
  // A name that is no portal (an empty one too) stops nothing.
  if (step.stop_stored) control_portal(portal_kind(m.portal_name), 1);
  if (step.store_received) m.portal_name.set(value);
}

const Acknowledged* acknowledged(int code) {
  for (const Acknowledged& a : kAcknowledged) {
    if (a.code == code) return &a;
  }
  return nullptr;
}

}  // namespace

PortalNameStep portal_name_step(int portal_enable, bool name_differs) {
  if (portal_enable != 1) return {true, false};
  return {name_differs, name_differs};
}

void apply_management_setting(const char* key, const char* value, NodeConfig& config) {
  ManagementSettings& m = config.management;
  int code = keyword_code(kManagementRows, key);
  switch (code) {
    case kNetwork:
      change_network(m, value);
      return;
    case kRootPassword:
      change_password(m, value);
      return;
    case kTzOffset:
      change_timezone(m, value);
      return;
    case kPortalEnable:
      change_portal_enable(m, value);
      return;
    case kPortalName:
      change_portal_name(m, value);
      return;
    default:
      break;
  }
  if (const Acknowledged* a = acknowledged(code)) {
    TABLE_FORMAT_BEGIN
    out_printf(a->message, value);
    TABLE_FORMAT_END
    return;
  }
  // reboot_enable, reboot_date and reboot_time come too, and mean nothing here.
  out_line("Management: Received bad configuration");
}
