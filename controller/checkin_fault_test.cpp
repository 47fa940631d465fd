// Check-ins against a dashboard that misbehaves: it closes or resets in the
// middle of its reply, sends broken base64, sends far more than the reply
// area holds, never answers or never stops; and a custom script download
// that never ends. The node applies only what came whole and never waits
// without bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "common/shell_quote.h"
#include "common/transport.h"
#include "controller/settings/custom_script.h"
#include "controller/testing/checkin_fixture.h"

using checkin_test::config_reply;
using checkin_test::encode;

namespace {

using Clock = std::chrono::steady_clock;

const char kHead[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
const std::string kConfig = "#@#config wireless\nradio0.channel 11\npublic.ssid Lobby-Guest\n";

class CheckinFault : public Checkin {
 protected:
  std::vector<std::string> uci_sets() const {
    std::vector<std::string> out;
    for (const std::string& c : fake.commands) {
      if (c.rfind("uci set ", 0) == 0) out.push_back(c);
    }
    return out;
  }
};

}  // namespace

TEST_F(CheckinFault, DashboardClosingMidReplyGetsOnlyItsWholeLinesApplied) {
  const std::string encoded = encode(kConfig);
  // Where the base64 ends: inside the SSID line, inside "11", at a line end.
  struct Case {
    size_t cut;  // characters of the encoding that arrived
    std::string received;
    std::vector<std::string> sets;
    std::string head = kHead;
  };
  const std::string first_line = "#@#config wireless\n";
  // The whole body's length: a cut at the end of a base64 group ("public.ssid
  // Lobby-Gu" after 76 characters) is a proper encoding, which only the
  // announced length tells from a whole one.
  const std::string announcing =
      "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(3 + encoded.size()) + "\r\n\r\n";
  const std::vector<Case> cases = {
      {encoded.size() - 3, first_line + "radio0.channel 11\n", {"uci set wireless.radio0.channel=11"}},
      {encoded.size() - 9, first_line + "radio0.channel 11\n", {"uci set wireless.radio0.channel=11"}},
      {76, first_line + "radio0.channel 11\n", {"uci set wireless.radio0.channel=11"}, announcing},
      // "radio0.channel 1" of "11": the line is cut, so nothing of it is applied.
      {encode(first_line + "radio0.channel 1").size() - 1, first_line, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cut);
    fake.commands.clear();
    fake.stdout_text.clear();
    node_config().wireless.channel = 6;
    node_config().wireless.pub_ssid.set("Guest");
    server.script(ServerReply::text(c.head + "#@#" + encoded.substr(0, c.cut)));
    checkin(0);
    EXPECT_EQ(c.received, fake.read("/tmp/.received"));
    EXPECT_EQ(c.sets, uci_sets());
    EXPECT_TRUE(printed("Reply cut short: its unfinished last line is not applied\n"));
  }

  // A whole reply, as long as its head says, is applied whole and says
  // nothing of a cut.
  fake.commands.clear();
  fake.stdout_text.clear();
  server.script(ServerReply::text(announcing + "#@#" + encoded));
  checkin(0);
  EXPECT_EQ(kConfig, fake.read("/tmp/.received"));
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.radio0.channel=11", "uci set wireless.pub.ssid=Lobby-Guest"}),
            uci_sets());
  EXPECT_FALSE(printed("Reply cut short"));
}

TEST_F(CheckinFault, DashboardResettingMidReplyAppliesNothing) {
  fake.write("/tmp/.received", "#@#config radio\nchannel 6\n");
  std::string reply = config_reply(kConfig);
  server.script(ServerReply::reset_after(reply.substr(0, reply.size() - 10)));
  checkin(2);
  EXPECT_EQ("#@#config radio\nchannel 6\n", fake.read("/tmp/.received"));
  EXPECT_TRUE(uci_sets().empty());
  EXPECT_FALSE(printed("Running set config"));
}

