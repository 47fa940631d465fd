#include "vouchercheck/voucher.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/profile.h"
#include "common/testing/fake_host.h"
#include "common/testing/http_server.h"
#include "common/transport.h"
#include "controller/program.h"
#include "vouchercheck/program.h"

namespace {

const char kHead[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

class Vouchercheck : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server.error());
    fake.hosts["dash.test"] = "127.0.0.1";
    dashboard_link().port = server.port();
    fake.uci["node.status.network"] = "office";
    set_profile(kVouchercheckProfile);
  }
  void TearDown() override { set_profile(kControllerProfile); }
  int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return run_vouchercheck(static_cast<int>(args.size()), argv.data(), {"dash.test", "127.0.0.1"});
  }
  ScriptedServer server;
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

TEST(PercentEncode, OnlyUnreservedBytesGoAsTheyAre) {
  struct Case {
    const char* value;
    const char* keep;
    const char* encoded;
  };
  const Case cases[] = {
      {"ABC123", "", "ABC123"},       {"az-._~09", "", "az-._~09"}, {"A B&x", "", "A%20B%26x"},
      {"#%\r\n", "", "%23%25%0D%0A"}, {"=+/?", "", "%3D%2B%2F%3F"}, {"00:11:22:33:44:55", ":", "00:11:22:33:44:55"},
      {"00:11", "", "00%3A11"},       {"\xc3\xa9", "", "%C3%A9"},   {"", "", ""},
  };
  for (const Case& c : cases) {
    char out[64];
    EXPECT_TRUE(percent_encode(c.value, c.keep, out, sizeof(out)));
    EXPECT_STREQ(c.encoded, out) << c.value;
  }
  char small[6];
  EXPECT_TRUE(percent_encode("ab cd", "", small, sizeof(small)) == false);
  EXPECT_TRUE(percent_encode("a b", "", small, sizeof(small)));
  EXPECT_STREQ("a%20b", small);
}

TEST_F(Vouchercheck, SendsTheQueryAndPrintsTheAnswer) {
  server.script(ServerReply::text(std::string(kHead) + "#@#valid"));
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_EQ(
      "POST /validate.php?voucher=ABC123&mac=00:11:22:33:44:55&network=office HTTP/1.0\r\n"
      "Host: dash.test\r\n\r\n",
      server.request(0));
  EXPECT_EQ("valid", fake.stdout_text);
  EXPECT_EQ("", fake.stderr_text);
  EXPECT_EQ(std::vector<std::string>{"uci get node.status.network"}, fake.commands);
}

