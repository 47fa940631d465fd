#include "mesh/role.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mesh/node_identity.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

class Role : public MeshFixture {
 protected:
  Role() { fake.uci.emplace("node.status.id", "5"); }
};

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::vector<std::string> kGatewayBridges = {"/etc/init.d/dnsmasq stop", kIfconfigPub, kIfconfigPriv,
                                                  kIfconfigMesh, "/etc/init.d/dnsmasq start"};
const std::vector<std::string> kRepeaterBridges = {"/etc/init.d/dnsmasq stop", kUdhcpc, kIfconfigPub, kIfconfigPriv,
                                                   "/etc/init.d/dnsmasq start"};
const std::vector<std::string> kRecordGateway = {"uci set node.status.mode=gateway", "uci commit node"};
const std::vector<std::string> kRecordRepeater = {"uci set node.status.mode=repeater", "uci commit node"};

}  // namespace

TEST_F(Role, BatmanModeChangesOnlyBetweenClientAndServer) {
  struct Case {
    int role;
    const char* batman;  // "batctl gw" output, nullptr: nothing printed
    std::vector<std::string> commands;
    const char* recorded;
  };
  const std::vector<Case> cases = {
      {kRoleGateway, "client (selection class: 20)\n",
       joined({kGatewayBridges, {"batctl gw server"}, kRecordGateway, kMasquerade}), "gateway"},
      {kRoleGateway, "server (announced bw: 10.0/2.0 MBit)\n", joined({kGatewayBridges, kRecordGateway, kMasquerade}),
       "gateway"},
      {kRoleGateway, "off\n", joined({kGatewayBridges, kRecordGateway, kMasquerade}), "gateway"},
      {kRoleGateway, nullptr, joined({kGatewayBridges, kRecordGateway, kMasquerade}), "gateway"},
      {kRoleRepeater, "server (announced bw: 10.0/2.0 MBit)\n",
       joined({kRepeaterBridges, {"batctl gw client"}, kRecordRepeater, kMasquerade}), "repeater"},
      {kRoleRepeater, "off\n", joined({kRepeaterBridges, kRecordRepeater, kMasquerade}), "repeater"},
      {kRoleRepeater, "client (selection class: 20)\n", joined({kRepeaterBridges, kRecordRepeater, kMasquerade}),
       "repeater"},
      {7, "client\n", kMasquerade, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.role) + " " + (c.batman ? c.batman : "(nothing)"));
    FakeHost node;
    ScopedHost scope(node);
    node.uci["node.status.id"] = "5";
    node.uci["node.status.mode"] = "old";
    node.on_command = [&](const std::string& command, std::string& output) {
      if (command != kBatmanMode) return -1;
      // The awk of the pipe keeps the first word.
      if (c.batman) output = std::string(c.batman).substr(0, std::string(c.batman).find_first_of(" \n")) + "\n";
      return 0;
    };
    EXPECT_EQ(0, config_batman_mode(c.role));
    EXPECT_EQ(c.commands, node.runs());
    EXPECT_EQ(kBatmanMode, node.commands.front());
    EXPECT_EQ(c.recorded, node.uci["node.status.mode"]);
  }
}

TEST_F(Role, TheResultIsTheMasqueradeRulesStatus) {
  fake.exit_codes[kMasquerade[1]] = 3;
  fake.exit_codes["/etc/init.d/dnsmasq start"] = 1;
  EXPECT_EQ(3 << 8, config_batman_mode(kRoleGateway));
  fake.exit_codes[kMasquerade[1]] = 0;
  fake.exit_codes[kMasquerade[0]] = 1;
  EXPECT_EQ(0, config_batman_mode(kRoleRepeater));
}
