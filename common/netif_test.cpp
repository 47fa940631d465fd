#include "common/netif.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <string>
#include <vector>

#include "common/profile.h"
#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "controller/program.h"
#include "lonely/program.h"

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
  FakeKernel kernel;
  ScopedKernel kernel_scope(kernel);
  kernel.links["loooooooooooooo"] = FakeLink{};  // what the long name would be cut to
  EXPECT_EQ(-1, if_status("nosuchif0"));
  EXPECT_EQ(-1, if_status("loooooooooooooooooo"));  // never cut to another name
  EXPECT_EQ("Ioctl failed. Errno = 19\nIoctl failed. Errno = 19\n", fake.stdout_text);
  EXPECT_EQ(std::vector<std::string>{"ioctl " + std::to_string(SIOCGIFFLAGS) + " nosuchif0"}, kernel.asked);

  // No descriptor left: the socket fails. The controller's copy still tries
  // the ioctl (on no socket); lonely's stops there.
  kernel.links["lo"] = FakeLink{};
  kernel.socket_errno = EMFILE;
  for (const ProgramProfile* p : {&kControllerProfile, &kLonelyProfile}) {
    set_profile(*p);
    fake.stdout_text.clear();
    int rc = if_status("lo");
    EXPECT_EQ(-1, rc);
    EXPECT_EQ(p == &kControllerProfile ? "Socket failed. Errno = 24\nIoctl failed. Errno = 9\n"
                                       : "Socket failed. Errno = 24\n",
              fake.stdout_text);
  }
  set_profile(kControllerProfile);
}
