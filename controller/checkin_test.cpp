// The check-in against the scripted dashboard on loopback, with the fake
// host, on a node whose only interface is eth0. The fields the interface
// probes fill (ip, lan, mesh, gateway, nbs, rssi) are asserted in
// checkin_interfaces_test.cpp; everything else is asserted here.
#include "controller/checkin.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "controller/checkin_report.h"
#include "controller/controller_loop.h"
#include "controller/device_identity.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/testing/checkin_fixture.h"
#include "controller/testing/checkin_request.h"
#include "controller/testing/controller_test.h"
#include "controller/uplink_alignment.h"

using checkin_test::config_reply;
using checkin_test::parse_request;
using checkin_test::report_keys;

TEST_F(Checkin, RequestCarriesTheReportFieldByFieldForAGatewayAndARepeater) {
  server.script(ServerReply::text(config_reply("")));
  checkin_test::CheckinRequest gw = checkin();
  ASSERT_TRUE(gw.framed) << server.request(0);
  EXPECT_EQ("/checkin.php", gw.path);
  EXPECT_EQ("MDA6MUE6MkI6M0M6NEQ6NUU=", gw.encoded_mac);
  EXPECT_EQ("00:1A:2B:3C:4D:5E", gw.mac);
  EXPECT_EQ("dash.test", gw.host);
  EXPECT_EQ(report_keys(), gw.keys()) << gw.query;
  EXPECT_EQ("FLX-1", gw["hw"]);
  EXPECT_EQ("2.4.1", gw["robin"]);
  EXPECT_EQ("12345", gw["memfree"]);
  EXPECT_EQ("Office", gw["ssid"]);
  EXPECT_EQ("Guest", gw["pssid"]);
  EXPECT_EQ("1", gw["RR"]);
  EXPECT_EQ("1:02:05", gw["uptime"]);
  EXPECT_EQ("0.25", gw["load"]);
  EXPECT_EQ("G", gw["role"]);
  EXPECT_EQ("255", gw["gw-qual"]);
  EXPECT_EQ("100", gw["NTR"]);
  EXPECT_EQ("0", gw["hop"]);  // a gateway does not count the others
  EXPECT_TRUE(logged(LOG_DEBUG, "ROLE : gateway"));
  EXPECT_TRUE(logged(LOG_DEBUG, "MemFree: 12345 Kb"));
  EXPECT_TRUE(logged(LOG_DEBUG, "LoadAverage: 0.25"));
  EXPECT_TRUE(logged(LOG_DEBUG, "system uptime : 0days,1:02:05\n"));
  std::vector<std::string> debug = logs(LOG_DEBUG);
  EXPECT_EQ(1, std::count_if(debug.begin(), debug.end(), [](const std::string& l) {
              return l.rfind("dash.test Connection Descriptor: ", 0) == 0 && l.size() > 33 &&
                     l.find_first_not_of("0123456789", 33) == std::string::npos;
            }));

  fake.uci["node.status.mode"] = "repeater";
  fake.write("/proc/meminfo", "MemFree: 999 kB\n");
  checkin_test::CheckinRequest rp = checkin();
  ASSERT_TRUE(rp.framed);
  EXPECT_EQ(report_keys(), rp.keys()) << rp.query;
  EXPECT_EQ("999", rp["memfree"]);
  EXPECT_EQ("0", rp["RR"]);
  EXPECT_EQ("R", rp["role"]);
  EXPECT_EQ("2", rp["hop"]);  // both lines of the gateway table
  EXPECT_TRUE(logged(LOG_DEBUG, "ROLE : repeater"));
}

