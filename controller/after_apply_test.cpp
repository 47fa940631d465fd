#include "controller/after_apply.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>

#include "controller/testing/controller_test.h"

namespace {

class AfterApply : public ControllerTest {
 protected:
  AfterApply() {
    add_leds();
    config.node_mode.set("gateway");
    fake.uci = {{"dhcp.mesh.ipaddr", "10.3.56.1"}, {"dhcp.pub.ipaddr", "10.3.48.1"}, {"dhcp.priv.ipaddr", "10.3.52.1"}};
  }
};

}  // namespace

TEST_F(AfterApply, CountLinesInRowOrderAndCommitsOfChangedRows) {
  config.changes[kRowDashboard] = 1;
  config.changes[kRowDebug] = 2;
  config.changes[kRowRadio] = 4;         // radio prints nothing, commits nothing
  config.changes[kRowServices] = 5;      // likewise
  config.changes[kRowCustomScript] = 3;  // commits "node"
  config.changes[kRowLedsign] = 1;       // the row's own name as package
  run_after_apply(config);
  EXPECT_EQ(
      "dashboard Counter:1\n"
      "debug counter: 2\n"
      "madwifi counter: 0\n"
      "anyip counter: 0\n"
      "wireless counter: 0\n"
      "filter counter: 0\n"
      "nodes counter: 0\n"
      "management counter: 0\n"
      "reboot counter: 0\n"
      "customscript counter: 3\n"
      "s_reboot counter: 0\n"
      "fwupgrade counter: 0\n"
      "ledsign counter: 1\n",
      fake.stdout_text);
  EXPECT_EQ(
      (std::vector<std::string>{"uci commit dashboard", "uci commit debug", "uci commit node", "uci commit ledsign"}),
      runs());
  EXPECT_EQ(0, upgrade_pending);
}

TEST_F(AfterApply, WirelessChangeCommitsClearsTheEnterpriseMarkAndRestartsWifi) {
  config.changes[kRowWireless] = 2;
  config.wireless.enterprise_reconfigured = 1;
  config.reboot_token = 0;
  fake.uci["node.status.mode"] = "gateway";
  run_after_apply(config);
  EXPECT_EQ(0, config.wireless.enterprise_reconfigured);
  std::vector<std::string> r = runs();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ("uci commit wireless", r[0]);
  EXPECT_EQ("/etc/init.d/dnsmasq stop", r[1]);
  // The gateway's mesh address, not a DHCP client.
  EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "ifconfig br-meship 10.3.56.1 netmask 255.255.252.0 up"));
  // The restart comes between the wireless and the filter count lines.
  EXPECT_LT(fake.stdout_text.find("wireless counter: 2\n"), fake.stdout_text.find("Restarting WiFi\n"));
  EXPECT_LT(fake.stdout_text.find("Restarting WiFi\n"), fake.stdout_text.find("filter counter: 0\n"));
}

// A node that booted as repeater and got its cable later (or the reverse) is
// restarted in the role it has now, not the one it started with.
TEST_F(AfterApply, WifiRestartTakesTheRoleTheNodeHasNow) {
  const char* kDhcpClient =
      "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship";
  const char* kMeshAddress = "ifconfig br-meship 10.3.56.1 netmask 255.255.252.0 up";
  struct Case {
    const char* at_start_up;
    const char* now;  // node.status.mode at the restart; nullptr: missing
    const char* mesh_command;
    const char* not_run;
  } cases[] = {
      {"repeater", "gateway", kMeshAddress, kDhcpClient},
      {"gateway", "repeater", kDhcpClient, kMeshAddress},
      {"gateway", nullptr, kMeshAddress, kDhcpClient},  // unreadable: the role it started with
      {"repeater", nullptr, kDhcpClient, kMeshAddress},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.at_start_up) + " -> " + (c.now ? c.now : "(missing)"));
    fake.events.clear();
    config.changes[kRowWireless] = 1;
    config.reboot_token = 0;
    config.node_mode.set(c.at_start_up);
    if (c.now) {
      fake.uci["node.status.mode"] = c.now;
    } else {
      fake.uci.erase("node.status.mode");
    }
    run_after_apply(config);
    std::vector<std::string> r = runs();
    EXPECT_NE(r.end(), std::find(r.begin(), r.end(), c.mesh_command));
    EXPECT_EQ(r.end(), std::find(r.begin(), r.end(), c.not_run));
    EXPECT_STREQ(c.now ? c.now : c.at_start_up, config.node_mode);
  }
}

TEST_F(AfterApply, UpgradeCountRaisesTheFlag) {
  config.changes[kRowFwupgrade] = 1;
  run_after_apply(config);
  EXPECT_EQ(1, upgrade_pending);
  EXPECT_TRUE(runs().empty());
  run_after_apply(config);
  EXPECT_EQ(1, upgrade_pending);
}

TEST_F(AfterApply, PortalStepRunsWhateverTheManagementCount) {
  config.management.portal_enable = 1;
  config.management.portal_name.set("chilli");
  run_after_apply(config);
  EXPECT_EQ((std::vector<std::string>{"chilli Not Running: Starting"}), logs(LOG_INFO));

  // Running: only new settings restart it.
  fake.logs.clear();
  fake.add_process(812, "chilli", 'S');
  run_after_apply(config);
  EXPECT_TRUE(logs(LOG_INFO).empty());

  // Portal off: not even looked up.
  config.management.portal_enable = 0;
  fake.remove("/proc/812/stat");
  run_after_apply(config);
  EXPECT_TRUE(logs(LOG_INFO).empty());
}
