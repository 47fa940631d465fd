// The portsense binary on stand-in nodes (tests/stand_in_node.h), one node
// per situation, all running side by side: the program's own pauses (10 s
// VLAN passes, 20 s LED steps, 30 s between gateway readings, 5 s at the end)
// are real, so the slowest run takes about 95 s and the whole test about as
// long. Needs root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/program_paths.h"
#include "common/build_config.h"
#include "tests/stand_in_runs.h"

namespace {

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
const std::string kWaiting = "Waiting for batman to start vlan\n";
const std::string kBatmanMode = "batctl gw | awk '{print $1}'";
const std::string kUdhcpc =
    "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship";
const std::vector<std::string> kBridges = {"ifconfig br-pub `uci get dhcp.pub.ipaddr` netmask 255.255.252.0 up",
                                           "ifconfig br-priv `uci get dhcp.priv.ipaddr` netmask 255.255.252.0 up",
                                           "ifconfig br-meship `uci get dhcp.mesh.ipaddr` netmask 255.255.252.0 up"};
const std::vector<std::string> kMasquerade = {"/usr/sbin/iptables -t nat -F",
                                              "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"};
const std::vector<std::string> kCable = {"ip link add eth0 address 00:1a:2b:3c:4d:5e type veth peer name eth0-peer",
                                         "ip link set eth0 up", "ip link set eth0-peer up"};

// A process the node's mesh DHCP client pid file may name. Like udhcpc it
// lives on after SIGUSR2 (its lease is given up); only SIGKILL ends it.
struct Sleeper {
  pid_t pid = -1;

