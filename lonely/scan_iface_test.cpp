#include "lonely/scan_iface.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <climits>
#include <cstring>
#include <string>

#include "common/testing/fake_host.h"
#include "lonely/scan_backend.h"

TEST(ScanInterfaceMac, SecondAndThirdBytesPlusOneModulo256) {
  const struct {
    unsigned char in[6];
    unsigned char out[6];
  } cases[] = {
      {{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, {0x02, 0x12, 0x23, 0x33, 0x44, 0x55}},
      {{0xfe, 0xff, 0xff, 0xff, 0xff, 0xff}, {0xfe, 0x00, 0x00, 0xff, 0xff, 0xff}},
      {{0x00, 0x7f, 0xfe, 0x00, 0x00, 0x01}, {0x00, 0x80, 0xff, 0x00, 0x00, 0x01}},
  };
  for (const auto& c : cases) {
    unsigned char mac[6];
    memcpy(mac, c.in, 6);
    next_scan_mac(mac);
    EXPECT_EQ(0, memcmp(c.out, mac, 6));
  }
}

TEST(ReadIntFile, NumbersAndMissingFiles) {
  FakeHost fake;
  ScopedHost scope(fake);
  const std::pair<const char*, int> cases[] = {
      {"7\n", 7}, {"12", 12}, {"-1\n", -1}, {"", -1}, {"phy0\n", -1}, {"99999999999999999999", INT_MAX},
  };
  for (auto [content, value] : cases) {
    fake.write("/sys/class/net/wlan0/ifindex", content);
    EXPECT_EQ(value, read_int_file("/sys/class/net/wlan0/ifindex")) << content;
  }
  // Only the first 16 characters are read.
  fake.write("/sys/class/net/wlan0/ifindex", "0000000000000001234");
  EXPECT_EQ(1, read_int_file("/sys/class/net/wlan0/ifindex"));
  EXPECT_EQ(-1, read_int_file("/sys/class/net/wlan9/ifindex"));
}

TEST(RadioToIfname, LowestIndexOfTheRadio) {
  FakeHost fake;
  ScopedHost scope(fake);
  EXPECT_EQ(nullptr, radio_to_ifname("radio0"));  // no /sys/class/net at all
  fake.write("/sys/class/net/wlan0/phy80211/index", "0\n");
  fake.write("/sys/class/net/wlan0/ifindex", "7\n");
  fake.write("/sys/class/net/wlan0-1/phy80211/index", "0\n");
  fake.write("/sys/class/net/wlan0-1/ifindex", "5\n");
  fake.write("/sys/class/net/wlan0-2/phy80211/index", "0\n");  // no ifindex: passed over
  fake.write("/sys/class/net/mesh0/phy80211/index", "1\n");
  fake.write("/sys/class/net/mesh0/ifindex", "3\n");
  fake.write("/sys/class/net/eth0/ifindex", "2\n");
  const std::pair<const char*, const char*> cases[] = {
      {"radio0", "wlan0-1"}, {"radio1", "mesh0"}, {"radio2", nullptr}, {"radio", nullptr}, {"radiox", nullptr},
  };
  for (auto [radio, ifname] : cases) {
    const char* found = radio_to_ifname(radio);
    EXPECT_EQ(ifname ? std::string(ifname) : "(none)", found ? std::string(found) : "(none)") << radio;
  }
}

TEST(RadioDaemon, HangUpFromThePidFile) {
  FakeHost fake;
  ScopedHost scope(fake);
  hup_phy_daemon("phy0");  // no pid file
  fake.write("/var/run/wifi-phy0.pid", "0\n");
  hup_phy_daemon("phy0");
  fake.write("/var/run/wifi-phy0.pid", "none\n");
  hup_phy_daemon("phy0");
  fake.write("/var/run/wifi-phy0.pid", "1234\n");
  hup_phy_daemon("phy0");  // a stale pid: no such process
  fake.add_process(1234, "udhcpc", 'S');
  hup_phy_daemon("phy0");  // a recycled pid
  EXPECT_TRUE(fake.kills.empty());
  fake.add_process(1234, "hostapd", 'S');
  hup_phy_daemon("phy0");
  EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{1234, SIGHUP}}), fake.kills);
  // Without nl80211 an interface has no radio, and nobody is signalled.
  hup_radio_daemon("mesh0");
  EXPECT_EQ(1u, fake.kills.size());
}

TEST(IoctlSocket, OpenedOnFirstUseAndAgainAfterFinish) {
  iwinfo_finish();
  EXPECT_EQ(-1, iwinfo_socket());
  ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  strcpy(ifr.ifr_name, "lo");
  ASSERT_EQ(0, iwinfo_ioctl(SIOCGIFFLAGS, &ifr));
  EXPECT_TRUE(ifr.ifr_flags & IFF_LOOPBACK);
  int fd = iwinfo_socket();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(FD_CLOEXEC, fcntl(fd, F_GETFD) & FD_CLOEXEC);
  ASSERT_EQ(0, iwinfo_ioctl(SIOCGIFFLAGS, &ifr));
  EXPECT_EQ(fd, iwinfo_socket());  // shared
  iwinfo_finish();
  EXPECT_EQ(-1, iwinfo_socket());
  EXPECT_EQ(-1, fcntl(fd, F_GETFD));  // closed
  ASSERT_EQ(0, iwinfo_ioctl(SIOCGIFFLAGS, &ifr));
  EXPECT_GE(iwinfo_socket(), 0);
  iwinfo_finish();
}

TEST(InterfaceFlags, MissingInterfacesFail) {
  EXPECT_EQ(0, iwinfo_ifup("nosuch0"));
  EXPECT_EQ(0, iwinfo_ifdown("nosuch0"));
  EXPECT_EQ(0, iwinfo_ifmac("nosuch0"));
  iwinfo_finish();
}
