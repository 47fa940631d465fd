// The whole station dump through libnl's real receive path: a second netlink
// socket of this test plays the kernel's part and queues the dump's replies
// on the dump's socket before the request goes out. Sending to another
// socket's port needs CAP_NET_ADMIN.
#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/genl.h>
#include <netlink/socket.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/station_dump.h"
#include "common/testing/fake_host.h"
#include "common/testing/nl_message.h"
#include "controller/program.h"
#include "reporters/clientscout_program.h"

namespace {

class FakeKernelDump : public ::testing::Test {
 protected:
  void SetUp() override {
    kernel_ = socket(AF_NETLINK, SOCK_RAW, NETLINK_GENERIC);
    if (kernel_ < 0) GTEST_SKIP() << "no generic netlink sockets here";
    state.sock = nl_socket_alloc();
    ASSERT_EQ(0, genl_connect(state.sock));
    ASSERT_EQ(0, nl_socket_set_nonblocking(state.sock));
    state.id = GENL_ID_CTRL;  // the real kernel's own answer is never read
    // The replies carry the sequence number the socket expects next; the
    // request itself takes the one after it.
    seq_ = nl_socket_use_seq(state.sock);
  }
  void TearDown() override {
    if (state.sock) nl_socket_free(state.sock);
    if (kernel_ >= 0) close(kernel_);
  }

  // Queues one reply on the dump's socket; false when not allowed here.
  bool queue(NlMessage& m) {
    nlmsghdr* h = m.header();
    h->nlmsg_seq = seq_;
    h->nlmsg_flags |= NLM_F_MULTI;
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_pid = nl_socket_get_local_port(state.sock);
    if (sendto(kernel_, h, h->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) < 0) {
      denied_ = errno == EPERM;
      return false;
    }
    return true;
  }
  bool queue_station(const uint8_t (&mac)[6], int8_t signal) {
    NlMessage m(NL80211_CMD_NEW_STATION, GENL_ID_CTRL);
    m.u32(NL80211_ATTR_IFINDEX, if_nametoindex("lo")).mac(NL80211_ATTR_MAC, mac);
    m.begin(NL80211_ATTR_STA_INFO)
        .u32(NL80211_STA_INFO_RX_BYTES, 512)
        .u32(NL80211_STA_INFO_TX_BYTES, 300)
        .u8(NL80211_STA_INFO_SIGNAL_AVG, static_cast<uint8_t>(signal))
        .end();
    return queue(m);
  }
  bool queue_done() {
    NlMessage m(0, NLMSG_DONE);
    return queue(m);
  }
  // Skips the test when this process may not play the kernel.
  bool skipped() { return denied_; }

  FakeHost fake;
  ScopedHost scope{fake};
  station_nl_state state;
  const uint8_t first_[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01};
  const uint8_t second_[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x02};

 private:
  int kernel_ = -1;
  unsigned seq_ = 0;
  bool denied_ = false;
};

}  // namespace

TEST_F(FakeKernelDump, ClientscoutWritesOneRecordPerStation) {
  if (!queue_station(first_, -60) && skipped()) GTEST_SKIP() << "needs CAP_NET_ADMIN";
  ASSERT_TRUE(queue_station(second_, -71));
  ASSERT_TRUE(queue_done());
  station_nl_state saved = station_state;
  station_state = state;
  EXPECT_EQ(0, station_dump("lo", kClientscoutDump));
  station_state = saved;
  EXPECT_EQ(
      "mac=aa:bb:cc:dd:ee:01;rx=512;tx=300;rssi=-60\n"
      "mac=aa:bb:cc:dd:ee:02;rx=512;tx=300;rssi=-71\n",
      fake.read("/tmp/.clients"));
  EXPECT_EQ(
      "Reading message\nFinish handler ret val: 1\nMessage received \n"
      "Freeing callback:sizeo of r_cb:4 \nFreeing msg: Sizeof msg :4\nFree callback: sizeof s_cb:4\n",
      fake.stdout_text);
  ASSERT_EQ(8u, fake.logs.size());
  EXPECT_EQ(std::make_pair(LOG_DEBUG, std::string("Station aa:bb:cc:dd:ee:01 (on lo)")), fake.logs[5]);
  EXPECT_EQ(std::make_pair(LOG_DEBUG, std::string("Station aa:bb:cc:dd:ee:02 (on lo)")), fake.logs[6]);
  EXPECT_EQ(std::make_pair(LOG_DEBUG, std::string("nl_recvmsgs returns 0\n")), fake.logs[7]);
}

TEST_F(FakeKernelDump, ControllerFillsTheNeighbourLists) {
  if (!queue_station(first_, -60) && skipped()) GTEST_SKIP() << "needs CAP_NET_ADMIN";
  ASSERT_TRUE(queue_station(second_, -71));
  ASSERT_TRUE(queue_done());
  DumpOutcome d = dump_stations(state, "lo", kControllerDump);
  EXPECT_EQ(DumpEnd::kDone, d.end);
  EXPECT_EQ(0, d.status);
  EXPECT_STREQ("AA:BB:CC:DD:EE:01;AA:BB:CC:DD:EE:02", neighbour_macs.c_str());
  EXPECT_STREQ("-60;-71", neighbour_signals.c_str());
  EXPECT_FALSE(fake.exists("/tmp/.clients"));
}

TEST_F(FakeKernelDump, NoStationsWriteNothing) {
  if (!queue_done() && skipped()) GTEST_SKIP() << "needs CAP_NET_ADMIN";
  neighbour_macs.set("AA:BB:CC:DD:EE:09");
  DumpOutcome d = dump_stations(state, "lo", kControllerDump);
  EXPECT_EQ(0, d.status);
  EXPECT_STREQ("", neighbour_macs.c_str());
  EXPECT_STREQ("", neighbour_signals.c_str());
}
