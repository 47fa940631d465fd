// link_interface_present against real interfaces in a network namespace of
// this test's own. Needs root.
#include "watchdog/link_probe.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string g_skip_reason;

class Namespace : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      g_skip_reason = "probe tests need root (network namespace)";
    } else if (unshare(CLONE_NEWNET) != 0) {
      g_skip_reason = "cannot create a network namespace here";
    } else if (system("ip link set lo up") != 0) {
      g_skip_reason = "the ip tool (iproute2) is missing";
    }
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Namespace);

}  // namespace

TEST(LinkProbe, TheMeshInterfaceIsFoundUpOrDown) {
  if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
  EXPECT_EQ(0, link_interface_present("mesh0"));
  ASSERT_EQ(0, system("ip link add mesh0 type veth peer name mesh0-peer"));
  EXPECT_EQ(1, link_interface_present("mesh0"));  // down, without an address
  EXPECT_EQ(0, link_interface_present("mesh"));
  EXPECT_EQ(0, link_interface_present("mesh00"));
  EXPECT_EQ(1, link_interface_present("lo"));
  ASSERT_EQ(0, system("ip link set mesh0 up && ip link del mesh0"));
  EXPECT_EQ(0, link_interface_present("mesh0"));
}
