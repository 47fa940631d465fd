// ifcounter on the fake host: the uplink it picks, the counter rules, the
// statistics request with its two blanks, and how replies are judged.
#include "reporters/ifcounter.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <syslog.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "common/transport.h"
#include "reporters/ifcounter_program.h"
#include "reporters/testing/report_test.h"

namespace {

const char kGatewayMode[] = "batctl gw | awk '{print $1}'";
const char kEncodedMac[] = "MDA6MUE6MkI6M0M6NEQ6NUU=";  // 00:1A:2B:3C:4D:5E
const char kOk[] = "HTTP/1.0 200 OK\r\n\r\n#@#ok";

class StatsReport : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    set_profile(kIfcounterProfile);
    fake.hosts["dash.test"] = "127.0.0.1";
    fake.uci = {{"dashboard.remote.host", "dash.test"},
                {"dashboard.remote.cupath", "/stats.php"},
                {"dashboard.remote.fallback_ip", "192.0.2.1"},
                {"dashboard.remote.cinterval", "5"},
                {"node.status.mode", "gateway"}};
    fake.outputs[kGatewayMode] = "client\n";
  }
  void TearDown() override { clear_stats_config(); }

  // The dashboard accepts every report unless a test scripts otherwise.
  void start(bool accepting = true) {
    if (accepting) dashboard.script(ServerReply::text(kOk));
    ASSERT_EQ(0, prepare_ifcounter(counter));
  }
  // The four counters of an interface, in the order rx/tx bytes, rx/tx packets.
  void counters(const char* ifname, const std::vector<std::string>& values) {
    const char* files[] = {"rx_bytes", "tx_bytes", "rx_packets", "tx_packets"};
    for (size_t i = 0; i < values.size(); ++i) {
      fake.write(std::string("/sys/class/net/") + ifname + "/statistics/" + files[i], values[i] + "\n");
    }
  }
  std::string sent_data(size_t i) { return decoded(field(dashboard.request(i), "data=")); }

  Ifcounter counter;
};

}  // namespace

TEST_F(StatsReport, TheGatewayServerReportsEthernetEveryOtherModeTheMesh) {
  const std::pair<const char*, const char*> cases[] = {
      {"server\n", "eth0"}, {"client\n", "mesh0"}, {"off\n", "mesh0"}, {"", "mesh0"}, {"servers\n", "mesh0"}};
  for (const auto& [output, ifname] : cases) {
    fake.outputs[kGatewayMode] = output;
    EXPECT_STREQ(ifname, select_stats_interface()) << output;
  }
  EXPECT_EQ(std::vector<std::string>(5, kGatewayMode), fake.commands);

  // The cycle reads the counters of the interface it picked.
  start();
  fake.outputs[kGatewayMode] = "server\n";
  counters("eth0", {"10", "20", "30", "40"});
  counters("mesh0", {"99", "99", "99", "99"});
  ifcounter_cycle(counter);
  EXPECT_EQ("Run Statistics on Iface: eth0", logs(LOG_DEBUG).at(1));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("RxBytes: 10\nTxBytes: 20\nRxPackets: 30\n"));
}

TEST_F(StatsReport, StartUpReadsTheIdentityAndTheConfiguration) {
  start();
  EXPECT_EQ("Hostname: dash.test\nPath: /stats.php\nIP: 192.0.2.1\nInterval: 5\nRole: gateway\n", fake.stdout_text);
  EXPECT_EQ((std::vector<std::string>{"eth0 MAC: 00:1A:2B:3C:4D:5E\n"}), logs(LOG_DEBUG));
  EXPECT_EQ((std::vector<std::string>{"Network Statistics started"}), logs(LOG_INFO));
  ASSERT_NE(nullptr, stats_config());
  EXPECT_STREQ("dash.test", stats_config()->host.c_str());
  EXPECT_STREQ("/stats.php", stats_config()->path.c_str());

  // The clean-up releases the record once.
  clear_stats_config();
  clear_stats_config();
  EXPECT_EQ(nullptr, stats_config());
  EXPECT_EQ("Configuration cleared", logs(LOG_DEBUG).back());
  EXPECT_EQ(1, count_of(fake.events.back(), "Configuration cleared"));
}

TEST_F(StatsReport, MissingKeysSayWhichOne) {
  fake.uci.clear();
  load_stats_config();
  EXPECT_EQ(
      "Failed to get the output\nFailed to get the dashboard\n"
      "Failed to get the output\nFailed to get the path\n"
      "Failed to get the output\nFailed to get the fallbackip\n"
      "Failed to get the output\nFailed to get the checkin interval\n"
      "Failed to get the output\nFailed to get the AP Role\n",
      fake.stdout_text);
  EXPECT_STREQ("", stats_config()->host.c_str());
}

