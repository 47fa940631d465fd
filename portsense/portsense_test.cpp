#include "portsense/portsense.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mesh/testing/mesh_fixture.h"
#include "portsense/vlan_wait.h"

namespace {

class Portsense : public MeshFixture {
 protected:
  Portsense() {
    use(kPortsenseProfile);
    vlan_wait_counter = 0;
    for (int i = 0; i < 4; ++i) fake.write("/proc/net/vlan/bat0." + std::to_string(i), "");
  }
};

}  // namespace

TEST_F(Portsense, RepeaterWithoutCableChangesNothingAndPausesFiveSeconds) {
  vlan = 1;
  elink = 0;
  mesh = 1;
  EXPECT_EQ(1, settle_cycle());
  EXPECT_EQ((std::vector<std::string>{"sleep 5"}), fake.events);
  EXPECT_EQ("", fake.stdout_text);
}

TEST_F(Portsense, TheProbesReadUptimeClientAndVlans) {
  fake.write("/proc/uptime", "359.99 1234.00\n");
  probe_node();
  EXPECT_EQ(0, boot);
  EXPECT_EQ(0, mesh);
  EXPECT_EQ(1, vlan);
  fake.write("/proc/uptime", "360.00 1234.00\n");
  fake.write("/var/run/udhcpc-br-meship.pid", "77\n");
  fake.remove("/proc/net/vlan/bat0.3");
  probe_node();
  EXPECT_EQ(1, boot);
  EXPECT_EQ(1, mesh);
  EXPECT_EQ(0, vlan);
}

TEST_F(Portsense, UnreadableUptimeLeavesBootUnchanged) {
  boot = 1;
  probe_node();
  EXPECT_EQ(1, boot);
  EXPECT_EQ(0u, fake.stdout_text.find("Unable to get the system uptime\n"));
}
