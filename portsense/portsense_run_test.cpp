// Whole portsense runs on the fake host (commands, files and pauses recorded)
// and the fake kernel, whose interfaces and routes the link, bat0 and
// default-route probes see.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"
#include "portsense/portsense.h"
#include "portsense/vlan_wait.h"

namespace {

const std::vector<std::string> kKinds = {"run", "read", "sleep", "write", "out", "err", "fork", "kill"};
const std::string kWaiting = "out Waiting for batman to start vlan\n";

class PortsenseNode : public MeshFixture {
 protected:
  void SetUp() override {
    use(kPortsenseProfile);
    vlan_wait_counter = 0;
  }
  void create_vlans() {
    for (int i = 0; i < 4; ++i) fake.write("/proc/net/vlan/bat0." + std::to_string(i), "");
  }
  // eth0 and eth1 exist but have no cable.
  void no_cable() {
    kernel.links["eth0"] = FakeLink{.running = false};
    kernel.links["eth1"] = FakeLink{.running = false};
  }
};

}  // namespace

TEST_F(PortsenseNode, WiredNodeOnFirstBoot) {
  // Just booted: no VLANs yet, no identity, batman still a gateway client.
  kernel.links["eth0"] = FakeLink{.mac = "00:1a:2b:3c:4d:5e"};
  fake.write("/proc/uptime", "95.20 80.00\n");
  fake.outputs[kBatmanMode] = "client\n";
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command == "/etc/init.d/vlan start") create_vlans();
    return -1;
  };
  ScriptedServer dashboard;
  ASSERT_EQ("", dashboard.error());
  dashboard_link().port = dashboard.port();
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#Succeed\n"));
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#5:3:17\n"));

  EXPECT_EQ(0, run_portsense());

  const std::vector<std::string> expected = {
      kWaiting,
      "sleep 10",
      kWaiting,
      "sleep 10",
      kWaiting,
      "sleep 10",
      kWaiting,
      "sleep 10",
      "run /etc/init.d/vlan start",  // the forced start on the fourth pass
      kWaiting,
      "sleep 10",
      "led red:link1 default-on",
      "out Check Internet Connectivity\n",
      "read " + kBatmanMode,
      "run /etc/init.d/dnsmasq stop",
      "read uci get node.status.id",
      "out Failed to get the output\n",
      "run uci set node.status.id=5",
      "run uci set node.status.switch=3",
      "run uci set node.status.nodeid=17",
      "run uci commit node",
      "run uci set dhcp.pub.ipaddr=10.3.48.1;uci set dhcp.pub.netmask=255.255.252.0",
      "run uci set dhcp.priv.ipaddr=10.3.52.1;uci set dhcp.priv.netmask=255.255.252.0",
      "run uci set dhcp.mesh.ipaddr=10.3.56.1;uci set dhcp.mesh.netmask=255.255.252.0",
      "run uci commit dhcp",
      "run " + kIfconfigPub,
      "run " + kIfconfigPriv,
      "run " + kIfconfigMesh,
      "run /etc/init.d/dnsmasq start",
      "run batctl gw server",
      "run uci set node.status.mode=gateway",
      "run uci commit node",
      "run " + kMasquerade[0],
      "run " + kMasquerade[1],
      "led green:link3 timer",
      "sleep 20",
      "led green:link3 delay_off 1500",
      "led green:link4 timer",
      "sleep 20",
      "led green:link4 delay_off 1500",
      "led red:link1 none",
      "sleep 5",
  };
  EXPECT_EQ(expected, effects(kKinds));
  const std::string framing = std::string(" HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                              "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n";
  EXPECT_EQ("POST /serverping.php?fw=QX" + framing, dashboard.request(0));
  EXPECT_EQ("POST /nodeid.php?hw=QX&mac=MDA6MUE6MkI6M0M6NEQ6NUU=" + framing, dashboard.request(1));
  EXPECT_EQ(2u, dashboard.connections());
  EXPECT_EQ("10.3.56.1", fake.uci["dhcp.mesh.ipaddr"]);
  EXPECT_EQ("gateway", fake.uci["node.status.mode"]);
}

