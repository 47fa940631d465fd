// clientscout's cycles on the fake host: which interfaces are dumped, the
// "Empty" rule, the request the dashboard receives, and an identity that
// turns up late. The station dump is a stand-in that writes records the way
// the real one does.
#include "reporters/clientscout.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "common/station_format.h"
#include "common/transport.h"
#include "reporters/clientscout_program.h"
#include "reporters/testing/report_test.h"

namespace {

const char kEncodedMac[] = "MDA6MUE6MkI6M0M6NEQ6NUU=";  // 00:1A:2B:3C:4D:5E
const char kRecord[] = "mac=00:11:22:33:44:55;rx=512;tx=300";
const char kReply[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nthanks";

class Clientscout : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    set_profile(kClientscoutProfile);
    fake.hosts[DASHBOARD_HOST] = "127.0.0.1";
    fake.uci = {{"wireless.pub.disabled", "0"},
                {"wireless.pub.hidden", "0"},
                {"wireless.priv.disabled", "0"},
                {"wireless.priv.hidden", "0"}};
  }
  // The dashboard answers every report unless a test scripts otherwise.
  void start(bool answering = true) {
    if (answering) dashboard.script(ServerReply::text(kReply));
    prepare_clientscout(scout);
  }
  void cycle() { clientscout_cycle(scout); }
  // The list the i-th request carried, decoded.
  std::string sent_list(size_t i) { return decoded(field(dashboard.request(i), "data=")); }

  // The interfaces whose stations were dumped, in order.
  std::vector<std::string> dumped() const {
    std::vector<std::string> out;
    for (const std::string& a : kernel.asked) {
      if (a.rfind("station_dump ", 0) == 0) out.push_back(a.substr(13));
    }
    return out;
  }

  ClientScout scout;
};

}  // namespace

