// The dashboard's configuration reply as the check-in stores it in
// "/tmp/.received", parsed and applied on the fake host: every section and
// applier, the portal new-settings files and their merge, the Wi-Fi
// restart, the crontab rewrite and the upgrade flag. Whatever the reply
// holds, no file that existed is lost and nothing is left half-written.
#include <string>

#include "controller/config_parser.h"
#include "controller/config_record.h"
#include "controller/settings/firmware_upgrade.h"
#include "fuzz/fuzz_support.h"

namespace {

const char kDefaults[] = "/etc/chilli/defaults";
const char kNodogConf[] = "/etc/nodogsplash/nodogsplash.conf";
const char kCrontab[] = "/etc/crontabs/root";
const char kOtherJob[] = "*/5 * * * * /usr/bin/ping-check\n";

// The node before each reply: a gateway with chilli running, remote
// logging on, a script and an upgrade enabled.
NodeConfig baseline_config() {
  NodeConfig c;
  c.wireless.channel = 6;
  c.wireless.country.set("US");
  c.wireless.pub_ssid.set("Guest");
  c.wireless.priv_ssid.set("Office");
  c.wireless.enterprise = 1;
  c.management.portal_enable = 1;
  c.management.portal_name.set("chilli");
  c.general.syslog_enable = 1;
  c.custom_script.enable = 1;
  c.reboot_schedule.enable = 1;
  c.reboot_schedule.date.set("w");
  c.node_mode.set("gateway");
  c.captive_portal.splash_url.set("none");
  c.firmware.upgrade = 1;
  return c;
}

void lay_out_node(FakeHost& h) {
  h.uci = {{"dhcp.mesh.ipaddr", "10.3.56.1"},     {"dhcp.pub.ipaddr", "10.3.48.1"},
           {"dhcp.pub.netmask", "255.255.252.0"}, {"dhcp.priv.ipaddr", "10.3.52.1"},
           {"wireless.pub.encryption", "none"},   {"wireless.priv.encryption", "mixed-wpa"}};
  h.write(kDefaults, "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMLISTEN=10.1.0.1\n");
  h.write(kNodogConf, "GatewayInterface br-lan\nMaxClients 20\n");
  h.write(kCrontab, std::string(kOtherJob) + "0 3 * * 3  /sbin/do_reboot 93\n");
  h.write("/etc/fw_a_version", "2.4.1\n");
  for (const char* f : {"/tmp/chilli_config", "/tmp/splash_config", "/tmp/TZ"}) h.remove(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  static bool laid_out = false;
  if (!laid_out) {
    h.add_process(310, "chilli", 'S');
    h.add_process(320, "syslogd", 'S');
    laid_out = true;
  }
  lay_out_node(h);
  upgrade_pending = 0;
  NodeConfig config = baseline_config();

  h.write("/tmp/.received", std::string(reinterpret_cast<const char*>(data), size));
  FUZZ_CHECK(parse_config_reply("/tmp/.received", config) == 0);

  // The files that other programs read are whole or as they were.
  FUZZ_CHECK(h.exists(kDefaults) && h.exists(kNodogConf));
  FUZZ_CHECK(h.read(kCrontab).find(kOtherJob) == 0);
  for (const char* f : {"/etc/chilli/defaults.tmp", "/etc/nodogsplash/nodogsplash.conf.tmp", "/etc/crontabs/root.tmp",
                        "/tmp/.received.tmp"}) {
    FUZZ_CHECK(!h.exists(f));
  }
  return 0;
}