  void start(const char* name) {
    pid = fork();
    if (pid == 0) {
      // Never outlives the test, and holds none of its output open.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      int null_fd = open("/dev/null", O_RDWR);
      for (int fd = 0; fd < 3; ++fd) dup2(null_fd, fd);
      prctl(PR_SET_NAME, name);
      signal(SIGUSR2, SIG_IGN);
      for (;;) pause();
    }
  }
  // The signal that ended it, or 0 while it lives (then it is ended here).
  int end() {
    if (pid <= 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      pid = -1;
      return 0;
    }
    pid = -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  }
  ~Sleeper() { end(); }
};

struct Runs {
  Sleeper udhcpc;
  Sleeper httpd;
  std::unique_ptr<StandInNode> wired_first_boot;
  std::unique_ptr<StandInNode> repeater_without_cable;
  std::unique_ptr<StandInNode> cable_into_repeater;
  std::unique_ptr<StandInNode> stale_pid_file;
  std::unique_ptr<StandInNode> lost_cable_no_gateway;
};
Runs* g_runs = nullptr;

NodeSetup portsense_node() {
  NodeSetup s;
  s.program = program_path(PORTSENSE, "portsense");
  s.install_as = "/usr/bin/portsense";
  s.lonely_stand_in = true;
  return s;
}

std::map<std::string, std::string> identity() {
  return {{"node.status.id", "5"},          {"node.status.switch", "3"},       {"node.status.nodeid", "17"},
          {"dhcp.pub.ipaddr", "10.3.48.1"}, {"dhcp.priv.ipaddr", "10.3.52.1"}, {"dhcp.mesh.ipaddr", "10.3.56.1"}};
}

class PortsenseRuns : public ::testing::Environment {
 public:
  void SetUp() override {
    g_runs = new Runs;
    g_stand_in_skip = stand_in_nodes_unavailable();
    if (!g_stand_in_skip.empty()) return;
    g_runs->udhcpc.start("udhcpc");
    g_runs->httpd.start("httpd");

    // Wired node on its first boot: no VLANs yet, no identity, batman a
    // gateway client; the forced start on the fourth pass brings the VLANs.
    NodeSetup first = portsense_node();
    first.net = kCable;
    first.uptime = "95.20 80.00\n";
    first.vlans = 0;
    first.vlan_start_creates_vlans = true;
    first.batman_mode = "client";
    first.dashboard = {ServerReply::text(kHead + "#@#Succeed\n"), ServerReply::text(kHead + "#@#5:3:17\n")};
    launch_stand_in(g_runs->wired_first_boot, first);

    NodeSetup repeater = portsense_node();
    repeater.net = kNoCable;
    repeater.mesh_pid_file = std::to_string(g_runs->udhcpc.pid) + "\n";
    repeater.processes = {g_runs->udhcpc.pid};
    repeater.uci = identity();
    launch_stand_in(g_runs->repeater_without_cable, repeater);

    NodeSetup plugged = portsense_node();
    plugged.net = kCable;
    plugged.mesh_pid_file = std::to_string(g_runs->udhcpc.pid) + "\n";
    plugged.processes = {g_runs->udhcpc.pid};
    plugged.batman_mode = "client";
    plugged.uci = identity();
    launch_stand_in(g_runs->cable_into_repeater, plugged);

    // The same, but the pid file is left from a client long gone and its
    // pid now belongs to another program.
    NodeSetup stale = plugged;
    stale.mesh_pid_file = std::to_string(g_runs->httpd.pid) + "\n";
    stale.processes = {g_runs->httpd.pid};
    launch_stand_in(g_runs->stale_pid_file, stale);

    NodeSetup lost = portsense_node();
    lost.net = kNoCable;
    lost.gateway_table = kGatewayHeader + "No gateways in range ...\n";
    lost.uci = identity();
    launch_stand_in(g_runs->lost_cable_no_gateway, lost);
  }
  void TearDown() override {
    delete g_runs;
    g_runs = nullptr;
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new PortsenseRuns);

using PortsenseProgram = StandInProgram;

}  // namespace

TEST_F(PortsenseProgram, WiredNodeOnFirstBootBecomesTheGateway) {
  StandInNode& node = finished(g_runs->wired_first_boot);
  std::cout << "A wired node's first boot, " << node.seconds << " s:\n" << node.transcript();
  EXPECT_EQ(0, node.status);
  const std::vector<std::string> issued =
      std::vector<std::string>{"/etc/init.d/vlan start",  // the forced start on the fourth pass
                               kBatmanMode,
                               "/etc/init.d/dnsmasq stop",
                               "uci get node.status.id",
                               "uci set node.status.id=5",
                               "uci set node.status.switch=3",
                               "uci set node.status.nodeid=17",
                               "uci commit node",
                               "uci set dhcp.pub.ipaddr=10.3.48.1;uci set dhcp.pub.netmask=255.255.252.0",
                               "uci set dhcp.priv.ipaddr=10.3.52.1;uci set dhcp.priv.netmask=255.255.252.0",
                               "uci set dhcp.mesh.ipaddr=10.3.56.1;uci set dhcp.mesh.netmask=255.255.252.0",
                               "uci commit dhcp"} +
      kBridges +
      std::vector<std::string>{"/etc/init.d/dnsmasq start", "batctl gw server", "uci set node.status.mode=gateway",
                               "uci commit node"} +
      kMasquerade;
  EXPECT_EQ(issued, node.issued());
  const std::vector<std::string> calls = {"/etc/init.d/vlan start",
                                          "batctl gw",
                                          "/etc/init.d/dnsmasq stop",
                                          "uci get node.status.id",
                                          "uci set node.status.id=5",
                                          "uci set node.status.switch=3",
                                          "uci set node.status.nodeid=17",
                                          "uci commit node",
                                          "uci set dhcp.pub.ipaddr=10.3.48.1",
                                          "uci set dhcp.pub.netmask=255.255.252.0",
                                          "uci set dhcp.priv.ipaddr=10.3.52.1",
                                          "uci set dhcp.priv.netmask=255.255.252.0",
                                          "uci set dhcp.mesh.ipaddr=10.3.56.1",
                                          "uci set dhcp.mesh.netmask=255.255.252.0",
                                          "uci commit dhcp",
                                          "uci get dhcp.pub.ipaddr",
                                          "ifconfig br-pub 10.3.48.1 netmask 255.255.252.0 up",
                                          "uci get dhcp.priv.ipaddr",
                                          "ifconfig br-priv 10.3.52.1 netmask 255.255.252.0 up",
                                          "uci get dhcp.mesh.ipaddr",
                                          "ifconfig br-meship 10.3.56.1 netmask 255.255.252.0 up",
                                          "/etc/init.d/dnsmasq start",
                                          "batctl gw server",
                                          "uci set node.status.mode=gateway",
                                          "uci commit node",
                                          "/usr/sbin/iptables -t nat -F",
                                          "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"};
  EXPECT_EQ(calls, node.calls());
  EXPECT_EQ(kWaiting + kWaiting + kWaiting + kWaiting + kWaiting + "Check Internet Connectivity\n" +
                "Failed to get the output\n",
            node.out);
  EXPECT_EQ("uci: Entry not found\n", node.err);
  // The Internet check, then the identity asked with eth0's MAC in base64.
  const std::string framing = std::string(" HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                              "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n";
  EXPECT_EQ("POST /serverping.php?fw=QX" + framing, node.dashboard()->request(0));
  EXPECT_EQ("POST /nodeid.php?hw=QX&mac=MDA6MUE6MkI6M0M6NEQ6NUU=" + framing, node.dashboard()->request(1));
  EXPECT_EQ(2u, node.dashboard()->connections());
  EXPECT_EQ("5", node.uci("node.status.id"));
  EXPECT_EQ("255.255.252.0", node.uci("dhcp.mesh.netmask"));
  EXPECT_EQ("gateway", node.uci("node.status.mode"));
  EXPECT_EQ("server\n", node.file("/standin/batman_mode"));
  EXPECT_EQ("none", led(node, "red:link1"));
  EXPECT_EQ("timer", led(node, "green:link3"));
  EXPECT_EQ("1500", led(node, "green:link4", "delay_off"));
  // Five 10 s passes, two 20 s LED steps, the 5 s pause.
  EXPECT_GE(node.seconds, 95.0);
  EXPECT_LT(node.seconds, 110.0);
}

TEST_F(PortsenseProgram, RepeaterWithoutCableChangesNothing) {
  StandInNode& node = finished(g_runs->repeater_without_cable);
  EXPECT_EQ(0, node.status);
  EXPECT_EQ("", node.out);
  EXPECT_EQ("", node.err);
  EXPECT_TRUE(node.issued().empty());
  EXPECT_TRUE(node.calls().empty());
  EXPECT_EQ("none", led(node, "red:link1"));
  EXPECT_GE(node.seconds, 5.0);
  EXPECT_LT(node.seconds, 15.0);
}

TEST_F(PortsenseProgram, CablePluggedIntoARepeaterMakesItTheGateway) {
  StandInNode& node = finished(g_runs->cable_into_repeater);
  EXPECT_EQ(0, node.status);
  const std::vector<std::string> issued =
      std::vector<std::string>{"/etc/init.d/vlan stop",    "/etc/init.d/network restart",
                               "/etc/init.d/vlan start",   kBatmanMode,
                               "/etc/init.d/dnsmasq stop", "uci get node.status.id"} +
      kBridges +
      std::vector<std::string>{"/etc/init.d/dnsmasq start", "batctl gw server", "uci set node.status.mode=gateway",
                               "uci commit node"} +
      kMasquerade;
  EXPECT_EQ(issued, node.issued());
  EXPECT_EQ("Link detected on ethernet port\n", node.out);
  EXPECT_EQ("", node.err);
  // The mesh DHCP client was ended; its pid file is gone.
  EXPECT_EQ(SIGKILL, g_runs->udhcpc.end());
  EXPECT_EQ("", node.file("/run/udhcpc-br-meship.pid"));
  EXPECT_EQ("gateway", node.uci("node.status.mode"));
  EXPECT_EQ("none", led(node, "red:link1"));
  EXPECT_EQ("timer", led(node, "green:link4"));
  EXPECT_GE(node.seconds, 65.0);
  EXPECT_LT(node.seconds, 80.0);
}

TEST_F(PortsenseProgram, AStalePidFileNeverEndsAnotherProgram) {
  StandInNode& node = finished(g_runs->stale_pid_file);
  EXPECT_EQ(0, node.status);
  EXPECT_EQ(0, g_runs->httpd.end());  // still alive after the run
  EXPECT_EQ("", node.file("/run/udhcpc-br-meship.pid"));
  EXPECT_EQ("gateway", node.uci("node.status.mode"));
}

TEST_F(PortsenseProgram, NoCableAndNoGatewayStartsLonely) {
  StandInNode& node = finished(g_runs->lost_cable_no_gateway);
  EXPECT_EQ(0, node.status);
  EXPECT_EQ((std::vector<std::string>{"/usr/bin/lonely &"}), node.issued());
  EXPECT_EQ((std::vector<std::string>{"/usr/bin/lonely"}), node.calls());
  const std::string none = "Couldn't found valid gateway\n";
  ASSERT_EQ(0u, node.out.find(none + none + none + none + "Lonely pid:")) << node.out;
  int child = atoi(node.out.c_str() + (none.size() * 4 + 11));
  EXPECT_GT(child, 0);
  EXPECT_EQ(none + none + none + none + "Lonely pid:" + std::to_string(child) + "\n", node.out);
  EXPECT_EQ("", node.err);
  // Red on and green off, for lonely to take over.
  EXPECT_EQ("default-on", led(node, "red:link1"));
  EXPECT_EQ("none", led(node, "green:link3"));
  EXPECT_EQ("", node.uci("node.status.mode"));
  // Four readings, 30 s apart, then the 5 s pause.
  EXPECT_GE(node.seconds, 95.0);
  EXPECT_LT(node.seconds, 110.0);
}