TEST_F(Clientscout, BothOptionsMustBeZeroForAnInterfaceToBeDumped) {
  struct Case {
    const char* disabled;  // nullptr: the option is missing
    const char* hidden;
    int result;
    const char* printed;
  };
  const Case cases[] = {
      {"0", "0", 0, "Get Station list of pub\n"},      {"0", nullptr, 1, "Failed to get the output\n"},
      {nullptr, "0", 1, "Failed to get the output\n"}, {"1", "0", 1, "Inerface pub: Disabled\n"},
      {"1", nullptr, 1, "Inerface pub: Disabled\n"},   {"0", "1", 1, ""},
      {"abc", "no", 0, "Get Station list of pub\n"},  // no number: 0
      {"2x", "0", 1, "Inerface pub: Disabled\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.disabled ? c.disabled : "-") + "/" + (c.hidden ? c.hidden : "-"));
    fake.uci.clear();
    if (c.disabled) fake.uci["wireless.pub.disabled"] = c.disabled;
    if (c.hidden) fake.uci["wireless.pub.hidden"] = c.hidden;
    fake.stdout_text.clear();
    fake.commands.clear();
    EXPECT_EQ(c.result, interface_selected("pub"));
    EXPECT_EQ(c.printed, fake.stdout_text);
    // A disabled or unreadable section is not asked whether it is hidden.
    bool asks_hidden = c.disabled && std::string(c.printed).find("Disabled") == std::string::npos;
    std::vector<std::string> expected = {"uci get wireless.pub.disabled"};
    if (asks_hidden) expected.push_back("uci get wireless.pub.hidden");
    EXPECT_EQ(expected, fake.commands);
  }
}

TEST_F(Clientscout, OnlySelectedInterfacesAreDumped) {
  fake.uci = {{"wireless.pub.disabled", "0"}, {"wireless.priv.disabled", "1"}, {"wireless.priv.hidden", "0"}};
  start();
  cycle();
  EXPECT_TRUE(dumped().empty());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Inerface priv: Disabled\n"));

  fake.uci["wireless.pub.hidden"] = "0";
  fake.uci["wireless.priv.disabled"] = "0";
  cycle();
  EXPECT_EQ((std::vector<std::string>{"pub0", "priv0"}), dumped());
}

TEST_F(Clientscout, EmptyIsSentOncePerEmptySpell) {
  start();
  for (int i = 0; i < 3; ++i) cycle();
  EXPECT_EQ(1u, dashboard.connections());
  EXPECT_EQ("RW1wdHk=", field(dashboard.request(0), "data="));  // "Empty"
  EXPECT_EQ(2, count_of(fake.stdout_text, "No data to send Returning to mainloop\n"));
  EXPECT_EQ(1, count_of(fake.stdout_text, "Clientf: 1\nCounter: 1\n"));
  EXPECT_EQ(2, count_of(fake.stdout_text, "Clientf: 1\nCounter: 0\n"));

  // A client re-arms it: its list goes out, and the next empty cycle says
  // "Empty" again.
  kernel.stations["pub0"] = {kRecord};
  cycle();
  kernel.stations.clear();
  cycle();
  cycle();
  ASSERT_EQ(3u, dashboard.connections());
  EXPECT_EQ(std::string(kRecord) + "\n", sent_list(1));
  EXPECT_EQ("Empty", sent_list(2));
  EXPECT_EQ(1, count_of(fake.stdout_text, "Clientf: 0\nCounter: 0\n"));
  EXPECT_EQ(3, count_of(fake.stdout_text, "No data to send Returning to mainloop\n"));
}

TEST_F(Clientscout, TheDashboardReceivesTheFormWithItsLength) {
  kernel.stations["priv0"] = {kRecord};
  start();
  cycle();
  // 24 for the MAC's base64, 48 for the list's, 9 for "id=" and "&data=".
  EXPECT_EQ(std::string("POST /client.php HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 81\r\n\r\n"
                "id=" +
                kEncodedMac + "&data=bWFjPTAwOjExOjIyOjMzOjQ0OjU1O3J4PTUxMjt0eD0zMDAK",
            dashboard.request(0));
  // The reply is printed; the records stay in the file until the next cycle.
  EXPECT_NE(std::string::npos, fake.stdout_text.find(kReply));
  EXPECT_EQ(std::string(kRecord) + "\n", fake.read("/tmp/.clients"));
  EXPECT_EQ((std::vector<std::string>{"updating client list", "Request [ " + dashboard.request(0) + " ]",
                                      "Updating client List"}),
            logs(LOG_DEBUG));
}

TEST_F(Clientscout, EachCycleStartsFromAnEmptyList) {
  fake.write("/tmp/.clients", "mac=aa:aa:aa:aa:aa:aa\n");
  kernel.stations["pub0"] = {kRecord};
  kernel.stations["priv0"] = {"mac=00:11:22:33:44:66"};
  start();
  cycle();
  EXPECT_EQ(std::string(kRecord) + "\nmac=00:11:22:33:44:66\n", sent_list(0));
  std::vector<std::string> debug = logs(LOG_DEBUG);
  ASSERT_EQ(4u, debug.size());
  EXPECT_EQ("updating client list", debug[0]);
  EXPECT_EQ("Building Client list", debug[1]);
  EXPECT_EQ("Updating client List", debug[3]);
}

TEST_F(Clientscout, AnUnresolvableHostMeansNoConnection) {
  fake.hosts.clear();
  start();
  cycle();
  EXPECT_EQ(std::string(" gethostbyname error for host: ") + DASHBOARD_HOST + ": Unknown host", fake.stderr_text);
  EXPECT_EQ(0u, dashboard.connections());
  // "Empty" counts as sent; a list is tried again in the next cycle.
  cycle();
  EXPECT_NE(std::string::npos, fake.stdout_text.find("No data to send Returning to mainloop\n"));
  kernel.stations["pub0"] = {kRecord};
  fake.hosts[DASHBOARD_HOST] = "127.0.0.1";
  cycle();
  ASSERT_EQ(1u, dashboard.connections());
  EXPECT_EQ(std::string(kRecord) + "\n", sent_list(0));
}

TEST_F(Clientscout, AnIdentityThatTurnsUpLateIsUsedFromThen) {
  set_eth0_mac(false);
  start();
  EXPECT_EQ((std::vector<std::string>{"eth0 MAC address unreadable: the client list waits for it"}), logs(LOG_INFO));
  kernel.stations["pub0"] = {kRecord};
  cycle();
  cycle();
  EXPECT_EQ(0u, dashboard.connections());
  EXPECT_EQ(2, count_of(fake.stdout_text, "eth0 MAC address unreadable: client list not sent\n"));

  set_eth0_mac(true);
  cycle();
  ASSERT_EQ(1u, dashboard.connections());
  EXPECT_EQ(kEncodedMac, field(dashboard.request(0), "id="));
  EXPECT_EQ("eth0 MAC address: 00:1A:2B:3C:4D:5E", logs(LOG_INFO).back());
}

TEST_F(Clientscout, ADashboardThatNeverAnswersEndsTheCycleAfterTheTimeOut) {
  dashboard_link().reply_timeout = 1;
  dashboard.script(ServerReply::never());
  start(false);
  auto t0 = std::chrono::steady_clock::now();
  cycle();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(1u, dashboard.connections());
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 3.0);
}

TEST_F(Clientscout, ATricklingReplyIsCutAtTheTimeOut) {
  dashboard_link().reply_timeout = 1;
  std::vector<std::string> pieces = {"HTTP/1.0 200 OK\r\n\r\n"};
  for (int i = 0; i < 20; ++i) pieces.push_back("piece" + std::to_string(i) + ";");
  dashboard.script(ServerReply::segments(pieces, Millis(300)));
  start(false);
  auto t0 = std::chrono::steady_clock::now();
  cycle();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(seconds, 2.0);
  EXPECT_NE(std::string::npos, fake.stdout_text.find("HTTP/1.0 200 OK\r\n\r\npiece0;"));
  EXPECT_EQ(std::string::npos, fake.stdout_text.find("piece19;"));
}

TEST_F(Clientscout, TheCleanUpRemovesTheList) {
  fake.write("/tmp/.clients", "x\n");
  remove_client_list();
  EXPECT_FALSE(fake.exists("/tmp/.clients"));
}

// Nothing listening: the write and the reads fail quietly, the cycle ends
// as usual, and a list that cannot be cleared is said so.
TEST_F(Clientscout, ARefusedConnectionAndAListThatCannotBeClearedEndTheCycleQuietly) {
  start();
  dashboard_link().port = closed_port();
  kernel.stations["pub0"] = {kRecord};
  fake.stdout_text.clear();
  fake.stderr_text.clear();
  cycle();
  EXPECT_NE(std::string::npos, fake.stdout_text.find("hostname: " DASHBOARD_HOST "\naddress: 127.0.0.1\n"));
  EXPECT_EQ("", fake.stderr_text);
  EXPECT_EQ("Updating client List", logs(LOG_DEBUG).back());

  // A list in the way that is no file: unlink fails.
  fake.remove("/tmp/.clients");
  mkdir(fake.path("/tmp/.clients").c_str(), 0755);
  fake.write("/tmp/.clients/x", "");
  fake.logs.clear();
  cycle();
  std::vector<std::string> debug = logs(LOG_DEBUG);
  ASSERT_GE(debug.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{"updating client list", "Faild to clear the client list"}),
            std::vector<std::string>(debug.begin(), debug.begin() + 2));
}
