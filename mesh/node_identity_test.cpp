#include "mesh/node_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";

std::vector<std::string> plan_commands(const std::string& id, const std::string& sw, const std::string& nodeid,
                                       const std::string& pub, const std::string& priv, const std::string& mesh) {
  return {"uci set node.status.id=" + id,
          "uci set node.status.switch=" + sw,
          "uci set node.status.nodeid=" + nodeid,
          "uci commit node",
          "uci set dhcp.pub.ipaddr=" + pub + ";uci set dhcp.pub.netmask=255.255.252.0",
          "uci set dhcp.priv.ipaddr=" + priv + ";uci set dhcp.priv.netmask=255.255.252.0",
          "uci set dhcp.mesh.ipaddr=" + mesh + ";uci set dhcp.mesh.netmask=255.255.252.0",
          "uci commit dhcp"};
}

class NodeIdentityTest : public MeshFixture {};

}  // namespace

TEST_F(NodeIdentityTest, ValidRepliesStoreTheIdentityAndTheAddressPlan) {
  struct Case {
    const char* reply;
    std::vector<std::string> commands;
  };
  const std::vector<Case> cases = {
      {"5:3:17", plan_commands("5", "3", "17", "10.3.48.1", "10.3.52.1", "10.3.56.1")},
      {"1:7:100", plan_commands("1", "7", "100", "10.7.0.1", "10.7.4.1", "10.7.8.1")},
      {"21:255:0", plan_commands("21", "255", "0", "10.255.240.1", "10.255.244.1", "10.255.248.1")},
      {"5::3:17", plan_commands("5", "3", "17", "10.3.48.1", "10.3.52.1", "10.3.56.1")},
      {":2:0:999999999:", plan_commands("2", "0", "999999999", "10.0.12.1", "10.0.16.1", "10.0.20.1")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    FakeHost node;
    ScopedHost scope(node);
    set_nodeid(c.reply);
    EXPECT_TRUE(last_nodeid_stored());
    EXPECT_EQ(c.commands, node.commands);
    EXPECT_EQ("", node.stdout_text);
  }
  set_nodeid("5:3:17");
  EXPECT_EQ("5", fake.uci["node.status.id"]);
  EXPECT_EQ("3", fake.uci["node.status.switch"]);
  EXPECT_EQ("17", fake.uci["node.status.nodeid"]);
  EXPECT_EQ("10.3.48.1", fake.uci["dhcp.pub.ipaddr"]);
  EXPECT_EQ("10.3.52.1", fake.uci["dhcp.priv.ipaddr"]);
  EXPECT_EQ("10.3.56.1", fake.uci["dhcp.mesh.ipaddr"]);
  for (const char* section : {"pub", "priv", "mesh"}) {
    EXPECT_EQ("255.255.252.0", fake.uci[std::string("dhcp.") + section + ".netmask"]);
  }
}

// What atoi reads as the number: a dashboard that pads its reply still
// gives the node its identity.
TEST_F(NodeIdentityTest, PaddedRepliesAreReadAsAtoiReadsThem) {
  for (const char* reply : {"5:3:17 ", "5:3:17\r", " 5:3:17", "5:3:+17", "5 : 3 :\t17", "+5:+3:17\r\n"}) {
    SCOPED_TRACE(reply);
    NodeIdentity who{};
    ASSERT_TRUE(parse_nodeid_reply(reply, who));
    EXPECT_EQ(5, who.id);
    EXPECT_EQ(3, who.network);
    EXPECT_EQ(17, who.nodeid);
  }
}

TEST_F(NodeIdentityTest, RepliesThatAreNotAnIdentityWithinThePlanStoreNothing) {
  const std::vector<std::string> replies = {
      "",
      "5:3",
      "5:3:17:9",
      "0:3:17",
      "22:3:17",
      "5:256:17",
      "a:3:17",
      "5:3:x",
      "5:3:17x",
      "-1:3:17",
      "5:3:1234567890",
      "5:3:- 17",
      "5: 3 4:17",
      "Not found",
      "<html><body>502 Bad Gateway</body></html>",
      ":::",
  };
  for (const std::string& reply : replies) {
    SCOPED_TRACE(reply);
    FakeHost node;
    ScopedHost scope(node);
    node.uci["node.status.id"] = "0";
    set_nodeid(reply.c_str());
    EXPECT_FALSE(last_nodeid_stored());
    EXPECT_TRUE(node.commands.empty());
    EXPECT_EQ("0", node.uci["node.status.id"]);
    EXPECT_EQ("Node id reply not valid, nothing stored: \"" + reply + "\"\n", node.stdout_text);
  }
  // A long reply is quoted only in part.
  set_nodeid(std::string(300, 'x').c_str());
  EXPECT_EQ("Node id reply not valid, nothing stored: \"" + std::string(64, 'x') + "\"\n", fake.stdout_text);
  NodeIdentity who{};
  EXPECT_FALSE(parse_nodeid_reply(nullptr, who));
}

TEST_F(NodeIdentityTest, GetNodeidSendsTheMacInBase64AndStoresTheReply) {
  ScriptedServer dashboard;
  ASSERT_EQ("", dashboard.error());
  dashboard_link().port = dashboard.port();
  dashboard.script(ServerReply::segments({kHead, "#@#5:3:", "17\r\n"}, Millis(50)));
  EXPECT_EQ(0, get_nodeid("00:1A:2B:3C:4D:5E"));
  EXPECT_EQ(std::string("POST /nodeid.php?hw=QX&mac=MDA6MUE6MkI6M0M6NEQ6NUU= HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n",
            dashboard.request(0));
  EXPECT_EQ(plan_commands("5", "3", "17", "10.3.48.1", "10.3.52.1", "10.3.56.1"), fake.commands);
  EXPECT_EQ(std::string("Resolving Host: ") + DASHBOARD_HOST + "\n", fake.stdout_text);
}

TEST_F(NodeIdentityTest, GetNodeidWithoutAUsableReplyStoresNothing) {
  ScriptedServer dashboard;
  ASSERT_EQ("", dashboard.error());
  dashboard_link().port = dashboard.port();
  use(kPortsenseProfile);  // connects without a word
  dashboard.script(ServerReply::text(kHead + "#@#unknown node\n"));
  dashboard.script(ServerReply::never());
  EXPECT_EQ(1, get_nodeid("00:1A:2B:3C:4D:5E"));
  EXPECT_EQ("Node id reply not valid, nothing stored: \"unknown node\"\n", fake.stdout_text);
  // A dashboard that accepts and never answers holds the node for one
  // reply time-out only.
  dashboard_link().reply_timeout = 1;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(1, get_nodeid("00:1A:2B:3C:4D:5E"));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ("Node id reply not valid, nothing stored: \"\"\n",
            fake.stdout_text.substr(fake.stdout_text.find('\n') + 1));
  EXPECT_EQ("recv() timed out.\n", fake.stderr_text);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(NodeIdentityTest, UnreachableDashboardGivesMinusOne) {
  EXPECT_EQ(-1, get_nodeid("00:1A:2B:3C:4D:5E"));
  EXPECT_EQ(std::string("Resolving Host: ") + DASHBOARD_HOST + "\nFailed to connect to auth server\n",
            fake.stdout_text);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(NodeIdentityTest, AStoredIdIsKeptAndNoMacAsksNothing) {
  ScriptedServer dashboard;
  ASSERT_EQ("", dashboard.error());
  dashboard_link().port = dashboard.port();
  fake.uci["node.status.id"] = "4";
  EXPECT_EQ(4, config_nodeid());
  EXPECT_EQ((std::vector<std::string>{"uci get node.status.id"}), fake.commands);
  EXPECT_EQ(0u, dashboard.connections());
  EXPECT_EQ("", fake.stdout_text);

  // No id and no eth0 to take the MAC from: the dashboard is not asked.
  fake.uci.erase("node.status.id");
  EXPECT_EQ(-1, config_nodeid());
  EXPECT_EQ(0u, dashboard.connections());
  EXPECT_EQ("Failed to get the output\nNo MAC address on eth0: node id not requested\n", fake.stdout_text);
}