TEST_F(PortsenseNode, AfterSixMinutesTheNodeStartsTheVlansOnceBat0Exists) {
  no_cable();
  kernel.links["bat0"] = FakeLink{.up = false};
  fake.write("/proc/uptime", "400.00 80.00\n");
  fake.write("/var/run/udhcpc-br-meship.pid", "77\n");
  int starts = 0;
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command != "/etc/init.d/vlan start") return -1;
    if (++starts < 3) return 1;  // the script fails twice
    create_vlans();
    return 0;
  };
  EXPECT_EQ(0, run_portsense());
  const std::vector<std::string> expected = {
      kWaiting,
      "run /etc/init.d/vlan start",
      "out vlan configuratio failed\n",
      "sleep 10",
      kWaiting,
      "run /etc/init.d/vlan start",
      "out vlan configuratio failed\n",
      "sleep 10",
      kWaiting,
      "run /etc/init.d/vlan start",
      "out vlan configuration completed\n",
      "sleep 10",
      kWaiting,
      "sleep 10",
      "run /etc/init.d/vlan start",  // the fourth pass starts them regardless
      "sleep 5",                     // a repeater without cable: nothing else
  };
  EXPECT_EQ(expected, effects(kKinds));
}

TEST_F(PortsenseNode, RepeaterWithoutCablePrintsAndChangesNothing) {
  no_cable();
  fake.write("/proc/uptime", "4000.00 80.00\n");
  fake.write("/var/run/udhcpc-br-meship.pid", "77\n");
  create_vlans();
  EXPECT_EQ(0, run_portsense());
  EXPECT_EQ((std::vector<std::string>{"sleep 5"}), effects(kKinds));
  EXPECT_EQ("", fake.stdout_text);
}

TEST_F(PortsenseNode, LostCableWithAGatewayInReachMakesARepeater) {
  no_cable();
  // The mesh bridge's DHCP lease: the gateway is the default route.
  kernel.links["br-meship"] = FakeLink{.address = "10.3.56.20", .netmask = "255.255.252.0"};
  kernel.routes = {FakeRoute{.destination = "10.3.56.0", .prefix = 22, .ifname = "br-meship"},
                   FakeRoute{.gateway = "10.3.56.1", .ifname = "br-meship"}};
  fake.write("/proc/uptime", "4000.00 80.00\n");
  fake.uci["node.status.id"] = "6";
  fake.outputs[kBatmanMode] = "server\n";
  fake.write(kGatewayTable,
             "      Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth ...\n"
             "=> 02:ca:fe:ca:ca:01 (255) 02:ca:fe:ca:ca:01 [     mesh0]: 41 - 2048kbit/512kbit\n");
  create_vlans();
  EXPECT_EQ(0, run_portsense());
  const std::vector<std::string> expected =
      std::vector<std::string>{"led green:link3 none",
                               "led green:link4 none",
                               "led red:link1 default-on",
                               "out Found valid Gateway\n",
                               "run /usr/sbin/batctl ping -c 4 02:ca:fe:ca:ca:01 >> /dev/null",
                               "run /etc/init.d/vlan stop",
                               "run /etc/init.d/network restart",
                               "run /etc/init.d/vlan start",
                               "sleep 20"} +
      role_switch(1, "batctl gw client") + green_blink(20) + std::vector<std::string>{"led red:link1 none", "sleep 5"};
  EXPECT_EQ(expected, effects(kKinds));
  EXPECT_EQ("nameserver 10.3.56.1", fake.read("/tmp/resolv.conf.auto"));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Found valid Gateway\n10.3.56.1\n"));
  EXPECT_EQ("repeater", fake.uci["node.status.mode"]);
}
