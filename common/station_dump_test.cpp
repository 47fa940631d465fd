#include "common/station_dump.h"

#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/handlers.h>
#include <netlink/socket.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/testing/fake_host.h"
#include "common/testing/nl_message.h"
#include "controller/program.h"
#include "reporters/clientscout_program.h"

namespace {

using Logs = std::vector<std::pair<int, std::string>>;
using Fill = std::function<void(NlMessage&)>;

const uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

void* options(const StationDumpOptions& o) { return const_cast<StationDumpOptions*>(&o); }

// One station reply as the kernel sends it, through the station handler.
void station_reply(const StationDumpOptions& o, const uint8_t (&mac)[6], const Fill& fill) {
  NlMessage m(NL80211_CMD_NEW_STATION);
  m.u32(NL80211_ATTR_IFINDEX, if_nametoindex("lo")).mac(NL80211_ATTR_MAC, mac);
  m.begin(NL80211_ATTR_STA_INFO);
  fill(m);
  m.end();
  EXPECT_EQ(NL_SKIP, station_handler(m.get(), options(o)));
}

// Generic netlink sockets exist here (not under qemu's user-mode emulation).
bool generic_netlink_available() {
  int fd = socket(AF_NETLINK, SOCK_RAW, NETLINK_GENERIC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool nl80211_present() {
  nl_sock* s = nl_socket_alloc();
  bool present = genl_connect(s) == 0 && genl_ctrl_resolve(s, "nl80211") >= 0;
  nl_socket_free(s);
  return present;
}

// A host whose prints and logs also reach files, so that a forked child's
// messages can be read after it has ended the program.
class FileRecordingHost : public FakeHost {
 public:
  void out(const char* text) override {
    FakeHost::out(text);
    std::ofstream(path("/rec.out"), std::ios::app) << text;
  }
  void log(int priority, const char* text) override {
    FakeHost::log(priority, text);
    std::ofstream(path("/rec.log"), std::ios::app) << priority << " " << text << "|";
  }
};

}  // namespace

TEST(StationReply, ClientRecords) {
  struct Case {
    const char* what;
    Fill fill;
    const char* line;
  };
  auto rate = [](uint16_t bitrate) {
    return
        [bitrate](NlMessage& m) { m.begin(NL80211_STA_INFO_TX_BITRATE).u16(NL80211_RATE_INFO_BITRATE, bitrate).end(); };
  };
  const Case cases[] = {
      {"every field",
       [](NlMessage& m) {
         m.u32(NL80211_STA_INFO_RX_BYTES, 512).u32(NL80211_STA_INFO_TX_BYTES, 300);
         m.u32(NL80211_STA_INFO_CONNECTED_TIME, 5 * 60 + 59);
         m.u8(NL80211_STA_INFO_SIGNAL_AVG, static_cast<uint8_t>(-52));
         m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG)
             .u8(0, static_cast<uint8_t>(-54))
             .u8(1, static_cast<uint8_t>(-57))
             .end();
         m.begin(NL80211_STA_INFO_TX_BITRATE)
             .u16(NL80211_RATE_INFO_BITRATE, 650)
             .u8(NL80211_RATE_INFO_MCS, 7)
             .flag(NL80211_RATE_INFO_SHORT_GI)
             .end();
       },
       "mac=00:11:22:33:44:55;rx=512;tx=300;ctime=5;rssi=-52[-54, -57] ;txbitrate=65.0 MBit/s MCS 7 short GI|"},
      {"no connected time", [](NlMessage& m) { m.u32(NL80211_STA_INFO_RX_BYTES, 1).u32(NL80211_STA_INFO_TX_BYTES, 2); },
       "mac=00:11:22:33:44:55;rx=1;tx=2"},
      {"59 seconds", [](NlMessage& m) { m.u32(NL80211_STA_INFO_CONNECTED_TIME, 59); }, "mac=00:11:22:33:44:55;ctime=0"},
      {"an hour", [](NlMessage& m) { m.u32(NL80211_STA_INFO_CONNECTED_TIME, 3600); }, "mac=00:11:22:33:44:55;ctime=60"},
      {"rx without tx", [](NlMessage& m) { m.u32(NL80211_STA_INFO_RX_BYTES, 512); }, "mac=00:11:22:33:44:55"},
      {"signal 0xC8 without chains",
       [&](NlMessage& m) {
         m.u8(NL80211_STA_INFO_SIGNAL_AVG, 0xC8);
         rate(540)(m);
       },
       "mac=00:11:22:33:44:55;rssi=-56;txbitrate=54.0 MBit/s|"},
      {"chains without an average",
       [](NlMessage& m) { m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).u8(0, static_cast<uint8_t>(-54)).end(); },
       "mac=00:11:22:33:44:55"},
      {"rate 0 with an MCS",
       [](NlMessage& m) {
         m.begin(NL80211_STA_INFO_TX_BITRATE).u16(NL80211_RATE_INFO_BITRATE, 0).u8(NL80211_RATE_INFO_MCS, 7).end();
       },
       "mac=00:11:22:33:44:55;txbitrate= MCS 7|"},
      {"a rate that does not parse",
       [](NlMessage& m) { m.begin(NL80211_STA_INFO_TX_BITRATE).u8(NL80211_RATE_INFO_BITRATE, 1).end(); },
       "mac=00:11:22:33:44:55;txbitrate=failed to parse nested rate attributes!|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeHost fake;
    ScopedHost scope(fake);
    station_reply(kClientscoutDump, kMac, c.fill);
    EXPECT_EQ(std::string(c.line) + "\n", fake.read("/tmp/.clients"));
    EXPECT_EQ((Logs{{LOG_DEBUG, "Station 00:11:22:33:44:55 (on lo)"}}), fake.logs);
    EXPECT_EQ("", fake.stdout_text);
    EXPECT_EQ("", fake.stderr_text);
  }
}

TEST(StationReply, MalformedRepliesAreSkipped) {
  struct Case {
    const char* what;
    std::function<void(NlMessage&)> build;
    const char* out;
    const char* err;
  };
  const char* parse_table = "Failed to run parse table\n";
  const char* nested = "failed to parse nested attributes!\n";
  auto with_info = [](const Fill& fill) {
    return [fill](NlMessage& m) {
      m.mac(NL80211_ATTR_MAC, kMac).begin(NL80211_ATTR_STA_INFO);
      fill(m);
      m.end();
    };
  };
  const Case cases[] = {
      {"no station information", [](NlMessage& m) { m.mac(NL80211_ATTR_MAC, kMac); }, "", "sta stats missing!\n"},
      {"a four-byte MAC",
       [](NlMessage& m) {
         m.bytes(NL80211_ATTR_MAC, {1, 2, 3, 4}).begin(NL80211_ATTR_STA_INFO).end();
       },
       parse_table, ""},
      {"a two-byte index",
       [](NlMessage& m) {
         m.u16(NL80211_ATTR_IFINDEX, 1).mac(NL80211_ATTR_MAC, kMac).begin(NL80211_ATTR_STA_INFO).end();
       },
       parse_table, ""},
      {"an attribute running past the message",
       [](NlMessage& m) { m.begin(NL80211_ATTR_STA_INFO).end().mac(NL80211_ATTR_MAC, kMac).stretch_last(64); },
       parse_table, ""},
      {"no room for the generic header", [](NlMessage& m) { m.cut(NLMSG_HDRLEN + 2); }, parse_table, ""},
      {"two-byte received bytes", with_info([](NlMessage& m) { m.u16(NL80211_STA_INFO_RX_BYTES, 5); }), "", nested},
      {"empty signal average", with_info([](NlMessage& m) { m.put(NL80211_STA_INFO_SIGNAL_AVG, nullptr, 0); }), "",
       nested},
      {"short station flags", with_info([](NlMessage& m) { m.u32(NL80211_STA_INFO_STA_FLAGS, 0); }), "", nested},
      {"an inner attribute running past its nest",
       with_info([](NlMessage& m) { m.u32(NL80211_STA_INFO_RX_BYTES, 5).stretch_last(8); }), "", nested},
      {"an empty chain entry", with_info([](NlMessage& m) {
         m.u8(NL80211_STA_INFO_SIGNAL_AVG, 200);
         m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).put(0, nullptr, 0).end();
       }),
       "", nested},
      {"no MAC", [](NlMessage& m) { m.begin(NL80211_ATTR_STA_INFO).u32(NL80211_STA_INFO_RX_BYTES, 5).end(); }, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const StationDumpOptions* o : {&kClientscoutDump, &kControllerDump}) {
      FakeHost fake;
      ScopedHost scope(fake);
      neighbour_macs.clear();
      neighbour_signals.clear();
      NlMessage m(NL80211_CMD_NEW_STATION);
      c.build(m);
      EXPECT_EQ(NL_SKIP, station_handler(m.get(), options(*o)));
      EXPECT_EQ(c.out, fake.stdout_text);
      EXPECT_EQ(c.err, fake.stderr_text);
      EXPECT_FALSE(fake.exists("/tmp/.clients"));
      EXPECT_TRUE(fake.logs.empty());
      EXPECT_STREQ("", neighbour_macs.c_str());
    }
  }
}

