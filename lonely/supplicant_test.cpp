#include "lonely/supplicant.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/testing/fake_host.h"
#include "lonely/scan_backend.h"
#include "lonely/testing/stand_in_supplicant.h"

namespace {

std::string text(const scan_crypto& c) {
  char buf[64];
  snprintf(buf, sizeof(buf), "%u,%u,%u,%u,%u,%u", c.enabled, c.wpa_version, c.group_ciphers, c.pair_ciphers,
           c.auth_suites, c.auth_algs);
  return buf;
}

std::string text(const scan_entry& e) {
  char buf[200];
  snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x \"%s\" mode=%d ch=%u signal=%d quality=%u/%u crypto=%s",
           e.bssid[0], e.bssid[1], e.bssid[2], e.bssid[3], e.bssid[4], e.bssid[5], e.ssid, e.mode, e.channel, e.signal,
           e.quality, e.quality_max, text(e.crypto).c_str());
  return buf;
}

std::vector<std::string> records(const char* buf, size_t bytes) {
  std::vector<std::string> out;
  for (size_t off = 0; off + sizeof(scan_entry) <= bytes; off += sizeof(scan_entry)) {
    scan_entry e;
    memcpy(&e, buf + off, sizeof(e));
    out.push_back(text(e));
  }
  return out;
}

const char* const kHeader = "bssid / frequency / signal level / flags / ssid\n";
const std::string kResults = std::string(kHeader) +
                             "02:ca:fe:ca:ca:40\t2437\t-45\t[IBSS]\tmesh\n"
                             "00:11:22:33:44:55\t5180\t-95\t[WPA2-PSK-CCMP][ESS]\tmy home net\n";

// A supplicant that scans at once and has two cells.
std::vector<std::string> scanning_supplicant(const std::string& request) {
  if (request == "ATTACH") return {"OK\n"};
  if (request == "SCAN") return {"OK\n", "<3>CTRL-EVENT-SCAN-STARTED ", "<2>CTRL-EVENT-SCAN-RESULTS "};
  if (request == "SCAN_RESULTS") return {"<3>CTRL-EVENT-BSS-ADDED 0 02:ca:fe:ca:ca:40", kResults};
  return {"UNKNOWN COMMAND\n"};
}

