// The lonely binary on stand-in nodes (tests/stand_in_node.h), all running
// side by side. lonely always settles for 70 s first (10 s, the probes, 60 s)
// and a node that joins the mesh blinks its green LEDs for 2 x 10 s, so the
// slowest run takes about 90 s and the whole test about as long. The search
// cycles need a radio and end only after eleven 30 s cycles; the unit and
// probe tests cover them. Needs root.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/program_paths.h"
#include "tests/stand_in_runs.h"

namespace {

const std::string kGatewayTable =
    kGatewayHeader + "=> 02:ca:fe:ca:ca:01 (255) 02:ca:fe:ca:ca:01 [     mesh0]: 41 - 2048kbit/512kbit\n";

struct Runs {
  std::unique_ptr<StandInNode> wired;
  std::unique_ptr<StandInNode> mesh_client;
  std::unique_ptr<StandInNode> gateway_in_reach;
};
Runs* g_runs = nullptr;

NodeSetup lonely_node() {
  NodeSetup s;
  s.program = program_path(LONELY, "lonely");
  s.install_as = "/usr/bin/lonely";
  s.uci = {{"node.status.id", "5"},           {"node.status.switch", "3"},       {"dhcp.pub.ipaddr", "10.3.48.1"},
           {"dhcp.priv.ipaddr", "10.3.52.1"}, {"dhcp.mesh.ipaddr", "10.3.56.1"}, {"wireless.radio0.channel", "11"}};
  s.gateway_table = kGatewayTable;
  s.answering = {"02:ca:fe:ca:ca:01"};
  return s;
}

class LonelyRuns : public ::testing::Environment {
 public:
  void SetUp() override {
    g_runs = new Runs;
    g_stand_in_skip = stand_in_nodes_unavailable();
    if (!g_stand_in_skip.empty()) return;

    // eth0 up, and only bat0.0 to bat0.2.
    NodeSetup wired = lonely_node();
    wired.net = {"ip link add eth0 type veth peer name eth0-peer", "ip link set eth0 up", "ip link set eth0-peer up"};
    wired.vlans = 3;
    launch_stand_in(g_runs->wired, wired);

    NodeSetup client = lonely_node();
    client.net = kNoCable;
    client.mesh_pid_file = "4321\n";
    launch_stand_in(g_runs->mesh_client, client);

    // No uplink, no mesh client, and a gateway that answers; the mesh bridge
    // has a default route as its DHCP lease gives it.
    NodeSetup reach = lonely_node();
    reach.net = kNoCable + std::vector<std::string>{"ip link add br-meship type veth peer name br-meship-peer",
                                                    "ip link set br-meship up", "ip link set br-meship-peer up",
                                                    "ip addr add 10.3.56.20/22 dev br-meship",
                                                    "ip route add default via 10.3.56.1 dev br-meship"};
    reach.batman_mode = "server";
    launch_stand_in(g_runs->gateway_in_reach, reach);
  }
  void TearDown() override {
    delete g_runs;
    g_runs = nullptr;
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new LonelyRuns);

class LonelyProgram : public StandInProgram {
 protected:
  static void expect_leds_untouched(StandInNode& node) {
    for (const char* name : {"orange:link2", "red:link1", "green:link3", "green:link4"}) {
      EXPECT_EQ("none", led(node, name)) << name;
      EXPECT_EQ("", led(node, name, "delay_off")) << name;
    }
  }
};

}  // namespace

// A wired node starts its missing VLANs and a mesh client's node does
// nothing; both end after the settle with the LEDs and the radio untouched.
TEST_F(LonelyProgram, WiredNodesAndMeshClientsEndAfterTheSettle) {
  struct Case {
    const char* name;
    std::unique_ptr<StandInNode>* node;
    std::vector<std::string> commands;
  };
  for (const Case& c :
       {Case{"wired", &g_runs->wired, {"/etc/init.d/vlan start"}}, Case{"mesh client", &g_runs->mesh_client, {}}}) {
    SCOPED_TRACE(c.name);
    StandInNode& node = finished(*c.node);
    EXPECT_EQ(0, node.status);
    EXPECT_EQ(c.commands, node.issued());
    EXPECT_EQ(c.commands, node.calls());
    EXPECT_EQ("", node.out);
    EXPECT_EQ("", node.err);
    expect_leds_untouched(node);
    EXPECT_EQ("11", node.uci("wireless.radio0.channel"));
    EXPECT_GE(node.seconds, 70.0);
    EXPECT_LT(node.seconds, 80.0);
  }
  EXPECT_EQ("4321\n", g_runs->mesh_client->file("/run/udhcpc-br-meship.pid"));
}

TEST_F(LonelyProgram, AGatewayInReachMakesTheNodeARepeater) {
  StandInNode& node = finished(g_runs->gateway_in_reach);
  EXPECT_EQ(0, node.status);
  const std::vector<std::string> issued = {
      "/usr/sbin/batctl ping -c 4 02:ca:fe:ca:ca:01 >> /dev/null",
      "batctl gw | awk '{print $1}'",
      "/etc/init.d/dnsmasq stop",
      "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship",
      "uci get node.status.id",
      "ifconfig br-pub `uci get dhcp.pub.ipaddr` netmask 255.255.252.0 up",
      "ifconfig br-priv `uci get dhcp.priv.ipaddr` netmask 255.255.252.0 up",
      "/etc/init.d/dnsmasq start",
      "batctl gw client",
      "uci set node.status.mode=repeater",
      "uci commit node",
      "/usr/sbin/iptables -t nat -F",
      "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"};
  EXPECT_EQ(issued, node.issued());
  const std::vector<std::string> calls = {
      "batctl ping -c 4 02:ca:fe:ca:ca:01",
      "batctl gw",
      "/etc/init.d/dnsmasq stop",
      "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship",
      "uci get node.status.id",
      "uci get dhcp.pub.ipaddr",
      "ifconfig br-pub 10.3.48.1 netmask 255.255.252.0 up",
      "uci get dhcp.priv.ipaddr",
      "ifconfig br-priv 10.3.52.1 netmask 255.255.252.0 up",
      "/etc/init.d/dnsmasq start",
      "batctl gw client",
      "uci set node.status.mode=repeater",
      "uci commit node",
      "/usr/sbin/iptables -t nat -F",
      "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"};
  EXPECT_EQ(calls, node.calls());
  EXPECT_EQ("Found valid Gateway\n10.3.56.1\n", node.out);
  EXPECT_EQ("", node.err);
  EXPECT_EQ("nameserver 10.3.56.1", node.file("/tmp/resolv.conf.auto"));
  EXPECT_EQ("repeater", node.uci("node.status.mode"));
  EXPECT_EQ("client\n", node.file("/standin/batman_mode"));
  EXPECT_EQ("11", node.uci("wireless.radio0.channel"));
  EXPECT_EQ("none", led(node, "red:link1"));
  EXPECT_EQ("timer", led(node, "green:link3"));
  EXPECT_EQ("1500", led(node, "green:link4", "delay_off"));
  // The settle, then two 10 s LED steps.
  EXPECT_GE(node.seconds, 90.0);
  EXPECT_LT(node.seconds, 100.0);
}