TEST(StationReply, NeighbourListsOfTheController) {
  FakeHost fake;
  ScopedHost scope(fake);
  neighbour_macs.clear();
  neighbour_signals.clear();
  const uint8_t first[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01};
  const uint8_t second[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x02};
  const uint8_t third[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x03};
  station_reply(kControllerDump, first, [](NlMessage& m) {
    m.u8(NL80211_STA_INFO_SIGNAL_AVG, static_cast<uint8_t>(-60));
    m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).u8(0, static_cast<uint8_t>(-61)).end();
  });
  station_reply(kControllerDump, second,
                [](NlMessage& m) { m.u8(NL80211_STA_INFO_SIGNAL_AVG, static_cast<uint8_t>(-71)); });
  EXPECT_STREQ("AA:BB:CC:DD:EE:01;AA:BB:CC:DD:EE:02", neighbour_macs.c_str());
  EXPECT_STREQ("-60;-71", neighbour_signals.c_str());
  // A station without a signal average adds its MAC only.
  station_reply(kControllerDump, third, [](NlMessage& m) { m.u32(NL80211_STA_INFO_RX_BYTES, 1); });
  EXPECT_STREQ("AA:BB:CC:DD:EE:01;AA:BB:CC:DD:EE:02;AA:BB:CC:DD:EE:03", neighbour_macs.c_str());
  EXPECT_STREQ("-60;-71", neighbour_signals.c_str());
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_TRUE(fake.logs.empty());
  EXPECT_FALSE(fake.exists("/tmp/.clients"));
}

