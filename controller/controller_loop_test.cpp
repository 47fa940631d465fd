#include "controller/controller_loop.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>

#include "controller/device_identity.h"
#include "controller/testing/controller_test.h"
#include "controller/testing/lan.h"

namespace {

using ControllerLoop = ControllerTest;

// A stand-in check-in: fails once, then succeeds; the third one leaves a
// firmware upgrade pending.
int g_checkins = 0;
const DeviceIdentity* g_seen = nullptr;
int scripted_checkin(const DeviceIdentity& identity) {
  g_seen = &identity;
  ++g_checkins;
  if (g_checkins == 3) upgrade_pending = 1;
  return g_checkins == 1 ? 1 : 0;
}

}  // namespace

TEST(CheckinInterval, MinutesFromTheTextAndThePause) {
  const std::pair<const char*, int> minutes[] = {{"5", 5}, {"abc", 0}, {"", 0}, {"10x", 10}, {"-2", -2}};
  for (const auto& [text, m] : minutes) EXPECT_EQ(m, checkin_interval_minutes(text)) << text;
  EXPECT_EQ(300u, checkin_period_seconds(5));
  EXPECT_EQ(0u, checkin_period_seconds(0));
  EXPECT_EQ(0u, checkin_period_seconds(-2));
  EXPECT_EQ(599999940u, checkin_period_seconds(9999999));
  EXPECT_EQ(UINT_MAX, checkin_period_seconds(999999999));
}

TEST_F(ControllerLoop, StartUpLoadsRecordsIdentityAndClearsTheUpgradeFlag) {
  fake.uci = {{"dashboard.remote.interval", "5"}, {"node.status.hw", "FLX-1"}, {"node.status.mode", "gateway"}};
  fake.write("/etc/fw_a_version", "2.4.1\n");
  upgrade_pending = 1;
  DeviceIdentity id;
  EXPECT_EQ(300u, prepare_controller(id));
  EXPECT_EQ(0, upgrade_pending);
  EXPECT_EQ("FLX-1", std::string(id.hw));
  EXPECT_EQ("gateway", std::string(node_config().node_mode));
  EXPECT_EQ("5", std::string(dashboard_config().interval));
  EXPECT_EQ((std::vector<std::string>{"Controller starting up", "Dashboard Controller Running"}), logs(LOG_INFO));
  std::vector<std::string> debug = logs(LOG_DEBUG);
  ASSERT_EQ(6u, debug.size());
  EXPECT_EQ("Checkin Interval:5", debug[0]);
  EXPECT_EQ("Interval int:5", debug[4]);
  EXPECT_EQ("Checkin Interval:5", debug[5]);
  // The dashboard settings are read before the node's.
  EXPECT_EQ("read uci get dashboard.remote.host", events({"read "}).front());
  release_controller_records();
  EXPECT_FALSE(node_config_loaded());
}

TEST_F(ControllerLoop, NonNumericIntervalMeansNoPause) {
  fake.uci = {{"dashboard.remote.interval", "abc"}};
  DeviceIdentity id;
  EXPECT_EQ(0u, prepare_controller(id));
  EXPECT_EQ("Interval int:0", logs(LOG_DEBUG)[4]);
  release_controller_records();
}

TEST_F(ControllerLoop, LoopEndsAfterTheCheckinThatLeftAnUpgradePending) {
  g_checkins = 0;
  DeviceIdentity id;
  EXPECT_EQ(0, run_checkin_loop(scripted_checkin, id, 300));
  EXPECT_EQ(3, g_checkins);
  EXPECT_EQ(&id, g_seen);
  // First check-in at once, a pause after each one but the last.
  EXPECT_EQ((std::vector<unsigned>{300, 300}), fake.sleeps);
  EXPECT_EQ((std::vector<std::string>{"Checkin Failed", "Checkin completed Successfully",
                                      "Checkin completed Successfully", "System upgrade is running\n"}),
            logs(LOG_INFO));
  EXPECT_EQ((std::vector<std::string>{"Checkin running", "Checkin running", "Checkin running"}), logs(LOG_DEBUG));
  EXPECT_EQ("Shutting down Controller\n", fake.stdout_text);
  ASSERT_EQ(1u, fake.kills.size());
  EXPECT_EQ(getpid(), fake.kills[0].first);
  EXPECT_EQ(SIGTERM, fake.kills[0].second);
  // The signal comes after the messages.
  std::vector<std::string> order = events({"log 6 System", "out Shutting", "kill "});
  ASSERT_EQ(3u, order.size());
  EXPECT_EQ(0u, order[2].rfind("kill ", 0));
}

TEST_F(ControllerLoop, LanBlockIsTakenUpFromUciBeforeTheIdentityAndTheFirstCheckin) {
  fake.uci = {{"node.security.lan_block", "1"},  {"wireless.priv.encryption", "psk-mixed"},
              {"dhcp.pub.ipaddr", "10.3.48.1"},  {"dhcp.pub.netmask", "255.255.252.0"},
              {"dhcp.priv.ipaddr", "10.3.52.1"}, {"dhcp.priv.netmask", "255.255.252.0"}};
  set_lan(kernel, 1);
  DeviceIdentity id;
  prepare_controller(id);
  EXPECT_EQ(1, node_config().filter.lan_block);
  // The rules go in right after this read, between the wireless and the
  // isolation reads; the identity and the loop come later.
  std::vector<std::string> trace =
      events({"read uci get wireless.priv.encryption", "read uci get node.security", "run iptables",
              "read uci get wireless.pub.isolate", "read uci get node.status.hw"});
  EXPECT_EQ((std::vector<std::string>{"read uci get wireless.priv.encryption", "read uci get node.security.lan_block",
                                      "run iptables -D FORWARD -s 10.3.48.0/22 -d 192.168.1.0/24 -j DROP",
                                      "run iptables -A FORWARD -s 10.3.48.0/22 -d 192.168.1.0/24 -j DROP",
                                      "run iptables -D FORWARD -s 10.3.52.0/22 -d 192.168.1.0/24 -j DROP",
                                      "run iptables -A FORWARD -s 10.3.52.0/22 -d 192.168.1.0/24 -j DROP",
                                      "read uci get wireless.pub.isolate", "read uci get node.status.hw"}),
            trace);
  release_controller_records();
}

// An interval of 0 checks in again at once: the pause of 0 s only lets a
// termination signal in.
TEST_F(ControllerLoop, IntervalZeroChecksInAgainWithoutAPause) {
  g_checkins = 0;
  DeviceIdentity id;
  EXPECT_EQ(0, run_checkin_loop(scripted_checkin, id, 0));
  EXPECT_EQ(3, g_checkins);
  EXPECT_EQ((std::vector<unsigned>{0, 0}), fake.sleeps);
}
