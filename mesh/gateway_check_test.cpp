#include "mesh/gateway_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "mesh/gateway_table.h"
#include "mesh/testing/mesh_fixture.h"

namespace {

const char kHeader[] =
    "      Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth ... "
    "[B.A.T.M.A.N. adv 2013.4.0, MainIF/MAC: mesh0/02:ca:fe:00:00:01 (bat0)]\n";
const char kSelected[] = "=> 02:ca:fe:ca:ca:40 (255) 02:ca:fe:ca:ca:40 [     mesh0]: 41 - 2048kbit/512kbit\n";
const char kOther[] = "   02:ca:fe:ca:ca:41 (200) 02:ca:fe:ca:ca:41 [     mesh0]: 41 - 2048kbit/512kbit\n";

std::string ping(const std::string& address) { return "/usr/sbin/batctl ping -c 4 " + address + " >> /dev/null"; }

class GatewayCheck : public MeshFixture {};

}  // namespace

TEST_F(GatewayCheck, PingsEveryGatewayLineAndCountsTheAnswers) {
  struct Case {
    const char* name;
    std::string table;
    std::vector<std::string> failing;  // pings that get no answer
    int readings;
    int answered;
    std::vector<std::string> commands;
    std::vector<unsigned> sleeps;
    std::string printed;
  };
  const std::string h = kHeader;
  const std::vector<Case> cases = {
      {"selection mark first: the second field is pinged",
       h + kSelected,
       {},
       3,
       1,
       {ping("02:ca:fe:ca:ca:40")},
       {},
       "Found valid Gateway\n"},
      {"a line starting with blanks: the first field is pinged",
       h + kOther,
       {},
       3,
       1,
       {ping("02:ca:fe:ca:ca:41")},
       {},
       "Found valid Gateway\n"},
      {"two gateways, one answers: 1 after the first reading",
       h + kSelected + kOther,
       {ping("02:ca:fe:ca:ca:40")},
       3,
       1,
       {ping("02:ca:fe:ca:ca:40"), ping("02:ca:fe:ca:ca:41")},
       {},
       "Found valid Gateway\nFound valid Gateway\n"},
      {"two gateways, both answer",
       h + kSelected + kOther,
       {},
       4,
       2,
       {ping("02:ca:fe:ca:ca:40"), ping("02:ca:fe:ca:ca:41")},
       {},
       "Found valid Gateway\nFound valid Gateway\n"},
      {"no gateways: three readings in lonely",
       h + "No gateways in range ...\n",
       {},
       3,
       0,
       {},
       {30, 30},
       "Couldn't found valid gateway\nCouldn't found valid gateway\nCouldn't found valid gateway\n"},
      {"no gateways: four readings in portsense",
       h + "No gateways in range ...\n",
       {},
       4,
       0,
       {},
       {30, 30, 30},
       "Couldn't found valid gateway\nCouldn't found valid gateway\nCouldn't found valid gateway\n"
       "Couldn't found valid gateway\n"},
      {"a silent gateway is pinged in every reading",
       h + kSelected,
       {ping("02:ca:fe:ca:ca:40")},
       3,
       0,
       {ping("02:ca:fe:ca:ca:40"), ping("02:ca:fe:ca:ca:40"), ping("02:ca:fe:ca:ca:40")},
       {30, 30},
       "Found valid Gateway\nFound valid Gateway\nFound valid Gateway\n"},
      {"17 characters with four colons is no gateway", h + "=> 02cafe:ca:ca:40:1 (255)\n", {}, 3, 0, {}, {30, 30}, ""},
      {"a field that is no plain address goes to the shell quoted",
       h + "=> 02:ca:fe:ca:ca:40;reboot (255)\n",
       {},
       3,
       1,
       {ping("'02:ca:fe:ca:ca:40;reboot'")},
       {},
       "Found valid Gateway\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost node;
    ScopedHost scope(node);
    node.write(kGatewayTable, c.table);
    for (const std::string& f : c.failing) node.exit_codes[f] = 1;
    EXPECT_EQ(c.answered, bat_ping(c.readings));
    EXPECT_EQ(c.commands, node.commands);
    EXPECT_EQ(c.sleeps, node.sleeps);
    EXPECT_EQ(c.printed, node.stdout_text);
  }
}

TEST_F(GatewayCheck, AGatewayThatAnswersLateEndsTheReadingsThere) {
  fake.write(kGatewayTable, std::string(kHeader) + kSelected);
  int pings = 0;
  fake.on_command = [&](const std::string&, std::string&) { return ++pings == 2 ? 0 : 1; };
  EXPECT_EQ(1, bat_ping(4));
  EXPECT_EQ(2, pings);
  EXPECT_EQ((std::vector<unsigned>{30}), fake.sleeps);
}

TEST_F(GatewayCheck, WithoutATableNoGatewayAndNoMessages) {
  EXPECT_EQ(0, bat_ping(3));
  EXPECT_EQ((std::vector<unsigned>{30, 30}), fake.sleeps);
  EXPECT_EQ(0, count_gateways());
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_EQ("", fake.stderr_text);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(GatewayCheck, InternetCheckTrustsOnlySucceed) {
  ScriptedServer dashboard;
  ASSERT_EQ("", dashboard.error());
  dashboard_link().port = dashboard.port();
  use(kPortsenseProfile);
  const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
  dashboard.script(ServerReply::text(head + "#@#Succeed\n"));
  dashboard.script(ServerReply::text(head + "#@#Failed\n"));
  dashboard.script(ServerReply::never());
  EXPECT_EQ(0, check_internet());
  EXPECT_EQ(std::string("POST /serverping.php?fw=QX HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n",
            dashboard.request(0));
  EXPECT_EQ(1, check_internet());
  dashboard_link().reply_timeout = 1;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(1, check_internet());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_EQ("recv() timed out.\n", fake.stderr_text);
}

TEST_F(GatewayCheck, InternetCheckWithoutADashboardFails) {
  use(kPortsenseProfile);
  EXPECT_EQ(1, check_internet());
  EXPECT_EQ("Failed to connect to auth server\n", fake.stdout_text);
}