TEST(StationReply, FullNeighbourListsStopAtAWholeEntry) {
  FakeHost fake;
  ScopedHost scope(fake);
  neighbour_macs.clear();
  neighbour_signals.clear();
  for (int i = 0; i < 60; ++i) {
    const uint8_t mac[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, static_cast<uint8_t>(i)};
    station_reply(kControllerDump, mac,
                  [](NlMessage& m) { m.u8(NL80211_STA_INFO_SIGNAL_AVG, static_cast<uint8_t>(-100)); });
  }
  // 56 entries of 17 characters and a separator fit in 1024 bytes.
  std::string macs = neighbour_macs.c_str();
  EXPECT_EQ(56u * 18 - 1, macs.size());
  EXPECT_EQ("AA:BB:CC:DD:EE:37", macs.substr(macs.size() - 17));
  std::string signals = neighbour_signals.c_str();
  EXPECT_EQ(56u * 5 - 1, signals.size());
  EXPECT_EQ("-100;-100", signals.substr(signals.size() - 9));
}

TEST(DumpHandlers, ErrorAckAndFinish) {
  FakeHost fake;
  ScopedHost scope(fake);
  int status = 1;
  nlmsgerr err{};
  err.error = -19;
  EXPECT_EQ(NL_STOP, dump_error_handler(nullptr, &err, &status));
  EXPECT_EQ(-19, status);
  status = 5;
  EXPECT_EQ(NL_SKIP, dump_ack_handler(nullptr, &status));
  EXPECT_EQ(0, status);
  status = 1;
  EXPECT_EQ(NL_SKIP, dump_finish_handler(nullptr, &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ("Ack Handler received: 5\nFinish handler ret val: 1\n", fake.stdout_text);
}

// This machine's kernel has no nl80211 (and under qemu's user-mode emulation
// no generic netlink at all): the set-up fails with its messages.
TEST(StationSetup, ClientscoutEndsWithoutNl80211) {
  if (nl80211_present()) GTEST_SKIP() << "this kernel has nl80211";
  FileRecordingHost fake;
  EXPECT_EXIT(
      {
        ScopedHost scope(fake);
        station_nl_init(kClientscoutDump);
      },
      ::testing::ExitedWithCode(1), "");
  std::string logs = generic_netlink_available()
                         ? "7 netlink socket alloc done|7 Connected to generic netlink|3 nl80211 not found|"
                         : "7 netlink socket alloc done|3 Failed to connect to generic netlink|";
  EXPECT_EQ(logs, fake.read("/rec.log"));
  EXPECT_EQ("Failed to initialize the nl80211\n", fake.read("/rec.out"));
}

TEST(StationSetup, ControllerReportsWithoutNl80211) {
  if (nl80211_present()) GTEST_SKIP() << "this kernel has nl80211";
  FakeHost fake;
  ScopedHost scope(fake);
  neighbour_macs.set("AA:BB:CC:DD:EE:01");
  neighbour_signals.set("-60");
  EXPECT_EQ(1, neighbour_dump("mesh0", kControllerDump));
  EXPECT_EQ(generic_netlink_available() ? "nl80211 not found.\nOUT handle destroy called\n"
                                        : "Failed to connect to generic netlink.\nOUT handle destroy called\n",
            fake.stdout_text);
  EXPECT_TRUE(fake.logs.empty());
  // The lists of the last dump stand.
  EXPECT_STREQ("AA:BB:CC:DD:EE:01", neighbour_macs.c_str());
  EXPECT_STREQ("-60", neighbour_signals.c_str());
}

namespace {

// A socket on generic netlink that addresses the controller family, which
// has no station command: the kernel answers each dump with an error.
class KernelDump : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!generic_netlink_available()) GTEST_SKIP() << "no generic netlink sockets here";
    state.sock = nl_socket_alloc();
    ASSERT_EQ(0, genl_connect(state.sock));
    ASSERT_EQ(0, nl_socket_set_nonblocking(state.sock));
    state.id = GENL_ID_CTRL;
  }
  void TearDown() override {
    if (state.sock) nl_socket_free(state.sock);
  }
  FakeHost fake;
  ScopedHost scope{fake};
  station_nl_state state;
};

}  // namespace