TEST_F(Checkin, DashboardSettingsAndRequestAreLogged) {
  server.script(ServerReply::text(config_reply("")));
  checkin();
  std::vector<std::string> debug = logs(LOG_DEBUG);
  // The settings come right after the memory and load lines.
  auto host = std::find(debug.begin(), debug.end(), "Host: dash.test");
  ASSERT_NE(debug.end(), host);
  EXPECT_EQ("Path: /checkin.php", *(host + 1));
  EXPECT_EQ("Fallback_ip: ", *(host + 2));
  EXPECT_EQ("Checkin Interval: 5", *(host + 3));
  EXPECT_TRUE(logged(LOG_DEBUG, "HTTP Request to Server: [" + server.request(0) + "]"));
  EXPECT_TRUE(printed("Send Returens: Success\n"));
  EXPECT_TRUE(logged(LOG_DEBUG, "Send Returens: Success"));
}

TEST_F(Checkin, FirstCheckinUsesUpTheRestartReportEvenWhenItCannotConnect) {
  fake.hosts.clear();  // the name does not resolve and there is no fallback
  EXPECT_TRUE(checkin(1).fields.empty());
  EXPECT_EQ(0u, server.connections());
  EXPECT_TRUE(logged(LOG_DEBUG, "Faild to connect to Dashboard: dash.test"));
  // Nothing else happens in a check-in without a connection.
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_FALSE(printed("Reading Response"));

  fake.hosts["dash.test"] = "127.0.0.1";
  server.script(ServerReply::text(config_reply("")));
  EXPECT_EQ("0", checkin()["RR"]);
  EXPECT_EQ("0", checkin()["RR"]);
}

TEST_F(Checkin, UptimeTexts) {
  const std::pair<long, const char*> cases[] = {
      {0, "0:00:00"},           {59, "0:00:59"},          {3725, "1:02:05"},           {86399, "23:59:59"},
      {86400, "1days,0:00:00"}, {90061, "1days,1:01:01"}, {900061, "10days,10:01:01"}, {-5, "0:00:00"},
  };
  for (const auto& [seconds, text] : cases) {
    UptimeText out;
    format_uptime(seconds, out);
    EXPECT_STREQ(text, out.c_str()) << seconds;
  }
  server.script(ServerReply::text(config_reply("")));
  fake.uptime_seconds = 90061;
  EXPECT_EQ("1days,1:01:01", checkin()["uptime"]);
  EXPECT_TRUE(logged(LOG_DEBUG, "system uptime : 1days,1:01:01\n"));
}

TEST_F(Checkin, UpgradeIsReportedOnceAndItsMarkRemoved) {
  fake.write("/etc/fw_a_version.old", "2.4.0\n");
  server.script(ServerReply::text(config_reply("")));
  checkin_test::CheckinRequest first = checkin();
  std::vector<std::string> keys = report_keys();
  keys.push_back("upgrade");
  EXPECT_EQ(keys, first.keys());
  EXPECT_EQ("1", first["upgrade"]);
  EXPECT_EQ("&hop=0&upgrade=1", first.query.substr(first.query.size() - 16));
  EXPECT_FALSE(fake.exists("/etc/fw_a_version.old"));
  EXPECT_EQ(report_keys(), checkin().keys());
}

TEST_F(Checkin, UpgradeMarkStaysUntilTheDashboardAcceptedTheReport) {
  fake.write("/etc/fw_a_version.old", "2.4.0\n");
  dashboard_link().reply_timeout = 1;
  server.script(ServerReply::never());
  server.script(ServerReply::text("HTTP/1.0 404 Not Found\r\n\r\n"));
  server.script(ServerReply::text(config_reply("")));
  EXPECT_EQ("1", checkin(2)["upgrade"]);
  EXPECT_TRUE(fake.exists("/etc/fw_a_version.old"));
  EXPECT_EQ("1", checkin()["upgrade"]);
  EXPECT_TRUE(fake.exists("/etc/fw_a_version.old"));
  EXPECT_EQ("1", checkin()["upgrade"]);
  EXPECT_FALSE(fake.exists("/etc/fw_a_version.old"));
  EXPECT_EQ("<absent>", checkin()["upgrade"]);
}

