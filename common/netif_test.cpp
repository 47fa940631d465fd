#include "common/netif.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "common/profile.h"
#include "common/testing/fake_host.h"

TEST(InterfaceNames, MissingAndTooLongNamesAreRefused) {
  FakeHost fake;
  ScopedHost scope(fake);
  FixedText<18> out("unchanged");
  EXPECT_EQ(1, get_mac(nullptr, out));
  EXPECT_EQ(1, get_mac("", out));
  EXPECT_EQ(1, get_ipaddr("", out));
  EXPECT_EQ(1, get_netmask("abcdefghijklmnop", out));
  EXPECT_EQ(1, get_mac("abcdefghijklmnop", out));
  EXPECT_STREQ("unchanged", out.c_str());
  EXPECT_EQ(
      "Requred Interface name to get the MAC Address\n"
      "Requred Interface name to get the MAC Address\n"
      "Requred Interface name to get the IP Address\n"
      "Interface name is too long\n"
      "Interface name is too long\n",
      fake.stdout_text);
}

TEST(InterfaceStatus, MissingInterfaceAndFailedSocket) {
  FakeHost fake;
  ScopedHost scope(fake);
  EXPECT_EQ(-1, if_status("nosuchif0"));
  EXPECT_EQ(-1, if_status("loooooooooooooooooo"));  // never cut to another name
  EXPECT_EQ("Ioctl failed. Errno = 19\nIoctl failed. Errno = 19\n", fake.stdout_text);

  // No descriptor left: the socket fails. The controller's copy still tries
  // the ioctl (on no socket); lonely's stops there.
  rlimit old;
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit none = {0, old.rlim_max};
  for (const ProgramProfile* p : {&kControllerProfile, &kLonelyProfile}) {
    set_profile(*p);
    fake.stdout_text.clear();
    setrlimit(RLIMIT_NOFILE, &none);
    int rc = if_status("lo");
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(-1, rc);
    EXPECT_EQ(p == &kControllerProfile ? "Socket failed. Errno = 24\nIoctl failed. Errno = 9\n"
                                       : "Socket failed. Errno = 24\n",
              fake.stdout_text);
  }
  set_profile(kControllerProfile);
}
