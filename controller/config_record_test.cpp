#include "controller/config_record.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <string>

#include "controller/testing/controller_test.h"
#include "controller/testing/lan.h"

namespace {

class ConfigRecord : public ControllerTest {
 protected:
  ConfigRecord() {
    fake.uci = {
        {"wireless.radio0.channel", "11"},
        {"wireless.radio0.country", "DE"},
        {"wireless.pub.disabled", "0"},
        {"wireless.pub.hidden", "0"},
        {"wireless.priv.disabled", "1"},
        {"wireless.priv.hidden", "1"},
        {"wireless.pub.ssid", "Cafe Guest"},
        {"wireless.pub.key", "guestkey1"},
        {"wireless.priv.ssid", "Cafe Office"},
        {"wireless.priv.key", "officekey2"},
        {"wireless.priv.encryption", "psk-mixed"},
        {"wireless.priv.server", "10.9.9.9"},
        {"wireless.priv.auth_port", "1812"},
        {"node.security.lan_block", "1"},
        {"wireless.pub.isolate", "1"},
        {"wireless.priv.isolate", "0"},
        {"node.status.network", "cafe-mesh"},
        {"node.setting.rootpwd", "s3cret"},
        {"system.@system[0].timezone", "CET-1CEST,M3.5.0,M10.5.0/3"},
        {"node.setting.reboot_token", "1"},
        {"node.setting.cs_url", "http://scripts.example/dir"},
        {"node.setting.cs_md5", "d41d8cd98f00b204e9800998ecf8427e"},
        {"node.status.mode", "repeater"},
        {"dashboard.remote.host", "dash.example"},
        {"dashboard.remote.path", "/checkin.php"},
        {"dashboard.remote.fallback_ip", "192.0.2.7"},
        {"dashboard.remote.interval", "5"},
        {"dhcp.pub.ipaddr", "10.3.48.1"},
        {"dhcp.pub.netmask", "255.255.252.0"},
        {"dhcp.priv.ipaddr", "10.3.52.1"},
        {"dhcp.priv.netmask", "255.255.252.0"},
    };
    set_lan(kernel, 1);
  }
  ~ConfigRecord() override {
    clear_controller_resources();
    clear_dashboard_config();
  }
};

}  // namespace

TEST_F(ConfigRecord, StartUpLoadReadsUciInOrderWithItsMessages) {
  EXPECT_EQ(0, load_node_config());
  EXPECT_EQ(
      "Node config init\n"
      "Wireless Config init ....\n"
      "Wireless config done\n"
      "Filter config init ....\n"
      "LAN 192.168.1.0/24\n"
      "Public 10.3.48.0/22\n"
      "Private 10.3.52.0/22\n"
      "Filter config done\n"
      "Management config init ....\n"
      "ROOT PASSWORD: s3cret\n"
      "management config done\n"
      "Service config init ....\n"
      "Service config done\n"
      "Reboot configuration init ....\n"
      "Reboot Value in Configuration: 1\n"
      "Reboot config done\n"
      "Custom script config init ....\n"
      "Custom script config done\n"
      "General Config init ....\n"
      "General config done\n"
      "Node status init done\n",
      fake.stdout_text);
  // The LAN block (lan_block 1) goes in between the filter reads; psk-mixed:
  // no server and port reads.
  EXPECT_EQ(
      (std::vector<std::string>{
          "uci get wireless.radio0.channel",   "uci get wireless.radio0.country",  "uci get wireless.pub.disabled",
          "uci get wireless.pub.hidden",       "uci get wireless.priv.disabled",   "uci get wireless.priv.hidden",
          "uci get wireless.pub.ssid",         "uci get wireless.pub.key",         "uci get wireless.priv.ssid",
          "uci get wireless.priv.key",         "uci get wireless.priv.encryption", "uci get node.security.lan_block",
          "uci get dhcp.pub.ipaddr",           "uci get dhcp.pub.netmask",         "uci get dhcp.priv.ipaddr",
          "uci get dhcp.priv.netmask",         "uci get wireless.pub.isolate",     "uci get wireless.priv.isolate",
          "uci get node.status.network",       "uci get node.setting.rootpwd",     "uci get system.@system[0].timezone",
          "uci get node.setting.reboot_token", "uci get node.setting.cs_url",      "uci get node.setting.cs_md5",
          "uci get node.status.mode"}),
      reads());

  const NodeConfig& c = node_config();
  EXPECT_EQ(11, c.wireless.channel);
  EXPECT_EQ("DE", std::string(c.wireless.country));
  EXPECT_EQ("0", std::string(c.wireless.pub_disabled));
  EXPECT_EQ("1", std::string(c.wireless.priv_hidden));
  EXPECT_EQ("Cafe Guest", std::string(c.wireless.pub_ssid));
  EXPECT_EQ("officekey2", std::string(c.wireless.priv_key));
  EXPECT_EQ(0, c.wireless.enterprise);
  EXPECT_EQ("", std::string(c.wireless.radius_server));
  EXPECT_EQ(0, c.wireless.auth_port);
  EXPECT_EQ(0, c.wireless.enterprise_reconfigured);
  EXPECT_EQ(1, c.filter.lan_block);
  EXPECT_EQ(1, c.filter.pub_isolate);
  EXPECT_EQ(0, c.filter.priv_isolate);
  EXPECT_EQ("cafe-mesh", std::string(c.management.network));
  EXPECT_EQ("CET-1CEST,M3.5.0,M10.5.0/3", std::string(c.management.timezone));
  EXPECT_EQ(0, c.management.portal_enable);
  EXPECT_EQ("", std::string(c.management.portal_name));
  EXPECT_EQ(0, c.services.ftp + c.services.ssh + c.services.smtp + c.services.pop + c.services.imap + c.services.irc);
  EXPECT_EQ(1, c.reboot_token);
  EXPECT_EQ(0, c.custom_script.enable);
  EXPECT_EQ("http://scripts.example/dir", std::string(c.custom_script.url));
  EXPECT_EQ(0, c.custom_script.run_pending);
  EXPECT_EQ("repeater", std::string(c.node_mode));
  EXPECT_EQ("", std::string(c.reboot_schedule.date));
  EXPECT_EQ("none", std::string(c.captive_portal.splash_url));
  EXPECT_EQ("none", std::string(c.firmware.version));
  EXPECT_EQ("", std::string(c.firmware.path));
  EXPECT_EQ((std::vector<std::string>{"iptables -D FORWARD -s 10.3.48.0/22 -d 192.168.1.0/24 -j DROP",
                                      "iptables -A FORWARD -s 10.3.48.0/22 -d 192.168.1.0/24 -j DROP",
                                      "iptables -D FORWARD -s 10.3.52.0/22 -d 192.168.1.0/24 -j DROP",
                                      "iptables -A FORWARD -s 10.3.52.0/22 -d 192.168.1.0/24 -j DROP"}),
            runs());
}

