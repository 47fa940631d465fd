#include "controller/config_record.h"

#include <syslog.h>

#include "common/output.h"
#include "common/runner.h"
#include "controller/settings/filter_settings.h"
#include "controller/settings/setting_values.h"
#include "controller/settings/wireless_settings.h"

namespace {

DashboardConfig* g_dashboard = nullptr;
NodeConfig* g_node = nullptr;

// A failed command leaves the field empty.
template <size_t N>
int read_text(const char* command, FixedText<N>& field) {
  field.clear();
  return get_config(command, field);
}

// A failed command or a text without leading digits gives 0.
int read_number(const char* command) {
  FixedText<256> text;
  get_config(command, text);
  return decimal_value(text);
}

template <size_t N>
void read_dashboard_field(const char* command, FixedText<N>& field, const char* loaded, const char* failed) {
  out_line(read_text(command, field) == 0 ? loaded : failed);
}

void load_wireless(WirelessSettings& w) {
  out_line("Wireless Config init ....");
  w.channel = read_number("uci get wireless.radio0.channel");
  read_text("uci get wireless.radio0.country", w.country);
  read_text("uci get wireless.pub.disabled", w.pub_disabled);
  read_text("uci get wireless.pub.hidden", w.pub_hidden);
  read_text("uci get wireless.priv.disabled", w.priv_disabled);
  read_text("uci get wireless.priv.hidden", w.priv_hidden);
  read_text("uci get wireless.pub.ssid", w.pub_ssid);
  read_text("uci get wireless.pub.key", w.pub_key);
  read_text("uci get wireless.priv.ssid", w.priv_ssid);
  read_text("uci get wireless.priv.key", w.priv_key);
  w.enterprise = priv_encryption_mode() == 2 ? 1 : 0;
  w.radius_server.clear();
  w.auth_port = 0;
  if (w.enterprise == 1) {
    read_text("uci get wireless.priv.server", w.radius_server);
    w.auth_port = read_number("uci get wireless.priv.auth_port");
  }
  w.enterprise_reconfigured = 0;
  out_line("Wireless config done");
}

void load_filter(FilterSettings& f) {
  out_line("Filter config init ....");
  f.lan_block = read_number("uci get node.security.lan_block");
  // The rules do not survive a restart of the controller: put them back.
  if (f.lan_block == 1) apply_lan_block(1);
  f.pub_isolate = read_number("uci get wireless.pub.isolate");
  f.priv_isolate = read_number("uci get wireless.priv.isolate");
  out_line("Filter config done");
}

void load_management(ManagementSettings& m) {
  out_line("Management config init ....");
  m.timezone.clear();
  read_text("uci get node.status.network", m.network);
  read_text("uci get node.setting.rootpwd", m.root_password);
  out_printf("ROOT PASSWORD: %s\n", m.root_password.c_str());
  read_text("uci get system.@system[0].timezone", m.timezone);
  m.portal_enable = 0;
  m.portal_name.clear();
  out_line("management config done");
}

}  // namespace

void load_dashboard_config() {
  delete g_dashboard;
  g_dashboard = new DashboardConfig();
  DashboardConfig& d = *g_dashboard;
  read_dashboard_field("uci get dashboard.remote.host", d.host, "hostname: configured", "Failed to get the dashboard");
  read_dashboard_field("uci get dashboard.remote.path", d.path, "Script path: configured", "Failed to get the path");
  read_dashboard_field("uci get dashboard.remote.fallback_ip", d.fallback_ip, "Fallback ip: configured",
                       "Failed to get the fallbackip");
  read_dashboard_field("uci get dashboard.remote.interval", d.interval, "Checkin interval : configured",
                       "Failed to get the checkin interval");
  d.first_checkin_done = 0;
}

int load_node_config() {
  delete g_node;
  g_node = new NodeConfig();
  NodeConfig& c = *g_node;
  out_line("Node config init");
  load_wireless(c.wireless);
  load_filter(c.filter);
  load_management(c.management);

  out_line("Service config init ....");
  c.services = ServiceSettings();
  out_line("Service config done");

  out_line("Reboot configuration init ....");
  c.reboot_token = read_number("uci get node.setting.reboot_token");
  out_printf("Reboot Value in Configuration: %d\n", c.reboot_token);
  out_line("Reboot config done");

  out_line("Custom script config init ....");
  c.custom_script.enable = 0;
  read_text("uci get node.setting.cs_url", c.custom_script.url);
  read_text("uci get node.setting.cs_md5", c.custom_script.md5);
  c.custom_script.run_pending = 0;
  out_line("Custom script config done");

  out_line("General Config init ....");
  c.general.syslog_enable = 0;
  out_line("General config done");

  read_text("uci get node.status.mode", c.node_mode);
  out_line("Node status init done");

  c.reboot_schedule = RebootSchedule();
  c.captive_portal.enable = 0;
  c.captive_portal.splash_url.set("none");
  c.firmware = FirmwareSettings();
  c.firmware.version.set("none");
  return 0;
}

DashboardConfig& dashboard_config() { return *g_dashboard; }
NodeConfig& node_config() { return *g_node; }
bool node_config_loaded() { return g_node != nullptr; }

void clear_controller_resources() {
  log_printf(LOG_INFO, "Clearing Controller Resources");
  if (!g_node) return;
  if (g_node->filter.lan_block == 1) apply_lan_block(0);
  remove_service_rules(g_node->services);
  delete g_node;
  g_node = nullptr;
}

void clear_dashboard_config() {
  log_printf(LOG_INFO, "Clearing Server configuration");
  delete g_dashboard;
  g_dashboard = nullptr;
}
