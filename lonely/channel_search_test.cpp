#include "lonely/channel_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lonely/testing/stand_in_scan.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

class ChannelSearch : public MeshFixture {
 protected:
  ChannelSearch() {
    StandInScan::reset();
    kernel.scan_backends["mesh0"] = &StandInScan::ops;
    fake.uci["node.status.id"] = "5";
    fake.uci["wireless.radio0.channel"] = "11";
    fake.outputs[kBatmanMode] = "server\n";
  }
};

// What try_channel does on the node until its gateway check.
std::vector<std::string> channel_change(int channel) {
  std::string c = std::to_string(channel);
  return {"out Configuring wireless channel on " + c + "\n",
          "run uci set wireless.radio0.channel=" + c,
          "run uci commit wireless",
          "run /etc/init.d/vlan stop",
          "run /etc/init.d/network restart",
          "sleep 20",
          "run /etc/init.d/vlan start",
          "sleep 20",
          "out Running Test to check the batman gateway\n"};
}

// The repeater role and the LEDs of a node that joined the mesh (lonely's
// ten-second blink pauses).
std::vector<std::string> joined_as_repeater() {
  return role_switch(1, "batctl gw client") + green_blink(10) + std::vector<std::string>{"led red:link1 none"};
}

const std::vector<std::string> kKinds = {"run", "read", "sleep", "write", "out"};

}  // namespace

TEST_F(ChannelSearch, ChannelWithAGatewayMakesTheNodeARepeater) {
  fake.write(kGatewayTable, kOneGatewayTable);
  EXPECT_EQ(0, try_channel(6));
  EXPECT_EQ((channel_change(6) + std::vector<std::string>{"out Found valid Gateway\n", "run " + kGatewayPing} +
             joined_as_repeater()),
            effects(kKinds));
  EXPECT_EQ("6", fake.uci["wireless.radio0.channel"]);
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
}

TEST_F(ChannelSearch, ChannelWithoutAGatewayStaysSet) {
  EXPECT_EQ(1, try_channel(6));
  EXPECT_EQ((channel_change(6) +
             std::vector<std::string>{"sleep 30", "sleep 30", "out try_channel: Unable to find the gateway\n"}),
            effects(kKinds));
  EXPECT_EQ("6", fake.uci["wireless.radio0.channel"]);
  EXPECT_EQ(0u, fake.uci.count("node.status.mode"));
}

TEST_F(ChannelSearch, CellOnAnotherChannelIsTriedAtOnce) {
  fake.write(kGatewayTable, kOneGatewayTable);
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 6)};
  EXPECT_EQ(0, search_cycle(0));
  std::vector<std::string> seen = effects(kKinds);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{"read uci get wireless.radio0.channel", "out Found BSSID on Channel: 6\n",
                                      "out Configuring wireless channel on 6\n"}),
            std::vector<std::string>(seen.begin(), seen.begin() + 3));
  EXPECT_EQ("6", fake.uci["wireless.radio0.channel"]);
  EXPECT_EQ(0u, fake.trace("sleep 30").size());
}

TEST_F(ChannelSearch, CellOnlyOnTheCurrentChannelEndsTheCycleUnchanged) {
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 11)};
  EXPECT_EQ(1, search_cycle(0));
  EXPECT_EQ((std::vector<std::string>{"read uci get wireless.radio0.channel", "sleep 30"}), effects(kKinds));
}

TEST_F(ChannelSearch, AFailedChannelIsTheCurrentOneOfTheNextCycle) {
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 6)};
  EXPECT_EQ(1, search_cycle(0));
  EXPECT_EQ("6", fake.uci["wireless.radio0.channel"]);
  fake.events.clear();
  EXPECT_EQ(1, search_cycle(1));
  EXPECT_EQ((std::vector<std::string>{"read uci get wireless.radio0.channel", "sleep 30"}), effects(kKinds));
}

TEST_F(ChannelSearch, AutoChannelCountsAsNone) {
  fake.uci["wireless.radio0.channel"] = "auto";
  fake.write(kGatewayTable, kOneGatewayTable);
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 11)};
  EXPECT_EQ(0, search_cycle(0));
  EXPECT_EQ("11", fake.uci["wireless.radio0.channel"]);
}

TEST_F(ChannelSearch, TheEleventhCycleOrdersTheRebootOnce) {
  StandInScan::records = {cell(kCell, "mesh", kModeAdHoc, 11)};
  for (int cycle = 0; cycle < 14; ++cycle) {
    SCOPED_TRACE(cycle);
    EXPECT_EQ(1, search_cycle(cycle));
    size_t reboots = fake.trace("run /sbin/do_reboot").size();
    EXPECT_EQ(cycle < 10 ? 0u : 1u, reboots);
  }
  EXPECT_EQ((std::vector<std::string>{"run /sbin/do_reboot 30"}), fake.trace("run /sbin/do_reboot"));
  EXPECT_EQ("Maximum count exceed - Rebooting node\n", fake.stdout_text);
  EXPECT_EQ(std::vector<unsigned>(14, 30), fake.sleeps);
  // The order ends the cycle it is ordered in: scan first, then the order, then the pause.
  std::vector<std::string> seen = effects(kKinds);
  auto order = std::find(seen.begin(), seen.end(), "run /sbin/do_reboot 30");
  ASSERT_NE(seen.end(), order);
  EXPECT_EQ("out Maximum count exceed - Rebooting node\n", *(order - 1));
  EXPECT_EQ("sleep 30", *(order + 1));
  EXPECT_EQ(11, StandInScan::scans - 3);  // 14 scans, the order after the eleventh
}

TEST_F(ChannelSearch, AMissingOrFailingRebootScriptFallsBackToReboot) {
  for (int status : {127 << 8, 1 << 8}) {  // missing, failing
    SCOPED_TRACE(status);
    fake.events.clear();
    fake.on_command = [&](const std::string& command, std::string&) {
      return command == "/sbin/do_reboot 30" ? status : -1;
    };
    EXPECT_EQ(1, search_cycle(10));
    std::vector<std::string> seen = effects({"run", "out"});
    EXPECT_EQ((std::vector<std::string>{"out Maximum count exceed - Rebooting node\n", "run /sbin/do_reboot 30",
                                        "out /sbin/do_reboot 30 missing or failed: rebooting with /sbin/reboot\n",
                                        "run /sbin/reboot"}),
              std::vector<std::string>(seen.end() - 4, seen.end()));
  }
}

TEST_F(ChannelSearch, ScansThatFailCountAsCyclesWithoutResult) {
  kernel.scan_backends.clear();  // mesh0 has no nl80211 radio: every scan fails
  for (int cycle = 0; cycle <= 10; ++cycle) EXPECT_EQ(1, search_cycle(cycle));
  EXPECT_EQ(1u, fake.trace("run /sbin/do_reboot 30").size());
  EXPECT_EQ(11u, fake.trace("err No such wireless device: mesh0\n").size());
}
