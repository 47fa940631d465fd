// Reading dashboard replies: process_http's payload rules, the paced reader
// and the receive time-outs, against the scripted server on loopback.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/endpoints.h"
#include "common/framing.h"
#include "common/process_http.h"
#include "common/reply_reader.h"
#include "common/testing/fake_host.h"
#include "common/testing/http_server.h"
#include "common/transport.h"
#include "lonely/program.h"
#include "watchdog/checks.h"

namespace {

const char kHead[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
const char kPingRequest[] =
    "POST /serverping.php?fw=QX HTTP/1.0\r\nHost: dash.test\r\n"
    "Content-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n";

std::string g_node_id;
int g_node_id_calls = 0;
void take_node_id(const char* payload) {
  g_node_id = payload;
  ++g_node_id_calls;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

class Exchange : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server.error());
    fake.hosts["dash.test"] = "127.0.0.1";
    dashboard_link().port = server.port();
    g_node_id.clear();
    g_node_id_calls = 0;
  }
  int connect() {
    int sock = connect_to(kLonelyConnect, "dash.test", nullptr);
    EXPECT_GE(sock, 0);
    fake.stdout_text.clear();
    return sock;
  }
  // Connects and sends a check-in, as the paced reader's callers do.
  int ask() {
    int sock = connect();
    const char request[] = "POST /c?mac=&data= HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: dash.test\r\n\r\n";
    EXPECT_EQ(static_cast<ssize_t>(sizeof(request) - 1), send_request(sock, request, sizeof(request) - 1));
    return sock;
  }
  ScriptedServer server;
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

TEST_F(Exchange, ReplyCheckAcceptsExactlySucceedAfterTheMarker) {
  struct Case {
    ServerReply reply;
    int result;
  };
  const std::string h = kHead;
  const std::vector<Case> cases = {
      {ServerReply::text(h + "#@#Succeed\n"), 0},
      {ServerReply::text(h + "#@#Succeed \n"), 1},
      {ServerReply::text(h + "Succeed"), 1},  // no marker: the whole reply
      {ServerReply::text("Succeed\n"), 0},    // no marker, nothing else
      {ServerReply::text(h + "#@#Succeed\r\n"), 0},
      {ServerReply::text(h + "#@#Succeed\r"), 1},    // a "\r" alone stays
      {ServerReply::text(h + "#@#Succeed\n\n"), 1},  // one line end only
      {ServerReply::text(h + "#@#Succeed"), 0},
      {ServerReply::text("x#y#@#Succeed\n"), 1},  // marker only at the first "#"
      {ServerReply::text("Succeed#@"), 1},
      {ServerReply::segments({h, "#@#", "Succeed\n"}, Millis(150)), 0},
      {ServerReply::after(Millis(300), h + "#@#Succeed\n"), 0},
      {ServerReply::text(""), 1},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    server.script(cases[i].reply);
    EXPECT_EQ(cases[i].result, process_http(connect(), "dash.test", kServerPingPath, kReplyCheck));
    EXPECT_EQ(kPingRequest, server.request(i));
  }
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_EQ("", fake.stderr_text);
}

TEST_F(Exchange, NodeIdModeHandsThePayloadOn) {
  server.script(ServerReply::segments({kHead, "#@#5:3:", "17\r\n"}, Millis(100)));
  EXPECT_EQ(0, process_http(connect(), "dash.test", "/nodeid.php?hw=QX&mac=QQ==", kNodeIdReply, take_node_id));
  EXPECT_EQ("5:3:17", g_node_id);
  EXPECT_EQ(1, g_node_id_calls);
  EXPECT_EQ(
      "POST /nodeid.php?hw=QX&mac=QQ== HTTP/1.0\r\nHost: dash.test\r\n"
      "Content-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n",
      server.request(0));
  // Without a handler, or in a mode of its own, nothing is handed on.
  server.script(ServerReply::text("#@#Succeed"));
  EXPECT_EQ(1, process_http(connect(), "dash.test", kServerPingPath, kNodeIdReply));
  EXPECT_EQ(1, process_http(connect(), "dash.test", kServerPingPath, 2, take_node_id));
  EXPECT_EQ(1, g_node_id_calls);
}

TEST_F(Exchange, AReplyLongerThanTheAreaIsCutToIt) {
  server.script(ServerReply::segments({"#@#" + std::string(4000, 'a'), std::string(4000, 'b')}, Millis(50)));
  EXPECT_EQ(0, process_http(connect(), "dash.test", "/nodeid.php", kNodeIdReply, take_node_id));
  EXPECT_EQ(std::string(4000, 'a') + std::string(1009, 'b'), g_node_id);  // 5012 bytes, marker dropped

  // The watchdog reads up to 30000 bytes: a marker that ends at byte 30000
  // counts, one byte later it is cut.
  server.script(ServerReply::text(std::string(29990, 'x') + "#@#Succeed"));
  server.script(ServerReply::text(std::string(29991, 'x') + "#@#Succeed"));
  EXPECT_EQ(0, process_http_watchdog(connect(), "dash.test", kServerPingPath));
  EXPECT_EQ(1, process_http_watchdog(connect(), "dash.test", kServerPingPath));
}

TEST_F(Exchange, WatchdogCheckLogsItsMessages) {
  server.script(ServerReply::text(std::string(kHead) + "#@#Succeed\n"));
  server.script(ServerReply::text(std::string(kHead) + "#@#Failed\n"));
  server.script(ServerReply::never());
  // "Succeed" trickled a byte at a time, each within the time-out: given up
  // at the exchange limit.
  ServerReply trickle = ServerReply::segments({"#", "@", "#", "S", "u", "c", "c", "e", "e", "d"}, Millis(300));
  trickle.hold = true;
  server.script(trickle);
  EXPECT_EQ(0, process_http_watchdog(connect(), "dash.test", kServerPingPath));
  EXPECT_EQ(kPingRequest, server.request(0));
  EXPECT_EQ(1, process_http_watchdog(connect(), "dash.test", kServerPingPath));
  dashboard_link().reply_timeout = 1;
  EXPECT_EQ(1, process_http_watchdog(connect(), "dash.test", kServerPingPath));
  dashboard_link().exchange_limit = 2;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(1, process_http_watchdog(connect(), "dash.test", kServerPingPath));
  EXPECT_LT(seconds_since(t0), 2.5);
  const std::vector<std::pair<int, std::string>> logs = {
      {7, "Response: Succeed"}, {7, "recv() timed out"}, {7, "Reply not complete after 2 s: given up"}};
  EXPECT_EQ(logs, fake.logs);
  EXPECT_EQ("", fake.stderr_text);
}

TEST_F(Exchange, ReceiveTimeOutEndsASilentDashboard) {
  dashboard_link().reply_timeout = 1;
  server.script(ServerReply::never());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(1, process_http(connect(), "dash.test", kServerPingPath, kReplyCheck));
  double took = seconds_since(t0);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 3.0);
  EXPECT_EQ("recv() timed out.\n", fake.stderr_text);