TEST_F(Checkin, AcceptedReplyIsStoredWholeAndParsed) {
  const std::string config = "#@#config radio\nchannel 6\n";
  server.script(ServerReply::segments(
      {"HTTP/1.0 200 OK\r\n", "Content-Type: text/html\r\n\r\n", "#@#" + checkin_test::encode(config)}, Millis(20)));
  checkin();
  EXPECT_EQ(config, fake.read("/tmp/.received"));
  EXPECT_FALSE(fake.exists("/tmp/.received.tmp"));
  EXPECT_TRUE(logged(LOG_DEBUG, "Response received:Succeed"));
  // Stored before the parse, which then reads it.
  std::string out = fake.stdout_text;
  size_t running = out.find("Running set config\nOpen file /tmp/.received\nRADIO:\nKey:channel, Value:6, counter 0\n");
  EXPECT_NE(std::string::npos, running) << out;
  EXPECT_EQ(std::vector<std::string>{"write /tmp/.received " + config}, fake.trace("write /tmp/.received"));
}

TEST_F(Checkin, ReplyWithoutStatus200LeavesTheStoredConfigurationAlone) {
  fake.write("/tmp/.received", "#@#config radio\nchannel 6\n");
  server.script(ServerReply::text(config_reply("#@#config radio\nchannel 1\n", "404 Not Found")));
  checkin();
  EXPECT_EQ("#@#config radio\nchannel 6\n", fake.read("/tmp/.received"));
  EXPECT_TRUE(printed("Unable find the config key in Response\n"));
  EXPECT_FALSE(printed("Running set config"));
  EXPECT_FALSE(logged(LOG_DEBUG, "Response received:Succeed"));
  // The steps after the reply still run.
  EXPECT_TRUE(logged(LOG_DEBUG, "Custom script MD5 sum not changed\n"));
  EXPECT_TRUE(ran_or_read("batctl gw | awk '{print $1}'"));
}

TEST_F(Checkin, AcceptedReplyWithoutMarkerStoresAnEmptyConfiguration) {
  fake.write("/tmp/.received", "old\n");
  server.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\nno configuration today"));
  checkin();
  EXPECT_TRUE(fake.exists("/tmp/.received"));
  EXPECT_EQ("", fake.read("/tmp/.received"));
  // Only the after-apply step has anything to do.
  EXPECT_TRUE(printed("Running set config\nOpen file /tmp/.received\ndashboard Counter:0\n"));
}

TEST_F(Checkin, ConfigurationThatCannotBeStoredIsNotParsed) {
  fake.write("/tmp/.received", "#@#config radio\nchannel 6\n");
  ASSERT_EQ(0, mkdir(fake.path("/tmp/.received.tmp").c_str(), 0755));
  server.script(ServerReply::text(config_reply("#@#config radio\nchannel 1\n")));
  EXPECT_EQ("0", checkin()["hop"]);
  EXPECT_TRUE(printed("Unable to open  Kestrel received file\n"));
  EXPECT_FALSE(printed("Running set config"));
  EXPECT_FALSE(printed("Open file"));
  EXPECT_EQ("#@#config radio\nchannel 6\n", fake.read("/tmp/.received"));
  EXPECT_TRUE(ran_or_read("batctl gw | awk '{print $1}'"));
}

TEST_F(Checkin, ReplyThatTimesOutEndsTheCheckin) {
  dashboard_link().reply_timeout = 1;
  server.script(ServerReply::never());
  auto t0 = std::chrono::steady_clock::now();
  checkin(2);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_TRUE(printed("Reading Response\n"));
  EXPECT_TRUE(printed("Timed out reading data via select() from server\n"));
  EXPECT_FALSE(printed("Unable find the config key"));
  EXPECT_FALSE(fake.exists("/tmp/.received"));
  // No custom script, no uplink alignment.
  EXPECT_FALSE(logged(LOG_DEBUG, "Custom script MD5 sum not changed\n"));
  EXPECT_FALSE(ran_or_read("batctl gw | awk '{print $1}'"));
}

