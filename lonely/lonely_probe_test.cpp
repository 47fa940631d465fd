// Whole lonely runs on the fake host with real interfaces in a network
// namespace. Needs root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lonely/lonely.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"
#include "mesh/testing/node_namespace.h"

namespace {

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new NodeNamespace);

const std::vector<std::string> kKinds = {"run", "read", "sleep", "write", "out", "err", "fork", "kill"};

class LonelyNode : public MeshFixture {
 protected:
  void SetUp() override {
    if (!NodeNamespace::skip_reason().empty()) GTEST_SKIP() << NodeNamespace::skip_reason();
    remove_node_interfaces();
    fake.uci["node.status.id"] = "5";
    fake.uci["wireless.radio0.channel"] = "11";
  }
  void TearDown() override { remove_node_interfaces(); }
  void vlans(int count) {
    for (int i = 0; i < count; ++i) fake.write("/proc/net/vlan/bat0." + std::to_string(i), "");
  }
};

}  // namespace

TEST_F(LonelyNode, WithEthernetUpItEndsAfterTheSettleWithoutLedsOrRadio) {
  sh("ip link add eth0 type veth peer name eth0-peer && ip link set eth0 up && ip link set eth0-peer up");
  vlans(3);
  fake.write(kGatewayTable,
             "header\n=> 02:ca:fe:ca:ca:01 (255) 02:ca:fe:ca:ca:01 [     mesh0]: 41 - 2048kbit/512kbit\n");
  EXPECT_EQ(0, run_lonely());
  EXPECT_EQ((std::vector<std::string>{"sleep 10", "sleep 60", "run /etc/init.d/vlan start"}), effects(kKinds));
  EXPECT_EQ("11", fake.uci["wireless.radio0.channel"]);
}

TEST_F(LonelyNode, WithoutUplinkAGatewayInReachMakesARepeater) {
  sh("ip link add eth0 type veth peer name eth0-peer && ip link set eth0 up");  // no carrier
  sh("ip link add eth1 type veth peer name eth1-peer && ip link set eth1 up");
  sh("ip link add br-meship type veth peer name br-meship-peer && ip link set br-meship up");
  sh("ip link set br-meship-peer up && ip addr add 10.3.56.20/22 dev br-meship");
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