  // What came before the time-out is kept.
  server.script(ServerReply::text("#@#5:3:17"));
  ServerReply part = ServerReply::text("#@#1:2:3");
  part.hold = true;
  server.script(part);
  fake.stderr_text.clear();
  EXPECT_EQ(0, process_http(connect(), "dash.test", "/nodeid.php", kNodeIdReply, take_node_id));
  EXPECT_EQ("5:3:17", g_node_id);
  EXPECT_EQ(0, process_http(connect(), "dash.test", "/nodeid.php", kNodeIdReply, take_node_id));
  EXPECT_EQ("1:2:3", g_node_id);
  EXPECT_EQ("recv() timed out.\n", fake.stderr_text);
}

TEST_F(Exchange, FailedReceivesAndClosedConnections) {
  server.script(ServerReply::reset_after(""));
  EXPECT_EQ(1, process_http(connect(), "dash.test", kServerPingPath, kReplyCheck));
  EXPECT_EQ("recv() failed due to errno = " + std::to_string(ECONNRESET) + "\n", fake.stderr_text);

  // Read and closed without a word: no answer, and nothing to complain of.
  server.script(ServerReply::text(""));
  fake.stderr_text.clear();
  EXPECT_EQ(1, process_http(connect(), "dash.test", kServerPingPath, kReplyCheck));
  EXPECT_EQ("", fake.stderr_text);

  // A dashboard that hangs up before reading neither crashes the program (no
  // SIGPIPE) nor counts as an answer. Whether its reset or its close reaches
  // the receive first is the kernel's affair: either text, nothing else.
  server.script(ServerReply::closed());
  fake.stderr_text.clear();
  EXPECT_EQ(1, process_http(connect(), "dash.test", kServerPingPath, kReplyCheck));
  const std::string reset = "recv() failed due to errno = " + std::to_string(ECONNRESET) + "\n";
  EXPECT_TRUE(fake.stderr_text.empty() || fake.stderr_text == reset) << fake.stderr_text;
}