TEST_F(KernelDump, ClientscoutReadsTheErrorAndFreesEverything) {
  station_nl_state saved = station_state;
  station_state = state;
  EXPECT_EQ(0, station_dump("lo", kClientscoutDump));
  station_state = saved;
  EXPECT_EQ((Logs{{LOG_DEBUG, "Interface - lo on Index: 1"},
                  {LOG_DEBUG, "Allocated netlink message"},
                  {LOG_DEBUG, "Allocated netlink callback"},
                  {LOG_DEBUG, "generic netlink msg header set"},
                  {LOG_DEBUG, "Netlink message set"},
                  {LOG_DEBUG, "nl_recvmsgs returns -10\n"}}),
            fake.logs);
  EXPECT_EQ(
      "Reading message\nMessage received \nFreeing callback:sizeo of r_cb:4 \n"
      "Freeing msg: Sizeof msg :4\nFree callback: sizeof s_cb:4\n",
      fake.stdout_text);
  EXPECT_FALSE(fake.exists("/tmp/.clients"));
}

TEST_F(KernelDump, ControllerPrintsAndKeepsTheErrorAsResult) {
  neighbour_macs.set("AA:BB:CC:DD:EE:01");
  neighbour_signals.set("-60");
  DumpOutcome d = dump_stations(state, "lo", kControllerDump);
  EXPECT_EQ(DumpEnd::kDone, d.end);
  EXPECT_EQ(-10, d.status);  // the library's code for EOPNOTSUPP
  EXPECT_EQ(
      "Interface - lo on Index: 1\nAllocated netlink message\nAllocated netlink callback\n"
      "Netlink message set\nReading message\nnl_recvmsgs returns -10\nMessage received \n"
      "Freeing callback:sizeo of r_cb:4 \nFreeing msg: Sizeof msg :4\nReturn from free_msg\n"
      "Free callback: sizeof s_cb:4\nfree s_cb\n",
      fake.stdout_text);
  EXPECT_TRUE(fake.logs.empty());
  EXPECT_STREQ("", neighbour_macs.c_str());  // zeroed by the dump
  EXPECT_STREQ("", neighbour_signals.c_str());
}

TEST(StationDumpBuild, MessagesTooSmallForTheRequest) {
  long page = sysconf(_SC_PAGESIZE);
  station_nl_state none;  // never reached: nothing is sent
  {
    // Room for the netlink header only: the generic header fails, then the index.
    FakeHost fake;
    ScopedHost scope(fake);
    nlmsg_set_default_size(NLMSG_HDRLEN);
    station_nl_state saved = station_state;
    station_state = none;
    EXPECT_EQ(0, station_dump("lo", kClientscoutDump));
    station_state = saved;
    EXPECT_EQ((Logs{{LOG_DEBUG, "Interface - lo on Index: 1"},
                    {LOG_DEBUG, "Allocated netlink message"},
                    {LOG_DEBUG, "Allocated netlink callback"},
                    {LOG_ERR, "Failed to put the generic netlink header"}}),
              fake.logs);
    EXPECT_EQ("Free callback: sizeof s_cb:4\n", fake.stdout_text);
  }
  {
    // Room for both headers but not the index.
    FakeHost fake;
    ScopedHost scope(fake);
    nlmsg_set_default_size(NLMSG_HDRLEN + GENL_HDRLEN);
    DumpOutcome d = dump_stations(none, "lo", kControllerDump);
    EXPECT_EQ(DumpEnd::kBuildFailed, d.end);
    EXPECT_EQ(
        "Interface - lo on Index: 1\nAllocated netlink message\nAllocated netlink callback\n"
        "Free callback: sizeof s_cb:4\n",
        fake.stdout_text);
  }
  nlmsg_set_default_size(static_cast<size_t>(page));
}
