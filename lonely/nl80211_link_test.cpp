#include "lonely/nl80211_link.h"

#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/handlers.h>
#include <netlink/socket.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/testing/nl_message.h"
#include "common/text.h"

namespace {

bool generic_netlink_available() {
  int fd = socket(AF_NETLINK, SOCK_RAW, NETLINK_GENERIC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// The attribute that a request names its target with.
std::string target(const char* name) {
  NlMessage m(NL80211_CMD_GET_WIPHY);
  if (nl80211_put_target(m.get(), name) < 0) return "refused";
  nlattr* wiphy = nlmsg_find_attr(m.header(), GENL_HDRLEN, NL80211_ATTR_WIPHY);
  nlattr* ifindex = nlmsg_find_attr(m.header(), GENL_HDRLEN, NL80211_ATTR_IFINDEX);
  if (wiphy) return "wiphy " + std::to_string(nla_get_u32(wiphy));
  if (ifindex) return "ifindex " + std::to_string(nla_get_u32(ifindex));
  return "none";
}

long elapsed_ms(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

}  // namespace

TEST(RequestTarget, RadiosByNumberInterfacesByIndex) {
  const std::string lo = "ifindex " + std::to_string(if_nametoindex("lo"));
  const std::pair<const char*, std::string> cases[] = {
      {"phy0", "wiphy 0"},  {"radio12", "wiphy 12"}, {"lo", lo},
      {"mon.lo", lo},       {"nosuch0", "refused"},  {"radiox", "refused"},
      {"radio", "refused"}, {"phy1a", "refused"},    {"radio99999999999", "refused"},
  };
  for (const auto& [name, attr] : cases) EXPECT_EQ(attr, target(name)) << name;
}

TEST(Nl80211Link, AbsentOnThisKernel) {
  int expected = generic_netlink_available() ? -ENOENT : -ENOLINK;
  nl_sock* probe = nl_socket_alloc();
  if (genl_connect(probe) == 0 && genl_ctrl_resolve(probe, "nl80211") >= 0) {
    nl_socket_free(probe);
    GTEST_SKIP() << "this kernel has nl80211";
  }
  nl_socket_free(probe);
  EXPECT_EQ(expected, nl80211_connect());
  Nl80211Request req;
  EXPECT_FALSE(nl80211_build_request("lo", NL80211_CMD_GET_WIPHY, 0, req));
  EXPECT_EQ(nullptr, req.msg);
  EXPECT_EQ(nullptr, ifname_to_phy("lo"));
  EXPECT_EQ(-ENOLINK, nl80211_await_event("scan"));
  nl80211_close();
}

TEST(EventHandler, OnlyTheAwaitedCommand) {
  EventWait w = {NL80211_CMD_NEW_SCAN_RESULTS, false};
  NlMessage trigger(NL80211_CMD_TRIGGER_SCAN);
  EXPECT_EQ(NL_SKIP, event_handler(trigger.get(), &w));
  EXPECT_FALSE(w.seen);
  NlMessage cut(NL80211_CMD_NEW_SCAN_RESULTS);
  cut.cut(NLMSG_HDRLEN + 1);
  EXPECT_EQ(NL_SKIP, event_handler(cut.get(), &w));
  EXPECT_FALSE(w.seen);
  NlMessage results(NL80211_CMD_NEW_SCAN_RESULTS);
  results.u32(NL80211_ATTR_IFINDEX, 4);
  EXPECT_EQ(NL_STOP, event_handler(results.get(), &w));
  EXPECT_TRUE(w.seen);
}

TEST(MulticastGroupHandler, GroupByNameAndMalformedEntries) {
  auto group = [](NlMessage& m, int i, const char* name, uint32_t id) {
    m.begin(i).string(CTRL_ATTR_MCAST_GRP_NAME, name).u32(CTRL_ATTR_MCAST_GRP_ID, id).end();
  };
  {
    NlMessage m(CTRL_CMD_NEWFAMILY, GENL_ID_CTRL);
    m.string(CTRL_ATTR_FAMILY_NAME, "nl80211").begin(CTRL_ATTR_MCAST_GROUPS);
    group(m, 1, "config", 5);
    // A name without its terminator is passed over.
    m.begin(2).put(CTRL_ATTR_MCAST_GRP_NAME, "scan", 4).u32(CTRL_ATTR_MCAST_GRP_ID, 6).end();
    group(m, 3, "scan", 7);
    m.end();
    GroupQuery q = {"scan", -ENOENT};
    EXPECT_EQ(NL_SKIP, multicast_group_handler(m.get(), &q));
    EXPECT_EQ(7, q.id);
    GroupQuery absent = {"mlme", -ENOENT};
    multicast_group_handler(m.get(), &absent);
    EXPECT_EQ(-ENOENT, absent.id);
  }
  {
    // A group list running past its nest is not read.
    NlMessage m(CTRL_CMD_NEWFAMILY, GENL_ID_CTRL);
    m.begin(CTRL_ATTR_MCAST_GROUPS);
    group(m, 1, "scan", 7);
    m.stretch_last(12).end();
    GroupQuery q = {"scan", -ENOENT};
    multicast_group_handler(m.get(), &q);
    EXPECT_EQ(-ENOENT, q.id);
  }
}

TEST(PhyNameHandler, NameOfTheRadio) {
  FixedText<32> phy;
  NlMessage m(NL80211_CMD_NEW_WIPHY);
  m.u32(NL80211_ATTR_WIPHY, 0).string(NL80211_ATTR_WIPHY_NAME, "phy0");
  phy_name_handler(m.get(), &phy);
  EXPECT_STREQ("phy0", phy.c_str());
  FixedText<32> unterminated;
  NlMessage bad(NL80211_CMD_NEW_WIPHY);
  bad.put(NL80211_ATTR_WIPHY_NAME, "phy0", 4);
  phy_name_handler(bad.get(), &unterminated);
  EXPECT_STREQ("", unterminated.c_str());
}

// The controller family exists on every kernel: the plumbing runs against
// it for real.
class KernelController : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!generic_netlink_available()) GTEST_SKIP() << "no generic netlink sockets here";
    sock = nl_socket_alloc();
    ASSERT_EQ(0, genl_connect(sock));
  }
  void TearDown() override {
    if (sock) nl_socket_free(sock);
  }
  nl_sock* sock = nullptr;
};