TEST_F(Exchange, PacedReaderReadsAReplyInPiecesWhole) {
  const std::string reply = std::string(kHead) + "#@#Q09ORklH\n";
  server.script(ServerReply::segments({kHead, "#@#Q09ORklH\n"}, Millis(200)));
  int sock = ask();
  char buf[4096];
  ASSERT_EQ(static_cast<int>(reply.size()), read_dashboard_reply(sock, buf, sizeof(buf), ReplyForm::kController));
  EXPECT_EQ(reply, buf);
  EXPECT_FALSE(is_open(sock));
  EXPECT_EQ("Reading Response\n", fake.stdout_text);
  const int head = static_cast<int>(strlen(kHead));
  const int total = static_cast<int>(reply.size());
  const std::vector<std::pair<int, std::string>> logs = {
      {7, "Read " + std::to_string(head) + " bytes, total now: " + std::to_string(head)},
      {7, "Read 12 bytes, total now: " + std::to_string(total)},
      {7, "Done reading reply, toatl " + std::to_string(total) + " bytes\n"},
      {7, "HTTP Response from Server [" + reply + "]"},
  };
  EXPECT_EQ(logs, fake.logs);

  // ifcounter prints its details.
  server.script(ServerReply::segments({"HTTP/1.0 ", "200 OK\r\n\r\n"}, Millis(200)));
  fake.logs.clear();
  sock = ask();
  ASSERT_EQ(19, read_dashboard_reply(sock, buf, sizeof(buf), ReplyForm::kIfcounter));
  EXPECT_STREQ("HTTP/1.0 200 OK\r\n\r\n", buf);
  EXPECT_EQ("Reading Response\nRead 9 bytes, total now: 9\nRead 10 bytes, total now: 19\n", fake.stdout_text);
  const std::vector<std::pair<int, std::string>> ifc_logs = {
      {7, "HTTP Response from Server: [HTTP/1.0 200 OK\r\n\r\n]"}};
  EXPECT_EQ(ifc_logs, fake.logs);
}

TEST_F(Exchange, PacedReaderBoundsEachWaitAndTheWholeReply) {
  // Scaled down: 1 s for each wait, 2 s for the whole reply.
  dashboard_link().reply_timeout = 1;
  dashboard_link().exchange_limit = 2;
  ServerReply trickle = ServerReply::segments(std::vector<std::string>(12, "2"), Millis(300));
  trickle.hold = true;
  const std::string silent = "Timed out reading data via select() from server";
  struct Case {
    ReplyForm form;
    ServerReply reply;
    int result;
    std::string said;    // the failure's message
    double least, most;  // seconds
  };
  const std::vector<Case> cases = {
      {ReplyForm::kController, ServerReply::never(), -1, silent, 0.9, 1.5},
      {ReplyForm::kIfcounter, ServerReply::never(), -1, silent, 0.9, 1.5},
      // Every wait shorter than the time-out, the whole longer: read whole.
      {ReplyForm::kController, ServerReply::segments({"HTTP/1.0 ", "200 ", "OK"}, Millis(700)), 15, "", 1.3, 1.9},
      {ReplyForm::kController, trickle, -1, "Reply not complete after 2 s: given up", 1.9, 2.5},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    server.script(c.reply);
    fake.logs.clear();
    int sock = ask();
    char buf[4096];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(c.result, read_dashboard_reply(sock, buf, sizeof(buf), c.form));
    double took = seconds_since(t0);
    EXPECT_GE(took, c.least);
    EXPECT_LT(took, c.most);
    EXPECT_FALSE(is_open(sock));
    if (c.result > 0) {
      EXPECT_STREQ("HTTP/1.0 200 OK", buf);
      continue;
    }
    EXPECT_EQ("Reading Response\n" + c.said + "\n", fake.stdout_text);
    if (c.form == ReplyForm::kController) {
      ASSERT_FALSE(fake.logs.empty());
      EXPECT_EQ((std::pair<int, std::string>{7, c.said}), fake.logs.back());  // after the pieces read
    } else {
      EXPECT_TRUE(fake.logs.empty());
    }
  }
}