TEST_F(Checkin, AfterTheReplyScriptThenUplinkThenUpgrade) {
  node_config().custom_script.run_pending = 1;
  upgrade_pending = 1;
  server.script(ServerReply::text(config_reply("")));
  checkin();
  std::vector<std::string> order =
      events({"log 7 Running Custom Script", "read batctl gw", "out CHECKIN:Firmware upgrade enabled from dashboard"});
  EXPECT_EQ((std::vector<std::string>{"log 7 Running Custom Script\n", "read batctl gw | awk '{print $1}'",
                                      "out CHECKIN:Firmware upgrade enabled from dashboard"}),
            order);
}

TEST_F(Checkin, LongestDashboardPathAndHostStillMakeAWholeRequest) {
  clear_dashboard_config();
  // A uci value holds at most 254 characters.
  std::string path = "/" + std::string(253, 'p');
  std::string host(254, 'h');
  fake.uci["dashboard.remote.path"] = path;
  fake.uci["dashboard.remote.host"] = host;
  fake.hosts[host] = "127.0.0.1";
  load_dashboard_config();
  server.script(ServerReply::text(config_reply("")));
  checkin_test::CheckinRequest r = checkin();
  EXPECT_TRUE(r.framed);
  EXPECT_EQ(path, r.path);
  EXPECT_EQ(host, r.host);
  EXPECT_EQ(report_keys(), r.keys());
}

TEST(CheckinQuery, FieldsInOrderAndTheCutAt1022Characters) {
  DeviceIdentity id;
  id.hw.set("FLX-1");
  id.firmware.set("2.4.1");
  NodeConfig config;
  config.wireless.priv_ssid.set("Office");
  config.wireless.pub_ssid.set("Guest");
  NodeReport r;
  r.memfree = 4294967295u;
  r.load.mantissa = 1;  // 1 * 2^-1
  r.load.scale = 1;
  r.rr = 1;
  r.gateway = false;
  r.hop = 3;
  r.lan.set("10.1.0.9");
  r.ip.set("10.2.0.9");
  r.mesh.set("02:00:00:00:00:0A");
  r.uptime.set("1:02:05");
  r.gateway_ip.set("10.1.0.1");
  r.nbs = "AA:BB:CC:DD:EE:01;AA:BB:CC:DD:EE:02";
  r.rssi = "-60;-71";
  QueryText q;
  format_checkin_query(id, config, r, q);
  EXPECT_STREQ(
      "hw=FLX-1&ip=10.2.0.9&lan=10.1.0.9&mesh=02:00:00:00:00:0A&robin=2.4.1&memfree=4294967295&ssid=Office"
      "&pssid=Guest&RR=1&uptime=1:02:05&load=0.50&role=R&gateway=10.1.0.1&gw-qual=255&NTR=100"
      "&nbs=AA:BB:CC:DD:EE:01;AA:BB:CC:DD:EE:02&rssi=-60;-71&hop=3",
      q.c_str());

  // Full neighbour lists: the text is cut at 1022 characters, upgrade mark and all.
  std::string macs;
  while (macs.size() + 18 < 1024) macs += (macs.empty() ? "" : ";") + std::string("AA:BB:CC:DD:EE:FF");
  r.nbs = macs.c_str();
  r.upgrade = true;
  r.gateway = true;
  format_checkin_query(id, config, r, q);
  EXPECT_EQ(1022u, q.size());
  EXPECT_EQ(0u, std::string(q.c_str()).find("hw=FLX-1&ip=10.2.0.9&lan=10.1.0.9&"));
  EXPECT_NE(std::string::npos, std::string(q.c_str()).find("&role=G&"));
}

