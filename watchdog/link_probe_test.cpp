// link_interface_present against real interfaces in a network namespace of
// this test's own. Needs root.
#include "watchdog/link_probe.h"
#include "common/testing/netns.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

}  // namespace

TEST(LinkProbe, TheMeshInterfaceIsFoundUpOrDown) {
  SKIP_WITHOUT_NETNS();
  EXPECT_EQ(0, link_interface_present("mesh0"));
  ASSERT_EQ(0, system("ip link add mesh0 type veth peer name mesh0-peer"));
  EXPECT_EQ(1, link_interface_present("mesh0"));  // down, without an address
  EXPECT_EQ(0, link_interface_present("mesh"));
  EXPECT_EQ(0, link_interface_present("mesh00"));
  EXPECT_EQ(1, link_interface_present("lo"));
  ASSERT_EQ(0, system("ip link set mesh0 up && ip link del mesh0"));
  EXPECT_EQ(0, link_interface_present("mesh0"));
}
