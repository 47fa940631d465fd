// Connection variants and request framings against the scripted server on
// loopback; names resolve through the fake host.
#include "common/transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "common/base64.h"
#include "common/endpoints.h"
#include "common/framing.h"
#include "common/testing/fake_host.h"
#include "common/testing/http_server.h"
#include "controller/program.h"
#include "lonely/program.h"
#include "portsense/program.h"
#include "reporters/clientscout_program.h"
#include "reporters/ifcounter_program.h"
#include "vouchercheck/program.h"
#include "watchdog/program.h"

namespace {

std::string logs_of(const FakeHost& fake) {
  std::string out;
  for (const auto& [prio, text] : fake.logs) out += std::to_string(prio) + " " + text + "|";
  return out;
}

class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server.error());
    fake.hosts["dash.test"] = "127.0.0.1";
    dashboard_link().port = server.port();
  }
  ScriptedServer server;
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

// What each variant says, and gives, when the name resolves, when it falls
// back, when it cannot resolve and when the connect fails.
TEST_F(Transport, ConnectionVariantsSayExactlyTheirMessages) {
  const std::string ok_err = std::string("Received Error: ") + hstrerror(0) + "\n";
  const std::string nf_err = std::string("Received Error: ") + hstrerror(HOST_NOT_FOUND) + "\n";
  struct Case {
    const char* what;
    const ConnectVariant* variant;
    const char* name;
    bool refused;  // nothing listens on the port
    bool connects;
    std::string out, err, logs;
  };
  const std::vector<Case> cases = {
      {"lonely resolves", &kLonelyConnect, "dash.test", false, true, "Resolving Host: dash.test\n", "", ""},
      {"lonely falls back", &kLonelyConnect, "nowhere.test", false, true,
       "Resolving Host: nowhere.test\nUsing fallback IP to connect the dashboard\n", "", ""},
      {"lonely refused", &kLonelyConnect, "dash.test", true, false,
       "Resolving Host: dash.test\nFailed to connect to auth server\n", "", ""},
      {"portsense falls back", &kPortsenseConnect, "nowhere.test", false, true, "", "", ""},
      {"portsense refused", &kPortsenseConnect, "nowhere.test", true, false, "Failed to connect to auth server\n", "",
       ""},
      {"watchdog falls back", &kWatchdogConnect, "nowhere.test", false, true, "", "",
       "7 Resolving Host: nowhere.test|7 Using fallback IP to connect the dashboard|"},
      {"watchdog refused", &kWatchdogConnect, "dash.test", true, false, "", "",
       "7 Resolving Host: dash.test|7 Failed to connect to auth server|"},
      {"check-in resolves", &kCheckinConnect, "dash.test", false, true,
       "Resolving Dashboard: dash.test\n" + ok_err +
           "Hostname: dash.test, Resolved to:127.0.0.1\n"
           "Socket Desc: ",
       "", ""},
      {"check-in falls back", &kCheckinConnect, "nowhere.test", false, true,
       "Resolving Dashboard: nowhere.test\nFailed to resolved nowhere.test\n"
       "Using fallback IP to connect the dashboard\n" +
           nf_err + "Socket Desc: ",
       "", ""},
      {"check-in refused", &kCheckinConnect, "dash.test", true, false,
       "Resolving Dashboard: dash.test\n" + ok_err +
           "Hostname: dash.test, Resolved to:127.0.0.1\n"
           "Failed to connect to auth server\n",
       "", ""},
      {"ifcounter has no fallback", &kIfcounterConnect, "nowhere.test", false, false,
       "Resolving Dashboard: nowhere.test\nFailed to resolved nowhere.test\n" + nf_err, "", ""},
      {"script download resolves", &kScriptConnect, "dash.test", false, true,
       "hostname: dash.test\naddress: 127.0.0.1\n", "Connect: Success\n", ""},
      {"script download unresolved", &kScriptConnect, "nowhere.test", false, false, "",
       std::string(" gethostbyname error for host: nowhere.test: ") + hstrerror(HOST_NOT_FOUND), ""},
      {"clientscout resolves", &kClientscoutConnect, "dash.test", false, true,
       "hostname: dash.test\naddress: 127.0.0.1\n", "", ""},
      {"vouchercheck falls back", &kVouchercheckConnect, "nowhere.test", false, true, "", "", ""},
      {"vouchercheck refused", &kVouchercheckConnect, "nowhere.test", true, false, "", "", ""},
  };
  const unsigned short refused = closed_port();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake.stdout_text.clear();
    fake.stderr_text.clear();
    fake.logs.clear();
    dashboard_link().port = c.refused ? refused : server.port();
    size_t before = server.connections();
    int sock = connect_to(*c.variant, c.name, "127.0.0.1");
    if (c.connects) {
      ASSERT_GE(sock, 0);
      // "Socket Desc: %d" carries the socket number.
      std::string out = c.out;
      if (out.size() >= 13 && out.compare(out.size() - 13, 13, "Socket Desc: ") == 0) {
        out += std::to_string(sock) + "\n";
      }
      EXPECT_EQ(out, fake.stdout_text);
      for (int i = 0; i < 200 && server.connections() == before; ++i) usleep(5000);
      EXPECT_EQ(before + 1, server.connections());
      close(sock);
    } else {
      EXPECT_EQ(-1, sock);
      EXPECT_EQ(c.out, fake.stdout_text);
    }
    EXPECT_EQ(c.err, fake.stderr_text);
    EXPECT_EQ(c.logs, logs_of(fake));
  }
}