TEST_F(Vouchercheck, AnswerIsFoundWhateverThePiecesOfTheReply) {
  struct Case {
    ServerReply reply;
    std::string printed;
  };
  const std::string h = kHead;
  const std::string long_answer(9000, 'v');
  const std::vector<Case> cases = {
      {ServerReply::segments({h, "#@#valid"}, Millis(100)), "valid"},
      {ServerReply::segments({h + "#", "@", "#va", "lid\n"}, Millis(50)), "valid\n"},
      {ServerReply::text(h + "#@#" + long_answer), long_answer},  // more than one chunk
      {ServerReply::text(h + "#xyinvalid#@#x"), "invalid#@#x"},   // the first "#" counts
      {ServerReply::text(h + "no marker at all"), ""},
      {ServerReply::text(h + "#@"), ""},
      {ServerReply::text(""), ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    server.script(cases[i].reply);
    fake.stdout_text.clear();
    EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
    EXPECT_EQ(cases[i].printed, fake.stdout_text);
  }
}

TEST_F(Vouchercheck, VoucherAndMacArePercentEncoded) {
  server.script(ServerReply::text("#@#invalid"));
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55\r\nX-Evil: 1", "A B&x#%"}));
  EXPECT_EQ(
      "POST /validate.php?voucher=A%20B%26x%23%25&mac=00:11:22:33:44:55%0D%0AX-Evil:%201"
      "&network=office HTTP/1.0\r\nHost: dash.test\r\n\r\n",
      server.request(0));
}

TEST_F(Vouchercheck, ArgumentsThatDoNotFitAreRefusedBeforeConnecting) {
  // 45 characters besides the voucher: a voucher of 209 fills the 254.
  server.script(ServerReply::text("#@#ok"));
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", std::string(209, 'V')}));
  EXPECT_EQ("POST /validate.php?voucher=" + std::string(209, 'V') +
                "&mac=00:11:22:33:44:55&network=office HTTP/1.0\r\nHost: dash.test\r\n\r\n",
            server.request(0));
  EXPECT_EQ(1u, server.connections());

  for (const std::string& voucher : {std::string(210, 'V'), std::string(70, ' ')}) {
    fake.stdout_text.clear();
    fake.stderr_text.clear();
    EXPECT_EQ(1, run({"vouchercheck", "x", "00:11:22:33:44:55", voucher}));
    EXPECT_EQ("", fake.stdout_text);
    EXPECT_EQ(
        "vouchercheck: MAC address and voucher are too long for the request "
        "(the query holds 254 characters at most)\n",
        fake.stderr_text);
  }
  usleep(50000);
  EXPECT_EQ(1u, server.connections());
}

TEST_F(Vouchercheck, TooFewArgumentsAreRefused) {
  EXPECT_EQ(1, run({"vouchercheck", "x", "00:11:22:33:44:55"}));
  EXPECT_EQ(1, run({"vouchercheck"}));
  EXPECT_EQ("Invalid Argumtnes\nInvalid Argumtnes\n", fake.stdout_text);
  EXPECT_TRUE(fake.commands.empty());
  usleep(50000);
  EXPECT_EQ(0u, server.connections());
}

TEST_F(Vouchercheck, UnreachableDashboardIsAnEmptyAnswer) {
  dashboard_link().port = closed_port();
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_EQ("", fake.stderr_text);
}

TEST_F(Vouchercheck, NameThatDoesNotResolveFallsBackSilently) {
  fake.hosts.clear();
  server.script(ServerReply::text("#@#valid"));
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_EQ("valid", fake.stdout_text);
  EXPECT_NE(std::string::npos, server.request(0).find("\r\nHost: dash.test\r\n"));
}

TEST_F(Vouchercheck, MissingNetworkNameLeavesItEmpty) {
  fake.uci.clear();
  server.script(ServerReply::text("#@#valid"));
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_EQ(
      "POST /validate.php?voucher=ABC123&mac=00:11:22:33:44:55&network= HTTP/1.0\r\n"
      "Host: dash.test\r\n\r\n",
      server.request(0));
  // The command runner's complaint stays off the answer.
  EXPECT_EQ("valid", fake.stdout_text);
  EXPECT_EQ("Failed to get the output\n", fake.stderr_text);
}

TEST_F(Vouchercheck, NetworkNameWithABlankCannotBreakTheRequestLine) {
  fake.uci["node.status.network"] = "guest net&x";
  server.script(ServerReply::text("#@#valid"));
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_EQ(
      "POST /validate.php?voucher=ABC123&mac=00:11:22:33:44:55&network=guest%20net%26x HTTP/1.0\r\n"
      "Host: dash.test\r\n\r\n",
      server.request(0));
}

TEST_F(Vouchercheck, SilentDashboardTimesOut) {
  dashboard_link().reply_timeout = 1;
  ServerReply partial = ServerReply::text("#@#val");
  partial.hold = true;
  server.script(partial);
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_EQ("val", fake.stdout_text);
  EXPECT_EQ("recv() timed out.\n", fake.stderr_text);
}

TEST_F(Vouchercheck, AReplyThatNeverEndsIsReadNoFurtherThan64KiB) {
  ServerReply endless = ServerReply::segments(std::vector<std::string>(40, std::string(4096, 'v')), Millis(0));
  endless.pieces.front() = std::string(kHead) + "#@#" + endless.pieces.front();
  endless.hold = true;  // and the connection never closes
  server.script(endless);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(0, run({"vouchercheck", "x", "00:11:22:33:44:55", "ABC123"}));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_GE(fake.stdout_text.size(), 60000u);
  EXPECT_LE(fake.stdout_text.size(), 64u * 1024 + 4096);
  EXPECT_EQ(std::string(fake.stdout_text.size(), 'v'), fake.stdout_text);
  EXPECT_EQ("Reply longer than 65536 bytes: the rest is not read\n", fake.stderr_text);
}
