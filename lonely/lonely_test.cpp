#include "lonely/lonely.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lonely/testing/stand_in_scan.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

class Lonely : public MeshFixture {
 protected:
  Lonely() {
    StandInScan::reset();
    kernel.scan_backends["mesh0"] = &StandInScan::ops;
    fake.uci["node.status.id"] = "5";
    fake.uci["wireless.radio0.channel"] = "11";
    fake.outputs[kBatmanMode] = "off\n";
  }
  void vlans(int count) {
    for (int i = 0; i < count; ++i) fake.write("/proc/net/vlan/bat0." + std::to_string(i), "");
  }
  bool leds_touched() const {
    for (const std::string& e : fake.events) {
      if (e.rfind("write /sys/class/leds/", 0) == 0) return true;
    }
    return false;
  }
  bool radio_touched() const {
    for (const std::string& c : fake.commands) {
      if (c.find("wireless") != std::string::npos && c != "uci get wireless.radio0.channel") return true;
    }
    return false;
  }
};

}  // namespace

TEST_F(Lonely, AMeshClientEndsAfterTheSettleWithoutLedsOrRadio) {
  // Whatever eth0 of this machine says, a mesh client's node ends here.
  vlans(4);
  fake.write("/var/run/udhcpc-br-meship.pid", "1234\n");
  fake.write(kGatewayTable, kOneGatewayTable);
  EXPECT_EQ(0, run_lonely());
  EXPECT_EQ((std::vector<unsigned>{10, 60}), fake.sleeps);
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_FALSE(leds_touched());
  EXPECT_FALSE(radio_touched());
}

TEST_F(Lonely, MissingVlansAreStartedFirst) {
  vlans(3);
  fake.write("/var/run/udhcpc-br-meship.pid", "1234\n");
  EXPECT_EQ(0, run_lonely());
  EXPECT_EQ((std::vector<std::string>{"sleep 10", "sleep 60", "run /etc/init.d/vlan start"}),
            effects({"run", "read", "sleep", "write"}));
}

TEST_F(Lonely, AnUplinkEndsTheProgram) {
  vlan = 1;
  elink = 1;
  fake.write(kGatewayTable, kOneGatewayTable);
  EXPECT_EQ(0, join_mesh());
  EXPECT_TRUE(fake.events.empty());
  EXPECT_EQ(0, StandInScan::scans);
}

TEST_F(Lonely, AGatewayInReachMakesARepeaterWithoutSearching) {
  vlan = 1;
  fake.write(kGatewayTable, kOneGatewayTable);
  EXPECT_EQ(0, join_mesh());
  std::vector<std::string> seen = effects({"run", "read", "sleep", "write"});
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{"led red:link1 default-on", "run " + kGatewayPing, "read " + kBatmanMode}),
            std::vector<std::string>(seen.begin(), seen.begin() + 3));
  EXPECT_EQ("led red:link1 none", seen.back());
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
  EXPECT_TRUE(fake.trace("run batctl gw").empty());  // batman's mode was off
  EXPECT_EQ(0, StandInScan::scans);
}

TEST_F(Lonely, TheSearchMovesTheRadioToTheCellAndJoinsThere) {
  vlan = 1;
  fake.write(kGatewayTable, kOneGatewayTable);
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 6)};
  // The gateway answers once the radio is on the cell's channel.
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command != kGatewayPing) return -1;
    return fake.uci["wireless.radio0.channel"] == "6" ? 0 : 1;
  };
  EXPECT_EQ(0, join_mesh());
  EXPECT_EQ((std::vector<unsigned>{30, 30, 20, 20, 10, 10}), fake.sleeps);
  EXPECT_EQ(4u, fake.trace("run " + kGatewayPing).size());
  EXPECT_EQ("6", fake.uci["wireless.radio0.channel"]);
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
  EXPECT_EQ(
      "Found valid Gateway\nFound valid Gateway\nFound valid Gateway\n"
      "Found BSSID on Channel: 6\nConfiguring wireless channel on 6\nRunning Test to check the batman gateway\n"
      "Found valid Gateway\n",
      fake.stdout_text.substr(0, fake.stdout_text.rfind("Found valid Gateway\n") + 20));
  EXPECT_EQ(1, StandInScan::scans);
}

// Whole runs on the node's interfaces as the kernel reports them.
TEST_F(Lonely, WithEthernetUpItEndsAfterTheSettleWithoutLedsOrRadio) {
  kernel.links["eth0"] = FakeLink{};
  vlans(3);
  fake.write(kGatewayTable, kOneGatewayTable);
  EXPECT_EQ(0, run_lonely());
  EXPECT_EQ((std::vector<std::string>{"sleep 10", "sleep 60", "run /etc/init.d/vlan start"}),
            effects({"run", "read", "sleep", "write", "out", "err", "fork", "kill"}));
  EXPECT_EQ("11", fake.uci["wireless.radio0.channel"]);
}

TEST_F(Lonely, WithoutUplinkAGatewayInReachMakesARepeater) {
  kernel.links["eth0"] = FakeLink{.running = false};  // no carrier
  kernel.links["eth1"] = FakeLink{.running = false};
  kernel.links["br-meship"] = FakeLink{.address = "10.3.56.20", .netmask = "255.255.252.0"};
  kernel.routes = {FakeRoute{.destination = "10.3.56.0", .prefix = 22, .ifname = "br-meship"},
                   FakeRoute{.gateway = "10.3.56.1", .ifname = "br-meship"}};
  vlans(4);
  fake.write(kGatewayTable, kOneGatewayTable);
  EXPECT_EQ(0, run_lonely());
  const std::vector<std::string> expected =
      std::vector<std::string>{"sleep 10", "sleep 60", "led red:link1 default-on", "out Found valid Gateway\n",
                               "run " + kGatewayPing} +
      role_switch(1, "") + green_blink(10) + std::vector<std::string>{"led red:link1 none"};
  EXPECT_EQ(expected, effects({"run", "read", "sleep", "write", "out", "err", "fork", "kill"}));
  EXPECT_EQ("nameserver 10.3.56.1", fake.read("/tmp/resolv.conf.auto"));
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
  EXPECT_EQ("11", fake.uci["wireless.radio0.channel"]);
}

// The loop counts its own cycles: the eleventh orders the reboot, and the
// search goes on until the node joins.
TEST_F(Lonely, TheSearchLoopOrdersTheRebootInItsEleventhCycle) {
  vlan = 1;
  bool ordered = false;
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command == "/sbin/do_reboot 30") {
      ordered = true;  // the cell and its gateway turn up after the order
      StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 6)};
      fake.write(kGatewayTable, kOneGatewayTable);
    }
    if (command == kGatewayPing) return ordered ? 0 : 1;
    return -1;
  };
  EXPECT_EQ(0, join_mesh());
  std::vector<std::string> seen = effects({"run", "sleep"});
  auto order = std::find(seen.begin(), seen.end(), "run /sbin/do_reboot 30");
  ASSERT_NE(seen.end(), order);
  // bat_ping's two pauses, then cycles 0 to 9; the order ends cycle 10.
  EXPECT_EQ(12, std::count(seen.begin(), order, "sleep 30"));
  EXPECT_EQ("sleep 30", *(order + 1));
  EXPECT_EQ(1, std::count(seen.begin(), seen.end(), "run /sbin/do_reboot 30"));
  EXPECT_EQ(12, StandInScan::scans);  // cycles 0 to 11
  EXPECT_EQ("6", fake.uci["wireless.radio0.channel"]);
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
}
