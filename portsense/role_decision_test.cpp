#include "portsense/role_decision.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

const std::string kNoGateways =
    "      Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth ...\n"
    "No gateways in range ...\n";
const std::vector<std::string> kKinds = {"run", "read", "sleep", "write", "out", "fork"};

const std::vector<std::string> kRedOn = {"led red:link1 default-on"};
const std::vector<std::string> kRedOff = {"led red:link1 none"};
const std::vector<std::string> kGreenOff = {"led green:link3 none", "led green:link4 none"};
const std::vector<std::string> kRestartNetwork = {"run /etc/init.d/vlan stop", "run /etc/init.d/network restart",
                                                  "run /etc/init.d/vlan start", "sleep 20"};

class RoleDecision : public MeshFixture {
 protected:
  RoleDecision() {
    use(kPortsenseProfile);
    fake.uci["node.status.id"] = "5";
    fake.outputs[kBatmanMode] = "client\n";
  }
  std::vector<std::string> decide(int link, int client) {
    elink = link;
    mesh = client;
    EXPECT_EQ(1, settle_role());
    return effects(kKinds);
  }
};

}  // namespace

TEST_F(RoleDecision, WiredNodeWithInternetStaysGateway) {
  ScriptedServer dashboard;
  ASSERT_EQ("", dashboard.error());
  dashboard_link().port = dashboard.port();
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#Succeed\n"));
  EXPECT_EQ((kRedOn + std::vector<std::string>{"out Check Internet Connectivity\n"} +
             role_switch(0, "batctl gw server") + green_blink(20) + kRedOff),
            decide(1, 0));
  EXPECT_EQ(1u, dashboard.connections());
  EXPECT_EQ("gateway", fake.uci["node.status.mode"]);
}

TEST_F(RoleDecision, WiredNodeWithoutInternetKeepsItsRoleButSettlesTheLeds) {
  fake.uci["node.status.mode"] = "repeater";
  EXPECT_EQ((kRedOn +
             std::vector<std::string>{"out Check Internet Connectivity\n", "out Failed to connect to auth server\n"} +
             green_blink(20) + kRedOff),
            decide(1, 0));
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
}

TEST_F(RoleDecision, CablePluggedIntoARepeaterMakesItTheGateway) {
  fake.outputs[kBatmanMode] = "client\n";
  fake.write("/var/run/udhcpc-br-meship.pid", "2345\n");
  fake.add_process(2345, "udhcpc", 'S');
  EXPECT_EQ((kGreenOff + kRedOn + std::vector<std::string>{"out Link detected on ethernet port\n"} + kRestartNetwork +
             role_switch(0, "batctl gw server") + green_blink(20) + kRedOff),
            decide(1, 1));
  EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{2345, SIGUSR2}, {2345, SIGKILL}}), fake.kills);
  EXPECT_FALSE(fake.exists("/var/run/udhcpc-br-meship.pid"));
  EXPECT_EQ("gateway", fake.uci["node.status.mode"]);
}

TEST_F(RoleDecision, RepeaterWithoutCableIsLeftAlone) {
  EXPECT_EQ((std::vector<std::string>{}), decide(0, 1));
  EXPECT_TRUE(fake.events.empty());
}

TEST_F(RoleDecision, NoCableNoClientButAGatewayMakesARepeater) {
  fake.write(kGatewayTable, kOneGatewayTable);
  fake.outputs[kBatmanMode] = "server\n";
  EXPECT_EQ((kGreenOff + kRedOn + std::vector<std::string>{"out Found valid Gateway\n", "run " + kGatewayPing} +
             kRestartNetwork + role_switch(1, "batctl gw client") + green_blink(20) + kRedOff),
            decide(0, 0));
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
}

TEST_F(RoleDecision, NoGatewayAfterFourReadingsStartsLonely) {
  fake.write(kGatewayTable, kNoGateways);
  const std::string none = "out Couldn't found valid gateway\n";
  const std::vector<std::string> readings = {none, "sleep 30", none, "sleep 30", none, "sleep 30", none};
  fake.fork_results = {3131};
  EXPECT_EQ((kGreenOff + kRedOn + readings + std::vector<std::string>{"fork", "out Lonely pid:3131\n"}), decide(0, 0));

  // The child starts lonely in the background and says nothing.
  FakeHost child;
  ScopedHost scope(child);
  child.write(kGatewayTable, kNoGateways);
  child.fork_results = {0};
  elink = mesh = 0;
  EXPECT_EQ(1, settle_role());
  EXPECT_EQ((std::vector<std::string>{"/usr/bin/lonely &"}), child.commands);
  std::string four;
  for (int i = 0; i < 4; ++i) four += none.substr(4);
  EXPECT_EQ(four, child.stdout_text);

  // A failed fork is silent.
  FakeHost no_fork;
  ScopedHost scope2(no_fork);
  no_fork.fork_results = {-1};
  EXPECT_EQ(1, settle_role());
  EXPECT_TRUE(no_fork.commands.empty());
  EXPECT_EQ(std::vector<std::string>{"fork"}, no_fork.trace("fork"));
  EXPECT_EQ(std::string::npos, no_fork.stdout_text.find("Lonely pid"));
}