TEST_F(Transport, DownloadVariantsHandBackASocketWhoseConnectFailed) {
  dashboard_link().port = closed_port();
  int sock = connect_to(kScriptConnect, "dash.test", nullptr);
  ASSERT_GE(sock, 0);
  EXPECT_EQ("hostname: dash.test\naddress: 127.0.0.1\n", fake.stdout_text);
#if defined(__mips__)
  // qemu-user hands SO_ERROR over untranslated, so under emulation only the
  // form of the report is checked.
  EXPECT_EQ(0u, fake.stderr_text.rfind("Connect: ", 0));
  EXPECT_NE("Connect: Success\n", fake.stderr_text);
#else
  EXPECT_EQ(std::string("Connect: ") + strerror(ECONNREFUSED) + "\n", fake.stderr_text);
#endif
  // Writing on it fails quietly instead of raising SIGPIPE.
  EXPECT_EQ(-1, send_request(sock, "x", 1));
  close(sock);
  // The custom script names its own port.
  fake.stderr_text.clear();
  dashboard_link().port = closed_port();
  sock = connect_to(kScriptConnect, "dash.test", nullptr, server.port());
  ASSERT_GE(sock, 0);
  EXPECT_EQ("Connect: Success\n", fake.stderr_text);
  close(sock);
}

TEST_F(Transport, AFallbackThatIsNoAddressNeverReachesTheNodeItself) {
  // 0.0.0.0 would reach the server listening on loopback.
  for (const char* bad : {"", "dashboard", "300.1.2.3"}) {
    fake.stdout_text.clear();
    EXPECT_EQ(-1, connect_to(kLonelyConnect, "nowhere.test", bad)) << bad;
    EXPECT_EQ(
        "Resolving Host: nowhere.test\nUsing fallback IP to connect the dashboard\n"
        "Failed to connect to auth server\n",
        fake.stdout_text);
  }
  EXPECT_EQ(-1, connect_to(kCheckinConnect, "nowhere.test", nullptr));
  usleep(50000);
  EXPECT_EQ(0u, server.connections());
}

TEST_F(Transport, NoSocketLeftIsReportedInEachForm) {
  // Lower the descriptor limit to the next free number: socket() then fails.
  int next = dup(0);
  ASSERT_GE(next, 0);
  close(next);
  rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(next);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &tight));
  int lonely = connect_to(kLonelyConnect, "dash.test", nullptr);
  int watchdog = connect_to(kWatchdogConnect, "dash.test", nullptr);
  int voucher = connect_to(kVouchercheckConnect, "dash.test", nullptr);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(-1, lonely);
  EXPECT_EQ(-1, watchdog);
  EXPECT_EQ(-1, voucher);
  const std::string reason = strerror(EMFILE);
  EXPECT_EQ("Resolving Host: dash.test\nFailed to create the new socket STREAM: " + reason + "\n", fake.stdout_text);
  EXPECT_EQ("7 Resolving Host: dash.test|7 Failed to create the new socket STREAM: " + reason + "|", logs_of(fake));
  EXPECT_EQ("", fake.stderr_text);
}