TEST(UplinkAlignment, GatewayModeAndRoleFollowTheWiredUplink) {
  struct Case {
    int eth0;
    const char* mode;
    const char* role;
    std::vector<std::string> runs;
  };
  const std::vector<std::string> to_gateway = {"uci set node.status.mode=gateway", "uci commit node"};
  const std::vector<std::string> to_repeater = {"uci set node.status.mode=repeater", "uci commit node"};
  const std::vector<Case> cases = {
      {1, "client", "repeater", {"batctl gw server", to_gateway[0], to_gateway[1]}},
      {1, "client", "gateway", {"batctl gw server"}},
      {1, "server", "repeater", to_gateway},
      {1, "server", "gateway", {}},
      {1, "off", "", {}},
      {0, "server", "gateway", {"batctl gw client", to_repeater[0], to_repeater[1]}},
      {-1, "server", "gateway", {"batctl gw client", to_repeater[0], to_repeater[1]}},  // eth0 unreadable
      {0, "client", "gateway", to_repeater},
      {0, "server", "repeater", {"batctl gw client"}},
      {0, "client", "repeater", {}},
      {0, "", "Gateway", {}},  // exact words only
  };
  for (const Case& c : cases) {
    FakeHost fake;
    ScopedHost scope(fake);
    align_uplink_to(c.eth0, c.mode, c.role);
    EXPECT_EQ(c.runs, fake.commands) << c.eth0 << " " << c.mode << " " << c.role;
  }
}

// Whole check-ins, steps 15 and 17 included.
TEST_F(Checkin, ReplyThatEnablesAScriptRunsItOnceOverTwoCheckins) {
  const char kHelloMd5[] = "d604a220708aa59433ba410986cd4ffa";  // md5sum of the script below
  ScriptedServer scripts;
  ASSERT_EQ("", scripts.error());
  scripts.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#!/bin/sh\necho hello\n"));
  fake.hosts["scripts.test"] = "127.0.0.1";
  const std::string url = "http://scripts.test:" + std::to_string(scripts.port()) + "/dir";
  const std::string reply = "#@#config customscript\ncs_enable 1\ncs_url " + url + "\ncs_md5 " + kHelloMd5 + "\n";
  fake.outputs["md5sum /tmp/custom.sh | awk '{print $1}'"] = std::string(kHelloMd5) + "\n";
  server.script(ServerReply::text(config_reply(reply)));
  checkin();
  checkin();  // the same md5 again: nothing more runs
  EXPECT_EQ(1, std::count(fake.commands.begin(), fake.commands.end(), "sh /tmp/custom.sh"));
  EXPECT_EQ(1u, scripts.connections());
  EXPECT_NE(std::string::npos, scripts.request(0).find("POST /dir/custom.sh HTTP/1.0\r\n"));
  EXPECT_FALSE(fake.exists("/tmp/custom.sh"));
}

TEST_F(Checkin, ReplyOfferingNewFirmwareEndsTheControllerAfterStartingTheUpgrade) {
  fake.write("/etc/fw_a_version", "2.4.1\n");
  const char kSum[] = "0123456789abcdef0123456789abcdef";
  fake.on_command = [&](const std::string& cmd, std::string& output) {
    if (cmd.rfind("wget ", 0) == 0) {
      fake.write("/tmp/.firmware/flx-pico2hp.bin", "image");
      return 0;
    }
    if (cmd.rfind("md5sum ", 0) == 0) {
      output = std::string(kSum) + "\n";
      return 0;
    }
    return -1;
  };
  server.script(ServerReply::text(config_reply(std::string("#@#config fwupgrade\nupgrade 1\nversion 2.5.0\nsum ") +
                                               kSum + "\npath http://fw.example/images\n")));
  upgrade_pending = 0;
  EXPECT_EQ(0, run_checkin_loop(send_checkin, identity, 300));
  EXPECT_EQ(1u, server.connections());
  std::vector<std::string> ending = events({"run sh -x /tmp/upgrade.sh", "kill ", "sleep "});
  EXPECT_EQ((std::vector<std::string>{"run sh -x /tmp/upgrade.sh",
                                      "kill " + std::to_string(getpid()) + " " + std::to_string(SIGTERM)}),
            ending);
  EXPECT_EQ("2.4.1\n", fake.read("/etc/fw_a_version.old"));
}