TEST_F(ConfigRecord, EnterpriseNodeAlsoLoadsServerAndPort) {
  fake.uci["wireless.priv.encryption"] = "mixed-wpa";
  load_node_config();
  const NodeConfig& c = node_config();
  EXPECT_EQ(1, c.wireless.enterprise);
  EXPECT_EQ("10.9.9.9", std::string(c.wireless.radius_server));
  EXPECT_EQ(1812, c.wireless.auth_port);
  std::vector<std::string> r = reads();
  auto at = std::find(r.begin(), r.end(), "uci get wireless.priv.encryption");
  ASSERT_NE(r.end(), at);
  EXPECT_EQ("uci get wireless.priv.server", *(at + 1));
  EXPECT_EQ("uci get wireless.priv.auth_port", *(at + 2));
}

TEST_F(ConfigRecord, MissingKeysGiveEmptyTextsAndZeroAndLongValuesAreCut) {
  fake.uci.clear();
  fake.uci["wireless.radio0.country"] = "DEUTSCHLAND";
  fake.uci["wireless.pub.ssid"] = std::string(120, 's');
  fake.uci["node.status.mode"] = std::string(60, 'm');
  fake.uci["wireless.radio0.channel"] = "auto";
  load_node_config();
  const NodeConfig& c = node_config();
  EXPECT_EQ("DEUT", std::string(c.wireless.country));
  EXPECT_EQ(std::string(49, 's'), std::string(c.wireless.pub_ssid));
  EXPECT_EQ(std::string(29, 'm'), std::string(c.node_mode));
  EXPECT_EQ(0, c.wireless.channel);
  EXPECT_EQ("", std::string(c.wireless.priv_key));
  EXPECT_EQ(0, c.reboot_token);
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Node status init done\n"));
}

TEST_F(ConfigRecord, DashboardSettingsWithTheirMessages) {
  fake.uci.erase("dashboard.remote.fallback_ip");
  fake.uci["dashboard.remote.interval"] = "12345678901234";
  load_dashboard_config();
  EXPECT_EQ(
      "hostname: configured\n"
      "Script path: configured\n"
      "Failed to get the output\n"
      "Failed to get the fallbackip\n"
      "Checkin interval : configured\n",
      fake.stdout_text);
  const DashboardConfig& d = dashboard_config();
  EXPECT_EQ("dash.example", std::string(d.host));
  EXPECT_EQ("/checkin.php", std::string(d.path));
  EXPECT_EQ("", std::string(d.fallback_ip));
  EXPECT_EQ("123456789", std::string(d.interval));
  EXPECT_EQ(0, d.first_checkin_done);
}

TEST_F(ConfigRecord, ClearingRemovesOnlyTheServiceRulesOfThisRun) {
  fake.uci["node.security.lan_block"] = "0";
  load_node_config();
  load_dashboard_config();
  NodeConfig& c = node_config();
  c.services.ssh = 1;
  c.services.imap = 1;
  c.services.irc = 1;  // irc has no rule
  fake.events.clear();
  clear_controller_resources();
  clear_dashboard_config();
  EXPECT_EQ((std::vector<std::string>{"iptables -D INPUT -p tcp --dport 22 -j DROP",
                                      "iptables -D FORWARD -p tcp --dport 143 -j DROP"}),
            runs());
  EXPECT_EQ((std::vector<std::string>{"Clearing Controller Resources", "Clearing Server configuration"}),
            logs(LOG_INFO));
  EXPECT_FALSE(node_config_loaded());

  fake.events.clear();
  load_node_config();
  node_config().services = {1, 1, 1, 1, 1, 1};
  clear_controller_resources();
  EXPECT_EQ((std::vector<std::string>{
                "iptables -D FORWARD -p tcp --dport 21 -j DROP", "iptables -D INPUT -p tcp --dport 22 -j DROP",
                "iptables -D FORWARD -p tcp --dport 25 -j DROP", "iptables -D FORWARD -p tcp --dport 110 -j DROP",
                "iptables -D FORWARD -p tcp --dport 143 -j DROP"}),
            runs());
}
