// Whole check-ins whose interface probes succeed: a network namespace of
// this test's own holds veth interfaces named as on the node (eth0, bat0.2,
// br-lan, br-meship, mesh0) and a default route; the dashboard is the
// scripted server on the namespace's loopback. Needs root.
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/netif.h"
#include "common/route.h"
#include "common/testing/netns.h"
#include "common/testing/http_server.h"
#include "controller/checkin_fixture.h"

using checkin_test::config_reply;
using checkin_test::parse_request;

namespace {

const char kGwModeCommand[] = "batctl gw | awk '{print $1}'";

// The check-in fixture's node, with interfaces the probes can read.
class CheckinProbes : public Checkin {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_NETNS();
    Checkin::SetUp();
    if (HasFatalFailure()) return;
    remove_links({"eth0", "bat0.2", "br-lan", "br-meship", "mesh0"});
    add_veth("eth0", true, "00:1a:2b:3c:4d:5e", "192.168.1.20/24");
    add_veth("bat0.2", true, "02:00:00:00:02:02", "10.2.0.5/22");
    add_veth("br-lan", true, "02:00:00:00:03:03", "192.168.10.1/24");
    add_veth("br-meship", true, "02:00:00:00:04:04", "10.3.0.7/22");
    add_veth("mesh0", true, "02:00:00:00:00:0a");
    sh("ip route add default via 192.168.1.1 dev eth0");
    server.script(ServerReply::text(config_reply("")));
  }

  // One check-in, from a clean trace; its request.
  checkin_test::CheckinRequest checkin() {
    fake.events.clear();
    fake.commands.clear();
    fake.logs.clear();
    fake.stdout_text.clear();
    size_t before = server.connections();
    EXPECT_EQ(0, send_checkin(identity));
    return parse_request(server.request(before));
  }
  // What the check-in did after the reply: the commands from the gateway
  // mode read on.
  std::vector<std::string> uplink_commands() const {
    auto at = std::find(fake.commands.begin(), fake.commands.end(), kGwModeCommand);
    return at == fake.commands.end() ? std::vector<std::string>{"<no gateway mode read>"}
                                     : std::vector<std::string>(at, fake.commands.end());
  }
  bool logged(const std::string& text) const { return Checkin::logged(LOG_DEBUG, text); }
};

}  // namespace

TEST_F(CheckinProbes, GatewayReportsItsInterfacesAndKeepsItsRoleWithACable) {
  fake.outputs[kGwModeCommand] = "server\n";
  checkin_test::CheckinRequest r = checkin();
  const std::string query =
      "hw=FLX-1&ip=10.2.0.5&lan=192.168.10.1&mesh=02:00:00:00:00:0A&robin=2.4.1&memfree=12345&ssid=Office"
      "&pssid=Guest&RR=1&uptime=1:02:05&load=0.25&role=G&gateway=192.168.1.1&gw-qual=255&NTR=100&nbs=&rssi=&hop=0";
  EXPECT_EQ(query, r.query);
  EXPECT_EQ(checkin_test::frame("/checkin.php", "MDA6MUE6MkI6M0M6NEQ6NUU=", checkin_test::encode(query), "dash.test"),
            server.request(0));
  EXPECT_TRUE(logged("LAN IP : 192.168.10.1"));
  EXPECT_TRUE(logged("bat0.2 IP : 10.2.0.5"));
  EXPECT_TRUE(logged("Mesh0 MAC: 02:00:00:00:00:0A"));
  EXPECT_TRUE(logged("Current Gateway: 192.168.1.1"));
  // No wireless device here: no neighbour list, and none is made up.
  EXPECT_TRUE(logged("Unable to get the Neighbour"));
  EXPECT_EQ(std::vector<std::string>{kGwModeCommand}, uplink_commands());
}

TEST_F(CheckinProbes, RepeaterWithCableBecomesGateway) {
  fake.uci["node.status.mode"] = "repeater";
  fake.outputs[kGwModeCommand] = "client\n";
  const std::string start_up_role = node_config().node_mode.c_str();
  checkin_test::CheckinRequest r = checkin();
  EXPECT_EQ("10.3.0.7", r["lan"]);  // br-meship
  EXPECT_EQ("R", r["role"]);
  EXPECT_EQ("2", r["hop"]);
  EXPECT_EQ("1", r["RR"]);
  EXPECT_EQ((std::vector<std::string>{kGwModeCommand, "batctl gw server", "uci set node.status.mode=gateway",
                                      "uci commit node"}),
            uplink_commands());
  // Nothing but the mode and the role: no restarts, and the role of the
  // start-up (which the Wi-Fi restart uses) stays as it was.
  EXPECT_EQ(start_up_role, std::string(node_config().node_mode));

  fake.outputs[kGwModeCommand] = "server\n";
  r = checkin();
  EXPECT_EQ("G", r["role"]);
  EXPECT_EQ("192.168.10.1", r["lan"]);
  EXPECT_EQ("0", r["hop"]);
  EXPECT_EQ("0", r["RR"]);
  EXPECT_EQ(std::vector<std::string>{kGwModeCommand}, uplink_commands());
}

TEST_F(CheckinProbes, GatewayWithoutCableBecomesRepeater) {
  set_cable("eth0", false);  // eth0 up, but no carrier
  fake.outputs[kGwModeCommand] = "server\n";
  checkin();
  EXPECT_EQ((std::vector<std::string>{kGwModeCommand, "batctl gw client", "uci set node.status.mode=repeater",
                                      "uci commit node"}),
            uplink_commands());
  fake.outputs[kGwModeCommand] = "client\n";
  EXPECT_EQ("R", checkin()["role"]);
  EXPECT_EQ(std::vector<std::string>{kGwModeCommand}, uplink_commands());

  // Without eth0 at all its state cannot be read: no uplink either.
  fake.uci["node.status.mode"] = "gateway";
  fake.outputs[kGwModeCommand] = "server\n";
  sh("ip link del eth0");
  checkin();
  EXPECT_EQ((std::vector<std::string>{kGwModeCommand, "batctl gw client", "uci set node.status.mode=repeater",
                                      "uci commit node"}),
            uplink_commands());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Ioctl failed. Errno = 19\n"));
}

TEST_F(CheckinProbes, FailedProbesLeaveTheirFieldsEmptyAndTheCheckinGoesOn) {
  sh("ip link del bat0.2 && ip link del mesh0 && ip addr flush dev br-lan");
  checkin_test::CheckinRequest r = checkin();
  EXPECT_EQ(checkin_test::report_keys(), r.keys());
  EXPECT_EQ("", r["ip"]);
  EXPECT_EQ("", r["lan"]);
  EXPECT_EQ("", r["mesh"]);
  EXPECT_EQ("192.168.1.1", r["gateway"]);
  EXPECT_TRUE(logged("Error: " + std::to_string(EADDRNOTAVAIL)));  // br-lan without an address
  EXPECT_TRUE(logged("Error: " + std::to_string(ENODEV)));         // bat0.2, mesh0
  EXPECT_FALSE(logged("LAN IP : "));
  EXPECT_EQ(kGwModeCommand, uplink_commands().front());

  // Without a default route the last one found is still reported.
  sh("ip route del default");
  EXPECT_EQ("192.168.1.1", checkin()["gateway"]);
  gateway.clear();
  EXPECT_EQ("", checkin()["gateway"]);
}