TEST_F(KernelController, MulticastGroupOfAFamily) {
  EXPECT_EQ(GENL_ID_CTRL, genl_multicast_group(sock, GENL_ID_CTRL, "nlctrl", "notify"));
  EXPECT_EQ(-ENOENT, genl_multicast_group(sock, GENL_ID_CTRL, "nlctrl", "scan"));
  EXPECT_EQ(-ENOENT, genl_multicast_group(sock, GENL_ID_CTRL, "nosuchfamily", "scan"));
}

TEST_F(KernelController, TransactReportsTheKernelsError) {
  nl_msg* msg = nlmsg_alloc();
  genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, GENL_ID_CTRL, 0, 0, CTRL_CMD_GETFAMILY, 0);
  nla_put_string(msg, CTRL_ATTR_FAMILY_NAME, "nosuchfamily");
  TransactResult r = genl_transact(sock, msg, nl_cb_alloc(NL_CB_DEFAULT), nullptr, nullptr);
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(-ENOENT, r.error);

  int replies = 0;
  msg = nlmsg_alloc();
  genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, GENL_ID_CTRL, 0, 0, CTRL_CMD_GETFAMILY, 0);
  nla_put_string(msg, CTRL_ATTR_FAMILY_NAME, "nlctrl");
  r = genl_transact(
      sock, msg, nl_cb_alloc(NL_CB_DEFAULT),
      [](nl_msg*, void* arg) {
        ++*static_cast<int*>(arg);
        return static_cast<int>(NL_SKIP);
      },
      &replies);
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(0, r.error);
  EXPECT_EQ(1, replies);
}

TEST_F(KernelController, TheEventWaitIsBounded) {
  ASSERT_EQ(0, nl_socket_add_memberships(sock, GENL_ID_CTRL, 0));
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  EXPECT_EQ(0, await_genl_command(sock, NL80211_CMD_NEW_SCAN_RESULTS, 150));
  long waited = elapsed_ms(start);
  EXPECT_GE(waited, 140);
  EXPECT_LT(waited, 1500);
}