TEST_F(CheckinFault, BrokenBase64ReachesTheShellOnlyQuoted) {
  // Characters outside the alphabet are skipped: the same configuration.
  std::string encoded = encode(kConfig);
  std::string noisy = encoded.substr(0, 8) + "%\x01 \xff\r\n" + encoded.substr(8);
  server.script(ServerReply::text(kHead + std::string("#@#") + noisy));
  checkin(0);
  EXPECT_EQ(kConfig, fake.read("/tmp/.received"));

  // A character of the alphabet put wrong changes the bytes of its group:
  // the SSID arrives with control bytes, quoted for the shell as a whole.
  fake.commands.clear();
  node_config().wireless.pub_ssid.set("Guest");
  // The group of "bby", wholly inside the SSID.
  size_t ssid_at = (kConfig.find("Lobby") / 3 + 1) * 4;
  std::string corrupted = encoded;
  corrupted[ssid_at + 1] = '/';
  corrupted[ssid_at + 2] = '/';
  server.script(ServerReply::text(kHead + std::string("#@#") + corrupted));
  checkin(0);
  std::string received = fake.read("/tmp/.received");
  size_t line = received.find("public.ssid ");
  ASSERT_NE(std::string::npos, line) << received;
  std::string ssid = received.substr(line + 12, received.find('\n', line) - line - 12);
  EXPECT_NE("Lobby-Guest", ssid);
  ASSERT_FALSE(uci_sets().empty());
  EXPECT_EQ("uci set wireless.pub.ssid=" + std::string(ShellValue(ssid.c_str())), uci_sets().back());
  EXPECT_EQ('\'', uci_sets().back()[26]);
}

TEST_F(CheckinFault, TenMegabyteReplyIsCutToTheReplyAreaAtOnce) {
  // A configuration whose last line goes on for 10 MB.
  std::string huge = kConfig + "private.ssid " + std::string(10 * 1024 * 1024, 'x') + "\n";
  server.script(ServerReply::text(kHead + std::string("#@#") + encode(huge)));
  auto t0 = Clock::now();
  checkin(0);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(kConfig, fake.read("/tmp/.received"));
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.radio0.channel=11", "uci set wireless.pub.ssid=Lobby-Guest"}),
            uci_sets());
}

TEST_F(CheckinFault, ReplyThatNeverEndsIsBounded) {
  dashboard_link().reply_timeout = 1;
  fake.write("/tmp/.received", "#@#config radio\nchannel 6\n");
  // Silence after the request: one reply time-out, then the check-in ends.
  server.script(ServerReply::never());
  auto t0 = Clock::now();
  checkin(2);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(4));
  EXPECT_TRUE(printed("Timed out reading data via select() from server\n"));
  EXPECT_EQ("#@#config radio\nchannel 6\n", fake.read("/tmp/.received"));

  // Data that never stops: the reply area fills, and that is the reply.
  ServerReply endless = ServerReply::segments(std::vector<std::string>(8, std::string(1024, 'Q')), Millis(10));
  endless.pieces.front() = kHead + std::string("#@#") + encode(kConfig);
  endless.hold = true;
  server.script(endless);
  t0 = Clock::now();
  checkin(0);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(4));
  EXPECT_EQ(kConfig, fake.read("/tmp/.received"));
}

TEST_F(CheckinFault, ScriptDownloadStopsBeyondOneMebibyteAndRunsNothingButOneMebibyteRuns) {
  ScriptedServer scripts;
  ASSERT_EQ("", scripts.error());
  ServerReply endless = ServerReply::segments(std::vector<std::string>(40, std::string(32768, '#')), Millis(0));
  endless.pieces.front() = kHead + std::string("#!/bin/sh\n") + endless.pieces.front();
  endless.hold = true;
  scripts.script(endless);
  fake.hosts["scripts.example"] = "127.0.0.1";
  std::string url = "http://scripts.example:" + std::to_string(scripts.port()) + "/dir";
  auto t0 = Clock::now();
  EXPECT_EQ(1, run_custom_script(url.c_str()));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  EXPECT_FALSE(fake.exists("/tmp/custom.sh"));
  EXPECT_TRUE(printed("Script from scripts.example longer than 1048576 bytes: nothing to run\n"));
  EXPECT_TRUE(std::find(fake.commands.begin(), fake.commands.end(), "sh /tmp/custom.sh") == fake.commands.end());

  // A script of exactly 1 MiB is whole, and runs.
  const std::string script = "#!/bin/sh\n" + std::string(1048576 - 10, '#');
  scripts.script(ServerReply::text(kHead + script));
  size_t run_size = 0;
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command == "sh /tmp/custom.sh") run_size = fake.read("/tmp/custom.sh").size();
    return -1;
  };
  EXPECT_EQ(0, run_custom_script(url.c_str()));
  EXPECT_EQ(script.size(), run_size);
}