TEST_F(StatsReport, NoEthernetMacEndsTheStartWithStatusOne) {
  set_eth0_mac(false);
  EXPECT_EQ(1, prepare_ifcounter(counter));
  ASSERT_EQ(1u, fake.logs.size());
  EXPECT_EQ(32, fake.logs[0].first);
  EXPECT_EQ("Error: " + std::to_string(ENODEV) + ":" + strerror(ENODEV), fake.logs[0].second);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(StatsReport, TheRequestLineKeepsItsTwoBlanks) {
  start();
  counters("mesh0", {"500", "100", "7", "3"});
  EXPECT_EQ(0, report_statistics(*stats_config(), counter.identity, "mesh0", counter.sample));
  // The first reading only sets the previous values.
  EXPECT_EQ(std::string("POST /stats.php?mac=") + kEncodedMac +
                "&data=cnhiPTAmdHhiPTAmcnhwPTAmdHhwPTA=  HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: dash.test\r\n\r\n",
            dashboard.request(0));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Send Returens: Success\n"));
  std::string read = "Read " + std::to_string(strlen(kOk)) + " bytes, total now: " + std::to_string(strlen(kOk));
  EXPECT_NE(std::string::npos, fake.stdout_text.find(read + "\n"));
  std::vector<std::string> debug = logs(LOG_DEBUG);
  EXPECT_EQ("dash.test Connection Descriptor: ", debug.at(1).substr(0, 33));
  EXPECT_EQ(std::string("HTTP Response from Server: [") + kOk + "]", debug.at(2));
  EXPECT_EQ("Statistics Update - Succeed", debug.at(3));
}

TEST_F(StatsReport, CounterRulesAcrossCycles) {
  // rx_bytes, tx_bytes, rx_packets, tx_packets per cycle, and the report.
  struct Step {
    std::vector<std::string> values;  // "" leaves that file out
    const char* report;
  };
  const Step steps[] = {
      {{"500", "100", "7", "3"}, "rxb=0&txb=0&rxp=0&txp=0"},
      {{"800", "140", "10", "5"}, "rxb=300&txb=40&rxp=3&txp=2"},
      {{"1", "150", "1", "6"}, "rxb=300&txb=10&rxp=3&txp=1"},     // a read of 1 counts as failed
      {{"900", "", "12", "x"}, "rxb=100&txb=10&rxp=2&txp=1"},     // unreadable: the last difference again
      {{"200", "150", "12", "6"}, "rxb=200&txb=0&rxp=0&txp=0"},   // went backwards: counted from zero
      {{"250", "150", "12", "6"}, "rxb=50&txb=0&rxp=0&txp=0"},
      {{"3000000000", "150", "12", "6"}, "rxb=2999999750&txb=0&rxp=0&txp=0"},  // beyond 32 bits
      {{"5200000000", "150", "12", "6"}, "rxb=2200000000&txb=0&rxp=0&txp=0"},
  };
  start();
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    const char* files[] = {"rx_bytes", "tx_bytes", "rx_packets", "tx_packets"};
    for (size_t c = 0; c < 4; ++c) {
      std::string path = std::string("/sys/class/net/mesh0/statistics/") + files[c];
      fake.remove(path);
      if (!steps[i].values[c].empty()) fake.write(path, steps[i].values[c] + "\n");
    }
    ifcounter_cycle(counter);
    EXPECT_EQ(steps[i].report, sent_data(i));
  }
  EXPECT_NE(std::string::npos, fake.stdout_text.find("RxBytes: 1\nTxBytes: 150\nRxPackets: 1\n"));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("RxBytes: 900\nUnable to get the TxBytes\nRxPackets: 12\n"));
}

TEST_F(StatsReport, UnreadableCountersAreNamed) {
  start();
  fake.stdout_text.clear();
  ifcounter_cycle(counter);
  EXPECT_EQ(0u, fake.stdout_text.find("Unable to get the RxBytes\nUnable to get the TxBytes\n"
                                      "Unable to get the Rx packets\nResolving Dashboard: dash.test\n"));
  EXPECT_EQ("rxb=0&txb=0&rxp=0&txp=0", sent_data(0));
}

TEST_F(StatsReport, OnlyAReplyWithTwoHundredCountsAsSuccess) {
  const std::pair<const char*, const char*> cases[] = {
      {"HTTP/1.0 404 Not Found\r\n\r\nnothing here", "Statistics Update - Failed"},
      {"HTTP/1.0 500 Error\r\n\r\nstored 200 rows", "Statistics Update - Succeed"},
      {"", "Statistics Update - Failed"},
  };
  start(false);
  for (const auto& [reply, verdict] : cases) dashboard.script(ServerReply::text(reply));
  for (const auto& [reply, verdict] : cases) {
    fake.logs.clear();
    int rc = report_statistics(*stats_config(), counter.identity, "mesh0", counter.sample);
    EXPECT_EQ(std::string(verdict) == "Statistics Update - Succeed" ? 0 : 1, rc) << reply;
    EXPECT_EQ(verdict, logs(LOG_DEBUG).back()) << reply;
  }
}

TEST_F(StatsReport, ADashboardThatNeverAnswersEndsTheCycleWithTheTimeOut) {
  dashboard_link().reply_timeout = 1;
  dashboard.script(ServerReply::never());
  start(false);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(1, report_statistics(*stats_config(), counter.identity, "mesh0", counter.sample));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 3.0);
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Timed out reading data via select() from server\n"));
  for (const std::string& line : logs(LOG_DEBUG)) EXPECT_EQ(std::string::npos, line.find("Statistics Update"));
}

TEST_F(StatsReport, AHostThatDoesNotResolveIsNotReplacedByTheFallback) {
  fake.uci["dashboard.remote.host"] = "nowhere.test";
  start();
  fake.stdout_text.clear();
  EXPECT_EQ(1, report_statistics(*stats_config(), counter.identity, "mesh0", counter.sample));
  EXPECT_NE(std::string::npos,
            fake.stdout_text.find("Resolving Dashboard: nowhere.test\nFailed to resolved nowhere.test\n"
                                  "Received Error: Unknown host\n"));
  EXPECT_EQ("Faild to connect to Dashboard: nowhere.test", logs(LOG_DEBUG).back());
  EXPECT_EQ(0u, dashboard.connections());
}

TEST_F(StatsReport, ARefusedConnectionSendsNothingAndSaysSo) {
  start(false);
  dashboard_link().port = closed_port();
  fake.stdout_text.clear();
  EXPECT_EQ(1, report_statistics(*stats_config(), counter.identity, "mesh0", counter.sample));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Failed to connect to auth server\n"));
  EXPECT_EQ("Faild to connect to Dashboard: dash.test", logs(LOG_DEBUG).back());
}
