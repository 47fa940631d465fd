// Whole lonely runs on the fake host with real interfaces in a network
// namespace. Needs root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lonely/lonely.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"
#include "common/testing/netns.h"

namespace {

const std::vector<std::string> kNodeLinks = {"eth0", "eth1", "bat0", "br-meship"};
const std::vector<std::string> kKinds = {"run", "read", "sleep", "write", "out", "err", "fork", "kill"};

class LonelyNode : public MeshFixture {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_NETNS();
    remove_links(kNodeLinks);
    fake.uci["node.status.id"] = "5";
    fake.uci["wireless.radio0.channel"] = "11";
  }
  void TearDown() override { remove_links(kNodeLinks); }
  void vlans(int count) {
    for (int i = 0; i < count; ++i) fake.write("/proc/net/vlan/bat0." + std::to_string(i), "");
  }
};

}  // namespace

TEST_F(LonelyNode, WithEthernetUpItEndsAfterTheSettleWithoutLedsOrRadio) {
  add_veth("eth0", true);
  vlans(3);
  fake.write(kGatewayTable,
             "header\n=> 02:ca:fe:ca:ca:01 (255) 02:ca:fe:ca:ca:01 [     mesh0]: 41 - 2048kbit/512kbit\n");
  EXPECT_EQ(0, run_lonely());
  EXPECT_EQ((std::vector<std::string>{"sleep 10", "sleep 60", "run /etc/init.d/vlan start"}), effects(kKinds));
  EXPECT_EQ("11", fake.uci["wireless.radio0.channel"]);
}

TEST_F(LonelyNode, WithoutUplinkAGatewayInReachMakesARepeater) {
  add_veth("eth0", false);
  add_veth("eth1", false);
  add_veth("br-meship", true, "", "10.3.56.20/22");
  sh("ip route add default via 10.3.56.1 dev br-meship");
  vlans(4);
  fake.outputs[kBatmanMode] = "off\n";
  fake.write(kGatewayTable,
             "header\n=> 02:ca:fe:ca:ca:01 (255) 02:ca:fe:ca:ca:01 [     mesh0]: 41 - 2048kbit/512kbit\n");
  EXPECT_EQ(0, run_lonely());
  const std::vector<std::string> expected =
      std::vector<std::string>{"sleep 10", "sleep 60", "led red:link1 default-on", "out Found valid Gateway\n",
                               "run /usr/sbin/batctl ping -c 4 02:ca:fe:ca:ca:01 >> /dev/null"} +
      role_switch(1, "") + green_blink(10) + std::vector<std::string>{"led red:link1 none"};
  EXPECT_EQ(expected, effects(kKinds));
  EXPECT_EQ("nameserver 10.3.56.1", fake.read("/tmp/resolv.conf.auto"));
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
  EXPECT_EQ("11", fake.uci["wireless.radio0.channel"]);
}
