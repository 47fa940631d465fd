// Whole check-ins whose interface probes succeed: the fake kernel holds the
// node's interfaces (eth0, bat0.2, br-lan, br-meship, mesh0), a default
// route and mesh0's neighbours; the dashboard is the scripted server on
// loopback.
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
#include "common/testing/http_server.h"
#include "controller/testing/checkin_fixture.h"

using checkin_test::config_reply;
using checkin_test::parse_request;

namespace {

const char kGwModeCommand[] = "batctl gw | awk '{print $1}'";

// The check-in fixture's node, with interfaces the probes can read.
class CheckinProbes : public Checkin {
 protected:
  void SetUp() override {
    Checkin::SetUp();
    if (HasFatalFailure()) return;
    kernel.links = {{"eth0", {.mac = "00:1a:2b:3c:4d:5e", .address = "192.168.1.20", .netmask = "255.255.255.0"}},
                    {"bat0.2", {.mac = "02:00:00:00:02:02", .address = "10.2.0.5", .netmask = "255.255.252.0"}},
                    {"br-lan", {.mac = "02:00:00:00:03:03", .address = "192.168.10.1", .netmask = "255.255.255.0"}},
                    {"br-meship", {.mac = "02:00:00:00:04:04", .address = "10.3.0.7", .netmask = "255.255.252.0"}},
                    {"mesh0", {.mac = "02:00:00:00:00:0a"}}};
    kernel.routes = {FakeRoute{.destination = "192.168.1.0", .prefix = 24, .ifname = "eth0"},
                     FakeRoute{.gateway = "192.168.1.1", .ifname = "eth0"}};
    kernel.neighbours["mesh0"] = {"02:4E:00:00:02:10;02:4E:00:00:03:10", "-30;-71"};
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
      "&pssid=Guest&RR=1&uptime=1:02:05&load=0.25&role=G&gateway=192.168.1.1&gw-qual=255&NTR=100"
      "&nbs=02:4E:00:00:02:10;02:4E:00:00:03:10&rssi=-30;-71&hop=0";
  EXPECT_EQ(query, r.query);
  EXPECT_EQ(checkin_test::frame("/checkin.php", "MDA6MUE6MkI6M0M6NEQ6NUU=", checkin_test::encode(query), "dash.test"),
            server.request(0));
  EXPECT_TRUE(logged("LAN IP : 192.168.10.1"));
  EXPECT_TRUE(logged("bat0.2 IP : 10.2.0.5"));
  EXPECT_TRUE(logged("Mesh0 MAC: 02:00:00:00:00:0A"));
  EXPECT_TRUE(logged("Current Gateway: 192.168.1.1"));
  EXPECT_TRUE(logged("Neighbour list done"));
  EXPECT_EQ(std::vector<std::string>{kGwModeCommand}, uplink_commands());

  // A failed dump sends no neighbours, not the last dump's.
  kernel.neighbour_result = 1;
  r = checkin();
  EXPECT_EQ("", r["nbs"]);
  EXPECT_EQ("", r["rssi"]);
  EXPECT_TRUE(logged("Unable to get the Neighbour"));
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
  kernel.links["eth0"].running = false;  // eth0 up, but no carrier
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
  kernel.links.erase("eth0");
  checkin();
  EXPECT_EQ((std::vector<std::string>{kGwModeCommand, "batctl gw client", "uci set node.status.mode=repeater",
                                      "uci commit node"}),
            uplink_commands());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Ioctl failed. Errno = 19\n"));
}

TEST_F(CheckinProbes, FailedProbesLeaveTheirFieldsEmptyAndTheCheckinGoesOn) {
  kernel.links.erase("bat0.2");
  kernel.links.erase("mesh0");
  kernel.links["br-lan"].address = "";
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
  kernel.routes.pop_back();  // the default route
  EXPECT_EQ("192.168.1.1", checkin()["gateway"]);
  gateway.clear();
  EXPECT_EQ("", checkin()["gateway"]);
}
