// The scan interface operations and the event wait against the real kernel,
// in a network namespace of this test's own. Needs root.
#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/errno.h>
#include <netlink/genl/genl.h>
#include <netlink/socket.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/testing/netns.h"
#include "common/testing/nl_message.h"
#include "lonely/nl80211_link.h"
#include "lonely/scan_iface.h"

namespace {

std::string mac_of(const char* ifname) {
  ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  strcpy(ifr.ifr_name, ifname);
  if (iwinfo_ioctl(SIOCGIFHWADDR, &ifr) != 0) return "?";
  const unsigned char* b = reinterpret_cast<const unsigned char*>(ifr.ifr_hwaddr.sa_data);
  char text[18];
  snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

short flags_of(const char* ifname) {
  ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  strcpy(ifr.ifr_name, ifname);
  return iwinfo_ioctl(SIOCGIFFLAGS, &ifr) == 0 ? ifr.ifr_flags : -1;
}

class ScanInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_NETNS();
    system("ip link del mesh0 2>/dev/null");
    sh("ip link add mesh0 address 02:ff:7f:00:00:01 type veth peer name mesh0-peer");
  }
  void TearDown() override { iwinfo_close(); }
};

}  // namespace

TEST_F(ScanInterface, MacUpAndDown) {
  EXPECT_EQ(1, iwinfo_ifmac("mesh0"));
  EXPECT_EQ("02:00:80:00:00:01", mac_of("mesh0"));
  EXPECT_EQ(0, flags_of("mesh0") & IFF_UP);
  EXPECT_EQ(1, iwinfo_ifup("mesh0"));
  EXPECT_EQ(IFF_UP, flags_of("mesh0") & IFF_UP);
  EXPECT_EQ(1, iwinfo_ifdown("mesh0"));
  EXPECT_EQ(0, flags_of("mesh0") & IFF_UP);
  EXPECT_EQ(0, iwinfo_ifup("tmp.mesh0"));  // no such interface
}

// The awaited event ends the wait at once: a second socket of this test
// plays the kernel and sends it (sending to another socket needs CAP_NET_ADMIN).
TEST_F(ScanInterface, TheAwaitedEventEndsTheWait) {
  int kernel = socket(AF_NETLINK, SOCK_RAW, NETLINK_GENERIC);
  // qemu's user-mode emulation offers no generic netlink sockets.
  if (kernel < 0) GTEST_SKIP() << "no generic netlink sockets here";
  nl_sock* sock = nl_socket_alloc();
  ASSERT_EQ(0, genl_connect(sock));
  sockaddr_nl to{};
  to.nl_family = AF_NETLINK;
  to.nl_pid = nl_socket_get_local_port(sock);
  for (uint8_t cmd : {NL80211_CMD_TRIGGER_SCAN, NL80211_CMD_NEW_SCAN_RESULTS}) {
    NlMessage m(cmd, 0x1c);
    m.u32(NL80211_ATTR_IFINDEX, 9);
    ASSERT_GE(sendto(kernel, m.header(), m.header()->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0)
        << strerror(errno);
  }
  EXPECT_EQ(1, await_genl_command(sock, NL80211_CMD_NEW_SCAN_RESULTS, 5000));
  close(kernel);
  nl_socket_free(sock);
}

// A peer in the kernel's place: one that never answers holds an exchange
// for 5 s at most; an answer that cannot be taken (out of sequence) ends it
// at once.
TEST_F(ScanInterface, AGenericNetlinkExchangeEndsAfter5sOrAtAReceiveError) {
  int peer = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
  if (peer < 0) GTEST_SKIP() << "no generic netlink sockets here";
  sockaddr_nl at{};
  at.nl_family = AF_NETLINK;
  socklen_t len = sizeof(at);
  ASSERT_EQ(0, bind(peer, reinterpret_cast<sockaddr*>(&at), sizeof(at)));
  ASSERT_EQ(0, getsockname(peer, reinterpret_cast<sockaddr*>(&at), &len));
  nl_sock* sock = nl_socket_alloc();
  ASSERT_EQ(0, genl_connect(sock));
  nl_socket_set_peer_port(sock, at.nl_pid);
  auto exchange = [&](int expected_error, std::chrono::milliseconds least, std::chrono::milliseconds most) {
    nl_msg* msg = nlmsg_alloc();
    genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, GENL_ID_CTRL, 0, 0, CTRL_CMD_GETFAMILY, 0);
    auto t0 = std::chrono::steady_clock::now();
    TransactResult r = genl_transact(sock, msg, nl_cb_alloc(NL_CB_DEFAULT), nullptr, nullptr);
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_TRUE(r.sent);
    EXPECT_EQ(expected_error, r.error);
    EXPECT_GE(took, least);
    EXPECT_LT(took, most);
  };
  exchange(-ETIMEDOUT, std::chrono::milliseconds(4900), std::chrono::milliseconds(7000));

  NlMessage stale(CTRL_CMD_NEWFAMILY, GENL_ID_CTRL);
  stale.header()->nlmsg_seq = 0;
  sockaddr_nl to{};
  to.nl_family = AF_NETLINK;
  to.nl_pid = nl_socket_get_local_port(sock);
  ASSERT_GE(sendto(peer, stale.header(), stale.header()->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0)
      << strerror(errno);
  exchange(-NLE_SEQ_MISMATCH, std::chrono::milliseconds(0), std::chrono::milliseconds(1000));
  close(peer);
  nl_socket_free(sock);
}
