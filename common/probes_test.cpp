// Interface and route probes against real interfaces, in a network namespace
// of this test's own (veth pairs named as on the node). Needs root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/linux_kernel.h"
#include "common/netif.h"
#include "common/route.h"
#include "common/state_flags.h"
#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "common/testing/netns.h"
#include "controller/program.h"

namespace {

class Probes : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_NETNS();
    set_profile(kControllerProfile);
    remove_links({"eth0", "mesh0", "abcdefghijklmno"});
    add_veth("eth0", true, "00:1a:2b:3c:4d:5e", "192.168.1.20/24");
    add_veth("mesh0", false);  // up, but no carrier
  }
  FakeHost fake;  // prints and files; the kernel calls are real
  ScopedHost scope{fake};
  ScopedRealKernel real;
};

}  // namespace

TEST_F(Probes, MacAddressIpAndNetmask) {
  FixedText<18> mac;
  EXPECT_EQ(0, get_mac("eth0", mac));
  EXPECT_STREQ("00:1A:2B:3C:4D:5E", mac.c_str());
  FixedText<16> ip;
  FixedText<16> mask;
  EXPECT_EQ(0, get_ipaddr("eth0", ip));
  EXPECT_EQ(0, get_netmask("eth0", mask));
  EXPECT_STREQ("192.168.1.20", ip.c_str());
  EXPECT_STREQ("255.255.255.0", mask.c_str());
  EXPECT_EQ("", fake.stdout_text);
  // No address on mesh0: the ioctl's error.
  EXPECT_EQ(EADDRNOTAVAIL, get_ipaddr("mesh0", ip));  // 126 on MIPS, 99 on x86
  EXPECT_EQ("Error: Cannot assign requested address\n", fake.stdout_text);
  EXPECT_EQ(ENODEV, get_mac("eth7", mac));  // silent
  EXPECT_EQ("Error: Cannot assign requested address\n", fake.stdout_text);
}

TEST_F(Probes, FifteenCharacterNamesAreAccepted) {
  sh("ip link add abcdefghijklmno address 02:00:00:00:00:0f type veth peer name p15");
  FixedText<18> mac;
  EXPECT_EQ(0, get_mac("abcdefghijklmno", mac));
  EXPECT_STREQ("02:00:00:00:00:0F", mac.c_str());
}

TEST_F(Probes, UpAndRunningUpWithoutCarrierAndMissing) {
  EXPECT_EQ(1, if_status("eth0"));
  EXPECT_EQ(0, if_status("mesh0"));
  EXPECT_EQ(-1, if_status("br-lan"));
  EXPECT_EQ("Ioctl failed. Errno = 19\n", fake.stdout_text);
  check_link();
  EXPECT_EQ(1, elink);
  set_cable("eth0", false);
  check_link();  // eth0 without carrier, eth1 missing
  EXPECT_EQ(0, elink);
}

TEST_F(Probes, DefaultRouteOfTheMainTableOnly) {
  gateway.set("10.9.9.9");
  FixedText<20> out;
  EXPECT_EQ(0, read_gateway(out));
  EXPECT_STREQ("10.9.9.9", out.c_str());  // none: the previous text

  sh("ip route add default via 192.168.1.2 dev eth0 table 100");
  EXPECT_EQ(0, read_gateway(out));
  EXPECT_STREQ("10.9.9.9", out.c_str());

  sh("ip route add default via 192.168.1.1 dev eth0");
  fake.stdout_text.clear();
  EXPECT_EQ(0, read_gateway(out));
  EXPECT_STREQ("192.168.1.1", out.c_str());
  EXPECT_EQ("192.168.1.1\n", fake.stdout_text);

  set_nameserver();
  EXPECT_EQ("nameserver 192.168.1.1", fake.read("/tmp/resolv.conf.auto"));
  sh("ip route del default via 192.168.1.1 dev eth0");
}

TEST(LinkListed, TheMeshInterfaceIsListedUpOrDown) {
  SKIP_WITHOUT_NETNS();
  Kernel& k = linux_kernel();
  remove_links({"mesh0"});
  EXPECT_EQ(0, k.link_listed("mesh0"));
  add_veth("mesh0", false);
  sh("ip link set mesh0 down");
  EXPECT_EQ(1, k.link_listed("mesh0"));  // down, without an address
  EXPECT_EQ(0, k.link_listed("mesh"));
  EXPECT_EQ(0, k.link_listed("mesh00"));
  EXPECT_EQ(1, k.link_listed("lo"));
  sh("ip link del mesh0");
  EXPECT_EQ(0, k.link_listed("mesh0"));
}
