// Reading /tmp/.clients within the request's room: a list too long for the
// buffers loses whole records from its end, never half of one, and the
// request it makes still fits.
#include "reporters/client_list.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>

#include "common/build_config.h"
#include "reporters/testing/report_test.h"

namespace {

class ClientList : public ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    fake.hosts[DASHBOARD_HOST] = "127.0.0.1";
    make_report_config(config);
    dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n"));
  }
  // Whole record lines of `line_len` bytes (line end included) filling
  // `total` bytes; the last one takes the remainder.
  static std::string records(size_t total, size_t line_len) {
    std::string out;
    int n = 0;
    while (out.size() < total) {
      size_t len = total - out.size() < 2 * line_len ? total - out.size() : line_len;
      std::string line = "mac=" + std::to_string(n++) + ";";
      line.resize(len - 1, 'x');
      out += line + "\n";
    }
    return out;
  }

  ReportConfig config;
};

}  // namespace

TEST_F(ClientList, ReportConfigOfTheBuiltInDashboard) {
  EXPECT_STREQ(DASHBOARD_HOST, config.host.c_str());
  EXPECT_STREQ("/client.php", config.path.c_str());
  EXPECT_EQ(60u, config.period);
  EXPECT_EQ(0, config.empty_sent);
}

TEST_F(ClientList, ReadingCutsAfterTheLastWholeLineThatFits) {
  struct Case {
    const char* file;  // nullptr: no file
    size_t room;
    ListRead read;
    const char* list;
  };
  const Case cases[] = {
      {nullptr, 100, ListRead::kWhole, ""},
      {"", 100, ListRead::kWhole, ""},
      {"a\nbb\nccc\n", 100, ListRead::kWhole, "a\nbb\nccc\n"},
      {"a\nbb\nccc\n", 9, ListRead::kWhole, "a\nbb\nccc\n"},  // exactly the room
      {"a\nbb\nccc\n", 8, ListRead::kCut, "a\nbb\n"},
      {"a\nbb\nccc\n", 5, ListRead::kCut, "a\nbb\n"},
      {"a\nbb\nccc\n", 4, ListRead::kCut, "a\n"},
      {"a\nbb\nccc\n", 1, ListRead::kNothingFits, ""},
      {"a\nbb", 4, ListRead::kWhole, "a\nbb"},
      {"a\nbbbbbb", 4, ListRead::kCut, "a\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file ? c.file : "<none>") + " room " + std::to_string(c.room));
    fake.remove("/tmp/.clients");
    if (c.file) fake.write("/tmp/.clients", c.file);
    char list[16];
    memset(list, 'z', sizeof(list));
    EXPECT_EQ(c.read, read_client_list(list, sizeof(list), c.room));
    EXPECT_STREQ(c.list, list);
    // Nothing of the cut part stays behind the terminator.
    for (size_t i = strlen(c.list); i < sizeof(list); ++i) EXPECT_EQ('\0', list[i]) << i;
  }
}

TEST_F(ClientList, AListOfExactlyTheRoomIsSentWholeWithinTheRequestArea) {
  size_t room = client_list_room(config, 24);
  ASSERT_GT(room, 28000u);  // "about 28,000 bytes" with a host name of ordinary length
  std::string list = records(room, 100);
  ASSERT_EQ(room, list.size());
  fake.write("/tmp/.clients", list);
  EXPECT_EQ(0, send_client_list(config, "00:1A:2B:3C:4D:5E"));
  std::string request = dashboard.request(0);
  EXPECT_LE(request.size(), kClientRequestArea - 1);
  size_t body_at = request.find("\r\n\r\n") + 4;
  EXPECT_NE(std::string::npos, request.find("Content-length: " + std::to_string(request.size() - body_at) + "\r\n"));
  EXPECT_EQ(list, decoded(field(request, "data=")));
  EXPECT_TRUE(logs(LOG_INFO).empty());
  // Three bytes more would need one more group than the request has room for.
  EXPECT_GT(body_at + 9 + 24 + (room + 3) / 3 * 4, kClientRequestArea - 1);
}

TEST_F(ClientList, ALongerListLosesWholeRecordsFromItsEnd) {
  size_t room = client_list_room(config, 24);
  std::string list = records(40000, 120);
  fake.write("/tmp/.clients", list);
  EXPECT_EQ(0, send_client_list(config, "00:1A:2B:3C:4D:5E"));
  std::string request = dashboard.request(0);
  EXPECT_LE(request.size(), kClientRequestArea - 1);
  std::string sent = decoded(field(request, "data="));
  size_t whole = room / 120 * 120;
  EXPECT_EQ(list.substr(0, whole), sent);
  EXPECT_EQ((std::vector<std::string>{"Client list too long: sending its first " + std::to_string(whole) + " bytes"}),
            logs(LOG_INFO));
  EXPECT_EQ(0, config.empty_sent);
}

TEST_F(ClientList, ARecordLongerThanTheRoomIsNotSentAsEmpty) {
  fake.write("/tmp/.clients", std::string(40000, 'x') + "\n");
  EXPECT_EQ(1, send_client_list(config, "00:1A:2B:3C:4D:5E"));
  EXPECT_EQ(0u, dashboard.connections());
  EXPECT_EQ(0, config.empty_sent);
  EXPECT_EQ((std::vector<std::string>{"Client list not sent: its first record does not fit the request"}),
            logs(LOG_INFO));
}

TEST_F(ClientList, TheRoomShrinksWithTheHostName) {
  ReportConfig longer = config;
  longer.host.set("a-much-longer-dashboard-host-name.example.org");
  size_t room = client_list_room(config, 24);
  size_t less = client_list_room(longer, 24);
  EXPECT_LT(less, room);
  EXPECT_EQ(0u, less % 3);  // whole base64 groups
}
