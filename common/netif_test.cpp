#include "common/netif.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <string>
#include <vector>

#include "common/profile.h"
#include "common/route.h"
#include "common/state_flags.h"
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

// The default route from the kernel's dump: the last one of the main table
// wins; each failure says where it happened and leaves the gateway as it was.
TEST(DefaultGateway, TheLastDefaultRouteWinsAndFailuresSayWhere) {
  set_profile(kControllerProfile);
  FakeHost fake;
  ScopedHost scope(fake);
  FakeKernel kernel;
  ScopedKernel kernel_scope(kernel);
  kernel.links = {{"eth0", FakeLink{}}, {"br-meship", FakeLink{}}};
  kernel.routes = {FakeRoute{.gateway = "192.168.1.1", .ifname = "eth0"},
                   FakeRoute{.gateway = "10.9.9.9", .ifname = "eth0", .table = 100},  // another table
                   FakeRoute{.destination = "10.3.56.0", .prefix = 22, .ifname = "br-meship"},
                   FakeRoute{.gateway = "10.3.56.1", .ifname = "br-meship"}};
  FixedText<20> out;
  EXPECT_EQ(0, read_gateway(out));
  EXPECT_EQ("10.3.56.1", std::string(out));
  EXPECT_EQ("10.3.56.1\n", fake.stdout_text);

  const struct {
    int* knob;
    std::string out;
    std::string err;
  } failures[] = {
      {&kernel.route_send_errno, "Write To Socket Failed...\n", ""},
      {&kernel.route_recv_errno, "Read From Socket Failed...\n", "SOCK READ: : Connection reset by peer\n"},
  };
  for (const auto& f : failures) {
    fake.stdout_text.clear();
    fake.stderr_text.clear();
    *f.knob = ECONNRESET;
    out.set("kept");
    EXPECT_EQ(-1, read_gateway(out));
    EXPECT_EQ("kept", std::string(out));
    EXPECT_EQ(f.out, fake.stdout_text);
    EXPECT_EQ(f.err, fake.stderr_text);
    *f.knob = 0;
  }
}

TEST(CheckLink, Eth1IsAskedOnlyWhenEth0IsNotUp) {
  set_profile(kControllerProfile);
  FakeHost fake;
  ScopedHost scope(fake);
  FakeKernel kernel;
  ScopedKernel kernel_scope(kernel);
  kernel.links = {{"eth0", FakeLink{.running = false}}, {"eth1", FakeLink{}}};
  check_link();
  EXPECT_EQ(1, elink);
  kernel.links["eth1"].running = false;
  check_link();
  EXPECT_EQ(0, elink);
  kernel.links["eth0"].running = true;
  kernel.asked.clear();
  check_link();
  EXPECT_EQ(1, elink);
  EXPECT_EQ(std::vector<std::string>{"ioctl " + std::to_string(SIOCGIFFLAGS) + " eth0"}, kernel.asked);
}
