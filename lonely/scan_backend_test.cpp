#include "lonely/scan_backend.h"

#include <gtest/gtest.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/socket.h>

#include "common/testing/fake_host.h"
#include "lonely/scan_iface.h"

namespace {

bool nl80211_present() {
  nl_sock* s = nl_socket_alloc();
  bool present = genl_connect(s) == 0 && genl_ctrl_resolve(s, "nl80211") >= 0;
  nl_socket_free(s);
  return present;
}

class NoWifiKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    if (nl80211_present()) GTEST_SKIP() << "this kernel has nl80211";
  }
  void TearDown() override { iwinfo_finish(); }
  FakeHost fake;
  ScopedHost scope{fake};
  alignas(scan_entry) char buf[24 * 1024];
  int len = -1;
};

}  // namespace

TEST_F(NoWifiKernel, NoBackendForAnInterface) {
  EXPECT_EQ(0, nl80211_probe("lo"));
  EXPECT_EQ(nullptr, iwinfo_type("lo"));
  EXPECT_EQ(nullptr, iwinfo_backend("lo"));
  EXPECT_EQ(nullptr, iwinfo_backend("mesh0"));
  EXPECT_EQ(70, nl80211_get_quality_max("mesh0"));
}

TEST_F(NoWifiKernel, ScanListsWithoutARadio) {
  // No supplicant and no temporary interface: no scan, an empty list.
  EXPECT_EQ(0, nl80211_get_scanlist("mesh0", buf, sizeof(buf), &len));
  EXPECT_EQ(0, len);
  // A temporary interface that cannot be brought up.
  len = -1;
  EXPECT_EQ(-1, nl80211_get_scanlist("tmp.mesh0", buf, sizeof(buf), &len));
  EXPECT_EQ(0, len);
  // A radio without an interface, and one that cannot get a temporary one.
  len = -1;
  EXPECT_EQ(0, nl80211_get_scanlist("radio0", buf, sizeof(buf), &len));
  EXPECT_EQ(0, len);
  EXPECT_TRUE(fake.kills.empty());
}

TEST_F(NoWifiKernel, AnInterfaceNamedLikeItsRadioIsScannedOnce) {
  fake.write("/sys/class/net/radio0/phy80211/index", "0\n");
  fake.write("/sys/class/net/radio0/ifindex", "4\n");
  EXPECT_EQ(0, nl80211_get_scanlist("radio0", buf, sizeof(buf), &len));
  EXPECT_EQ(0, len);
}
