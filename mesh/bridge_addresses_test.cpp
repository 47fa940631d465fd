#include "mesh/bridge_addresses.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "mesh/node_identity.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

class BridgeAddresses : public MeshFixture {
 protected:
  BridgeAddresses() { fake.uci["node.status.id"] = "5"; }
};

const std::string kIdRead = "read uci get node.status.id";

}  // namespace

TEST_F(BridgeAddresses, GatewayBringsUpThreeBridgesRepeaterTwoOtherRolesNone) {
  EXPECT_EQ(0, config_ipaddr(kRoleGateway));
  EXPECT_EQ((std::vector<std::string>{kIdRead, "run " + kIfconfigPub, "run " + kIfconfigPriv, "run " + kIfconfigMesh}),
            effects({"run", "read"}));
  fake.events.clear();
  // The result is the last command's status.
  fake.exit_codes[kIfconfigPriv] = 1;
  EXPECT_EQ(1 << 8, config_ipaddr(kRoleRepeater));
  EXPECT_EQ((std::vector<std::string>{kIdRead, "run " + kIfconfigPub, "run " + kIfconfigPriv}),
            effects({"run", "read"}));
  fake.events.clear();
  EXPECT_EQ(1, config_ipaddr(2));
  EXPECT_EQ((std::vector<std::string>{kIdRead}), effects({"run", "read"}));
}

TEST_F(BridgeAddresses, GatewayWithoutAMeshClientOnlyBringsUpTheBridges) {
  EXPECT_EQ(0, dhcp_config(kRoleGateway));
  EXPECT_EQ((std::vector<std::string>{kIfconfigPub, kIfconfigPriv, kIfconfigMesh}), runs());
  EXPECT_TRUE(fake.kills.empty());
  EXPECT_EQ("", fake.stdout_text);
}

TEST_F(BridgeAddresses, GatewayStopsTheMeshClientOnlyWhenThePidIsUdhcpc) {
  struct Case {
    const char* name;
    std::string pid_file;
    std::string process;  // name in /proc/1234/stat, "" for no such process
    std::vector<std::pair<pid_t, int>> kills;
  };
  const std::vector<Case> cases = {
      {"the mesh client", "1234\n", "udhcpc", {{1234, SIGUSR2}, {1234, SIGKILL}}},
      {"a stale file naming another process", "1234\n", "httpd", {}},
      {"a stale file naming no process", "1234\n", "", {}},
      {"no number", "udhcpc\n", "udhcpc", {}},
      {"an empty file", "", "udhcpc", {}},
      {"pid 0 would signal our own group", "0\n", "udhcpc", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost node;
    ScopedHost scope(node);
    node.uci["node.status.id"] = "5";
    node.write("/var/run/udhcpc-br-meship.pid", c.pid_file);
    if (!c.process.empty()) node.add_process(1234, c.process, 'S');
    EXPECT_EQ(0, dhcp_config(kRoleGateway));
    EXPECT_EQ(c.kills, node.kills);
    EXPECT_FALSE(node.exists("/var/run/udhcpc-br-meship.pid"));
    EXPECT_EQ((std::vector<std::string>{kIfconfigPub, kIfconfigPriv, kIfconfigMesh}), node.runs());
  }
}

TEST_F(BridgeAddresses, RepeaterStartsTheMeshClientAndSetsTheNameServer) {
  EXPECT_EQ(0, dhcp_config(kRoleRepeater));
  EXPECT_EQ((std::vector<std::string>{"run " + kUdhcpc, "set_nameserver", kIdRead, "run " + kIfconfigPub,
                                      "run " + kIfconfigPriv}),
            effects({"run", "read", "write", "out"}));
  fake.events.clear();
  EXPECT_EQ(1, dhcp_config(3));
  EXPECT_TRUE(fake.events.empty());
}

TEST_F(BridgeAddresses, DnsmasqIsStoppedAroundTheChangeAndItsStartReported) {
  fake.exit_codes["/etc/init.d/dnsmasq start"] = 1;
  EXPECT_EQ(1 << 8, dnsmasq_config(kRoleGateway));
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/dnsmasq stop", kIfconfigPub, kIfconfigPriv, kIfconfigMesh,
                                      "/etc/init.d/dnsmasq start"}),
            runs());
  fake.events.clear();
  EXPECT_EQ(1 << 8, dnsmasq_config(9));
  EXPECT_EQ((std::vector<std::string>{"/etc/init.d/dnsmasq stop", "/etc/init.d/dnsmasq start"}), runs());
}