double seconds_since(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

TEST(SupplicantFlags, SecurityFromFlagText) {
  const std::pair<const char*, const char*> cases[] = {
      {"[WPA2-PSK-CCMP][ESS]", "1,2,16,16,4,0"},
      {"[WPA-PSK-TKIP][WPA2-PSK-CCMP+TKIP][ESS]", "1,3,20,20,4,0"},
      {"[WPA-EAP-TKIP][ESS]", "1,1,4,4,2,0"},
      {"[WPA2-802.1X-CCMP][ESS]", "1,2,16,16,2,0"},
      {"[WEP][ESS]", "1,0,0,0,0,3"},
      {"[WEP-104]", "1,0,32,32,0,3"},
      {"[WPA-NONE-TKIP][IBSS]", "1,1,4,4,1,0"},
      {"[ESS]", "0,0,0,0,0,0"},
      {"", "0,0,0,0,0,0"},
  };
  for (auto [flags, crypto] : cases) {
    scan_crypto c = {};
    parse_supplicant_flags(flags, &c);
    EXPECT_EQ(crypto, text(c)) << flags;
  }
}

TEST(SupplicantResults, LinesBecomeMasterRecords) {
  const std::string reply = std::string(kHeader) +
                            "02:ca:fe:ca:ca:40\t2437\t-45\t[IBSS]\tmesh\n"
                            "00:11:22:33:44:55\t5180\t-95\t[WPA2-PSK-CCMP][ESS]\tmy home net\n"
                            "00:11:22:33:44:66\t2412\t-30\t[ESS]\t\n"
                            "just garbage\n"
                            "00:11:22:33:44:77\t2484\t20\t[ESS]\t" +
                            std::string(40, 'n') +
                            "\n"
                            "00:11:22:33:44:88\t2412\t-50\t[ESS]\tcut off";
  alignas(scan_entry) char buf[10 * sizeof(scan_entry)];
  ScanCursor out(buf, sizeof(buf));
  EXPECT_EQ(4u, parse_supplicant_results(reply.c_str(), out));
  EXPECT_EQ((std::vector<std::string>{
                "02:ca:fe:ca:ca:40 \"mesh\" mode=1 ch=6 signal=-45 quality=65/70 crypto=0,0,0,0,0,0",
                "00:11:22:33:44:55 \"my home net\" mode=1 ch=36 signal=-95 quality=15/70 crypto=1,2,16,16,4,0",
                "00:11:22:33:44:66 \"\" mode=1 ch=1 signal=-30 quality=70/70 crypto=0,0,0,0,0,0",
                "00:11:22:33:44:77 \"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn\" mode=1 ch=14 signal=20 quality=20/70 "
                "crypto=0,0,0,0,0,0",
            }),
            records(buf, out.bytes()));

  // No more than fit; nothing without a header line.
  ScanCursor two(buf, 2 * sizeof(scan_entry) + 10);
  EXPECT_EQ(2u, parse_supplicant_results(reply.c_str(), two));
  ScanCursor none(buf, sizeof(buf));
  EXPECT_EQ(0u, parse_supplicant_results("02:ca:fe:ca:ca:40\t2437\t-45\t[IBSS]\tmesh", none));
  EXPECT_EQ(0u, parse_supplicant_results("", none));
}

TEST(SupplicantExchange, ScanListFromAStandInSupplicant) {
  FakeHost fake;
  ScopedHost scope(fake);
  StandInSupplicant supplicant(fake, "wlan0", scanning_supplicant);
  ASSERT_TRUE(supplicant.ready());
  alignas(scan_entry) char buf[24 * 1024];
  int len = -1;
  EXPECT_EQ(0, nl80211_get_scanlist("wlan0", buf, sizeof(buf), &len));
  EXPECT_EQ((std::vector<std::string>{
                "02:ca:fe:ca:ca:40 \"mesh\" mode=1 ch=6 signal=-45 quality=65/70 crypto=0,0,0,0,0,0",
                "00:11:22:33:44:55 \"my home net\" mode=1 ch=36 signal=-95 quality=15/70 crypto=1,2,16,16,4,0",
            }),
            records(buf, static_cast<size_t>(len)));
  EXPECT_EQ((std::vector<std::string>{"ATTACH", "SCAN", "SCAN_RESULTS"}), supplicant.requests());
  // Each exchange came from /var/run/iwinfo-<ifname>-<pid>, removed afterwards.
  std::string local = fake.path("/var/run/iwinfo-wlan0-" + std::to_string(getpid()));
  EXPECT_EQ((std::vector<std::string>{local, local, local}), supplicant.peers());
  EXPECT_FALSE(fake.exists("/var/run/iwinfo-wlan0-" + std::to_string(getpid())));
}

TEST(SupplicantExchange, RepliesThatNeverMatch) {
  FakeHost fake;
  ScopedHost scope(fake);
  // Only unsolicited events: five receives, then an empty reply.
  StandInSupplicant supplicant(fake, "wlan0", [](const std::string&) {
    return std::vector<std::string>(6, "<3>CTRL-EVENT-BSS-ADDED 0 00:11:22:33:44:55");
  });
  ASSERT_TRUE(supplicant.ready());
  const char* reply = supplicant_query("wlan0", "SCAN_RESULTS", nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_STREQ("", reply);
}

TEST(SupplicantExchange, NoSupplicantOrASilentOne) {
  FakeHost fake;
  ScopedHost scope(fake);
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  EXPECT_EQ(nullptr, supplicant_query("wlan0", "SCAN", "CTRL-EVENT-SCAN-RESULTS"));
  EXPECT_LT(seconds_since(start), 0.5);  // no socket: no wait

  // ATTACH without an answer: one two-second receive, then no exchange.
  StandInSupplicant silent(fake, "wlan0", [](const std::string&) { return std::vector<std::string>(); });
  ASSERT_TRUE(silent.ready());
  clock_gettime(CLOCK_MONOTONIC, &start);
  EXPECT_EQ(nullptr, supplicant_query("wlan0", "SCAN", "CTRL-EVENT-SCAN-RESULTS"));
  double waited = seconds_since(start);
  EXPECT_GE(waited, 1.9);
  EXPECT_LT(waited, 3.5);
  EXPECT_EQ((std::vector<std::string>{"ATTACH"}), silent.requests());
  EXPECT_FALSE(fake.exists("/var/run/iwinfo-wlan0-" + std::to_string(getpid())));
}

TEST(RadioNames, ScanOnTheRadiosInterface) {
  FakeHost fake;
  ScopedHost scope(fake);
  // Two interfaces on radio 0 (the lower index wins), one on radio 1.
  fake.write("/sys/class/net/wlan0/phy80211/index", "0\n");
  fake.write("/sys/class/net/wlan0/ifindex", "7\n");
  fake.write("/sys/class/net/wlan1/phy80211/index", "0\n");
  fake.write("/sys/class/net/wlan1/ifindex", "5\n");
  fake.write("/sys/class/net/mesh0/phy80211/index", "1\n");
  fake.write("/sys/class/net/mesh0/ifindex", "3\n");
  fake.write("/sys/class/net/eth0/ifindex", "2\n");
  StandInSupplicant supplicant(fake, "wlan1", scanning_supplicant);
  ASSERT_TRUE(supplicant.ready());
  alignas(scan_entry) char buf[24 * 1024];
  int len = -1;
  EXPECT_EQ(0, nl80211_get_scanlist("radio0", buf, sizeof(buf), &len));
  EXPECT_EQ(2 * 56, len);
  EXPECT_EQ((std::vector<std::string>{"ATTACH", "SCAN", "SCAN_RESULTS"}), supplicant.requests());
}