TEST_F(Transport, TheConnectedSocketDoesNotBlock) {
  int sock = connect_to(kLonelyConnect, "dash.test", nullptr);
  ASSERT_GE(sock, 0);
  EXPECT_TRUE(fcntl(sock, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(fcntl(sock, F_GETFD) & FD_CLOEXEC);
  close(sock);
}

// Every framing as the dashboard receives it, compared whole.
TEST_F(Transport, RequestFramingsArriveByteForByte) {
  FixedText<32> mac;
  b64_encode("00:1A:2B:3C:4D:5E", mac);
  FixedText<512> stats;
  statistics_data(300, 120, 4, -2, stats);
  FixedText<512> stats64;
  b64_encode(stats, stats64);
  FixedText<100> nodeid;
  nodeid_path(mac, nodeid);
  FixedText<100> body;
  client_list_body(mac, "RW1wdHk=", body);
  FixedText<300> voucher;
  voucher_query("ABC123", "00:11:22:33:44:55", "office", voucher);
  FixedText<64> script;
  script_body("", script);

  // Each framing formatted into the 5012-byte request area, with what the
  // dashboard must receive.
  std::vector<std::pair<std::string, std::string>> cases;
  char area[5012];
  auto add = [&](bool whole, const std::string& expected) {
    EXPECT_TRUE(whole) << expected;
    cases.emplace_back(area, expected);
  };
  const size_t n = sizeof(area);
  add(frame_empty_post(nodeid, "dash.test", area, n),
      "POST /nodeid.php?hw=QX&mac=MDA6MUE6MkI6M0M6NEQ6NUU= HTTP/1.0\r\nHost: dash.test\r\n"
      "Content-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n");
  add(frame_empty_post(kServerPingPath, "dash.test", area, n),
      "POST /serverping.php?fw=QX HTTP/1.0\r\nHost: dash.test\r\n"
      "Content-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n");
  add(frame_form_post(kClientListPath, "dash.test", body, area, n),
      "POST /client.php HTTP/1.0\r\nHost: dash.test\r\n"
      "Content-type: application/x-www-form-urlencoded\r\nContent-length: 41\r\n\r\n"
      "id=MDA6MUE6MkI6M0M6NEQ6NUU=&data=RW1wdHk=");
  add(frame_form_post("/scripts//custom.sh", "dash.test", script, area, n),
      "POST /scripts//custom.sh HTTP/1.0\r\nHost: dash.test\r\n"
      "Content-type: application/x-www-form-urlencoded\r\nContent-length: 6\r\n\r\ndata1=");
  add(frame_checkin("/checkin.php", mac, "aHc9QVA=", "dash.test", area, n),
      "POST /checkin.php?mac=MDA6MUE6MkI6M0M6NEQ6NUU=&data=aHc9QVA= HTTP/1.0\r\n"
      "User-Agent:Kestrel 0.1\r\nHost: dash.test\r\n\r\n");
  add(frame_statistics("/stats.php", mac, stats64, "dash.test", area, n),
      "POST /stats.php?mac=MDA6MUE6MkI6M0M6NEQ6NUU=&data=cnhiPTMwMCZ0eGI9MTIwJnJ4cD00JnR4cD0tMg==  HTTP/1.0\r\n"
      "User-Agent:Kestrel 0.1\r\nHost: dash.test\r\n\r\n");
  add(frame_query_post(kValidatePath, voucher, "dash.test", area, n),
      "POST /validate.php?voucher=ABC123&mac=00:11:22:33:44:55&network=office HTTP/1.0\r\n"
      "Host: dash.test\r\n\r\n");

  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string& request = cases[i].first;
    SCOPED_TRACE(cases[i].second);
    server.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n"));
    int sock = connect_to(kLonelyConnect, "dash.test", nullptr);
    ASSERT_GE(sock, 0);
    EXPECT_EQ(static_cast<ssize_t>(request.size()), send_request(sock, request.data(), request.size()));
    EXPECT_EQ(cases[i].second, server.request(i));
    close(sock);
  }
}

TEST_F(Transport, AFramingThatDoesNotFitIsReportedCut) {
  char out[40];
  EXPECT_FALSE(frame_query_post("/validate.php", "voucher=1234567890", "dash.test", out, sizeof(out)));
  EXPECT_EQ(39u, strlen(out));
  EXPECT_TRUE(frame_query_post("/v", "q", "h", out, sizeof(out)));
  FixedText<16> q;
  EXPECT_FALSE(voucher_query("ABC123", "00:11:22:33:44:55", "office", q));
}

TEST_F(Transport, ALargeRequestIsSentWhole) {
  // More than a socket buffer takes at once: the rest follows as room frees.
  std::string body(600000, 'x');
  std::string request;
  request.resize(body.size() + 300);
  ASSERT_TRUE(frame_form_post("/client.php", "dash.test", body.c_str(), request.data(), request.size()));
  request.resize(strlen(request.c_str()));
  int sock = connect_to(kLonelyConnect, "dash.test", nullptr);
  ASSERT_GE(sock, 0);
  EXPECT_EQ(static_cast<ssize_t>(request.size()), send_request(sock, request.data(), request.size()));
  EXPECT_EQ(request, server.request(0, Millis(10000)));
  close(sock);
}

TEST_F(Transport, ASendThatFindsNoRoomGivesUpAfterOneReplyWait) {
  EXPECT_EQ(30, DashboardLink{}.reply_timeout);  // on the node
  // A peer that never reads: once the buffers on both sides are full,
  // nothing moves.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(at);
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)));
  ASSERT_EQ(0, listen(listener, 1));
  ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len));
  int sock = connect_to(kLonelyConnect, "dash.test", nullptr, ntohs(at.sin_port));
  ASSERT_GE(sock, 0);
  dashboard_link().reply_timeout = 1;
  std::string request(32 << 20, 'x');
  auto t0 = std::chrono::steady_clock::now();
  errno = 0;
  EXPECT_EQ(-1, send_request(sock, request.data(), request.size()));
  EXPECT_EQ(EAGAIN, errno);
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(4));
  dashboard_link().reply_timeout = 30;
  close(sock);
  close(listener);
}
