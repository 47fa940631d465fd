// The check-in's test set-up: the fake host with the node's settings and
// readings, the scripted dashboard on loopback and the loaded records.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "controller/checkin.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "controller/testing/checkin_request.h"
#include "controller/testing/controller_test.h"

inline const char kCheckinGatewayTable[] =
    "[B.A.T.M.A.N. adv 2016.5, MainIF/MAC: mesh0/02:00:00:00:00:0a (bat0/02:00:00:00:00:0b BATMAN_IV)]\n"
    "  Router            ( TQ) Next Hop          [outgoingIf]  Bandwidth\n"
    "=> 02:00:00:00:01:01 (255) 02:00:00:00:01:01 [     mesh0]: 10.0/2.0 MBit\n"
    "   02:00:00:00:01:02 (200) 02:00:00:00:01:01 [     mesh0]: 10.0/2.0 MBit\n";

class Checkin : public ControllerTest {
 protected:
  Checkin() {
    fake.uci = {
        {"dashboard.remote.host", "dash.test"}, {"dashboard.remote.path", "/checkin.php"},
        {"dashboard.remote.fallback_ip", ""},   {"dashboard.remote.interval", "5"},
        {"node.status.mode", "gateway"},        {"wireless.pub.ssid", "Guest"},
        {"wireless.priv.ssid", "Office"},
    };
    fake.hosts["dash.test"] = "127.0.0.1";
    dashboard_link().port = server.port();
    fake.write("/proc/meminfo", "MemTotal:  60000 kB\nMemFree:   12345 kB\n");
    fake.write("/proc/loadavg", "0.25 0.30 0.35 1/80 1234\n");
    fake.write("/sys/kernel/debug/batman_adv/bat0/gateways", kCheckinGatewayTable);
    fake.uptime_seconds = 3725;
    kernel.links["eth0"] = FakeLink{.mac = "00:1a:2b:3c:4d:5e"};  // a gateway with its cable
    identity.hw.set("FLX-1");
    identity.mac.set("00:1A:2B:3C:4D:5E");
    identity.firmware.set("2.4.1");
    load_dashboard_config();
    load_node_config();
    fake.events.clear();
    fake.commands.clear();
    fake.stdout_text.clear();
    fake.logs.clear();
  }
  ~Checkin() override {
    clear_controller_resources();
    clear_dashboard_config();
  }
  void SetUp() override { ASSERT_EQ("", server.error()); }

  // Runs one check-in; its request as the dashboard saw it.
  checkin_test::CheckinRequest checkin(int expected_result = 0) {
    size_t before = server.connections();
    EXPECT_EQ(expected_result, send_checkin(identity));
    if (server.connections() == before) return {};
    return checkin_test::parse_request(server.request(before));
  }
  bool printed(const std::string& line) const { return fake.stdout_text.find(line) != std::string::npos; }
  bool logged(int priority, const std::string& text) const {
    std::vector<std::string> l = logs(priority);
    return std::find(l.begin(), l.end(), text) != l.end();
  }
  bool ran_or_read(const std::string& command) const {
    return std::find(fake.commands.begin(), fake.commands.end(), command) != fake.commands.end();
  }

  ScriptedServer server;
  DeviceIdentity identity;
};