TEST_F(Exchange, PacedReaderStopsAtAFullBufferWithoutWaiting) {
  ServerReply big = ServerReply::text(std::string(5000, 'z'));
  big.hold = true;  // the dashboard would keep the connection open
  server.script(big);
  dashboard_link().reply_timeout = 5;
  int sock = ask();
  char buf[4096];
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(4095, read_dashboard_reply(sock, buf, sizeof(buf), ReplyForm::kIfcounter));
  EXPECT_LT(seconds_since(t0), 2.0);
  EXPECT_EQ(std::string(4095, 'z'), buf);
}

TEST_F(Exchange, PacedReaderReportsAFailedRead) {
  server.script(ServerReply::reset_after(""));
  int sock = ask();
  char buf[4096];
  EXPECT_EQ(-1, read_dashboard_reply(sock, buf, sizeof(buf), ReplyForm::kIfcounter));
  EXPECT_EQ(std::string("Reading Response\nError while reading: ") + strerror(ECONNRESET) + "\n", fake.stdout_text);
  EXPECT_FALSE(is_open(sock));

  server.script(ServerReply::reset_after(""));
  fake.stdout_text.clear();
  sock = ask();
  EXPECT_EQ(-1, read_dashboard_reply(sock, buf, sizeof(buf), ReplyForm::kController));
  EXPECT_EQ("Reading Response\n", fake.stdout_text);
  const std::vector<std::pair<int, std::string>> logs = {
      {7, std::string("Error while reading: ") + strerror(ECONNRESET)}};
  EXPECT_EQ(logs, fake.logs);
}

TEST(ReplyPayload, MarkerIsLookedForAtTheFirstHashWithinTheReceivedBytes) {
  struct Case {
    std::string reply;
    size_t len;
    const char* payload;  // nullptr: no marker
  };
  const Case cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\n#@#abc", 25, "abc"},
      {"HTTP/1.0 200 OK\r\n\r\n#@#abc", 23, "a"},
      {"#@#", 3, ""},
      {"#@", 2, nullptr},
      {"no hash", 7, nullptr},
      {"a#b#@#c", 7, nullptr},
      // Bytes beyond the received length are not looked at.
      {"ab#@#c", 3, nullptr},
      {"ab#@#c", 4, nullptr},
      {"ab#@#c", 5, ""},
      {"ab", 0, nullptr},
  };
  for (const Case& c : cases) {
    const char* got = reply_payload(c.reply.c_str(), c.len);
    if (!c.payload) {
      EXPECT_EQ(nullptr, got) << c.reply << " " << c.len;
    } else {
      ASSERT_NE(nullptr, got) << c.reply;
      EXPECT_EQ(std::string(c.payload), std::string(got, strnlen(got, c.reply.c_str() + c.len - got)));
    }
  }
  // A buffer without terminator: the search ends at its length.
  char raw[4] = {'x', 'y', 'z', '#'};
  EXPECT_EQ(nullptr, reply_payload(raw, 3));
}

TEST(ReplyPayload, OneFinalLineEndIsRemoved) {
  const std::pair<const char*, const char*> cases[] = {
      {"a\n", "a"}, {"a\r\n", "a"}, {"a\r", "a\r"}, {"a\n\n", "a\n"}, {"\r\n", ""}, {"", ""}, {"a\n\r", "a\n\r"},
  };
  for (const auto& [in, out] : cases) {
    char buf[8];
    snprintf(buf, sizeof(buf), "%s", in);
    strip_final_line_end(buf);
    EXPECT_STREQ(out, buf) << in;
  }
}
