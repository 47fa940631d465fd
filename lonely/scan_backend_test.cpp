#include "lonely/scan_backend.h"

#include <gtest/gtest.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/socket.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/testing/fake_host.h"
#include "lonely/scan_iface.h"

namespace {

std::vector<std::string> g_steps;
int note(const char* step, const char* ifname, int result = 1) {
  g_steps.push_back(std::string(step) + " " + ifname);
  return result;
}

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

// The temporary interface comes up neither beside mesh0 nor with mesh0 down:
// mesh0 comes back up, its radio's daemon hears of it, and only then does
// the temporary interface go.
TEST(ScanBeside, ATemporaryInterfaceThatCannotComeUp) {
  const ScanSteps steps = {[](const char* i) -> const char* { return note("create", i) ? "tmp.mesh0" : nullptr; },
                           [](const char* i) { return note("mac", i); },
                           [](const char* i) { return note("up", i, strcmp(i, "tmp.mesh0") != 0); },
                           [](const char* i) { return note("down", i); },
                           [](const char* i, ScanCursor&) { return note("scan", i, 0); },
                           [](const char* i) { note("hup", i); },
                           [](const char* i) { note("delete", i); }};
  alignas(scan_entry) char buf[sizeof(scan_entry)];
  ScanCursor out(buf, sizeof(buf));
  scan_beside("mesh0", out, steps);
  EXPECT_EQ((std::vector<std::string>{"create mesh0", "mac tmp.mesh0", "up tmp.mesh0", "down mesh0", "up tmp.mesh0",
                                      "up mesh0", "hup mesh0", "delete tmp.mesh0"}),
            g_steps);
}
