#include "portsense/vlan_wait.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mesh/testing/mesh_fixture.h"

namespace {

// A node on which batman creates the VLANs during the pause of a given pass
// of the wait; the next pass finds them.
class SlowBatmanNode : public FakeHost {
 public:
  int vlans_after_pass = -1;
  void sleep(unsigned seconds) override {
    FakeHost::sleep(seconds);
    if (++passes_ == vlans_after_pass) create_vlans();
  }
  void create_vlans() {
    for (int i = 0; i < 4; ++i) write("/proc/net/vlan/bat0." + std::to_string(i), "");
  }

 private:
  int passes_ = 0;
};

const std::string kWaiting = "out Waiting for batman to start vlan\n";
const std::string kSleep = "sleep 10";
const std::string kStart = "run /etc/init.d/vlan start";
const std::string kNoBat0 = "out Ioctl failed. Errno = " + std::to_string(ENODEV) + "\n";
const std::string kRegister = "out Waiting to register the bat0 interface\n";

class VlanWait : public MeshFixture {
 protected:
  VlanWait() {
    use(kPortsenseProfile);
    vlan_wait_counter = 0;
  }
  // The trace of a wait on its own node.
  std::vector<std::string> wait_on(SlowBatmanNode& node) {
    ScopedHost scope(node);
    check_vlan();
    wait_for_vlan();
    return joined_lines(node.events);
  }
};

}  // namespace

TEST_F(VlanWait, BeforeSixMinutesOfUptimeOnlyTheFourthPassStartsTheVlans) {
  SlowBatmanNode node;
  node.vlans_after_pass = 6;
  boot = 0;
  std::vector<std::string> expected;
  for (int pass = 1; pass <= 7; ++pass) {
    expected.insert(expected.end(), {kWaiting, kSleep});
    if (pass == 4) expected.push_back(kStart);
  }
  EXPECT_EQ(expected, wait_on(node));
  EXPECT_EQ(7, vlan_wait_counter);
}

TEST_F(VlanWait, ForcedStartThatBringsTheVlansEndsTheWaitOnePassLater) {
  SlowBatmanNode node;
  node.on_command = [&](const std::string& command, std::string&) {
    if (command == "/etc/init.d/vlan start") node.create_vlans();
    return -1;
  };
  boot = 0;
  EXPECT_EQ((std::vector<std::string>{kWaiting, kSleep, kWaiting, kSleep, kWaiting, kSleep, kWaiting, kSleep, kStart,
                                      kWaiting, kSleep}),
            wait_on(node));
  EXPECT_EQ(5, vlan_wait_counter);
}

TEST_F(VlanWait, AfterSixMinutesWithoutBat0TheNodeKeepsWaiting) {
  SlowBatmanNode node;
  node.vlans_after_pass = 5;
  boot = 1;
  std::vector<std::string> expected;
  for (int pass = 1; pass <= 5; ++pass) {
    expected.insert(expected.end(), {kWaiting, kNoBat0, kRegister, kSleep});
    if (pass == 4) expected.push_back(kStart);
  }
  // The pass that finds the VLANs asks nothing of bat0, but still pauses.
  expected.insert(expected.end(), {kWaiting, kSleep});
  EXPECT_EQ(expected, wait_on(node));
}

TEST_F(VlanWait, TheCounterRunsOverTheWholeProgram) {
  SlowBatmanNode node;
  node.vlans_after_pass = 1;
  vlan_wait_counter = 3;  // three passes in an earlier cycle
  EXPECT_EQ((std::vector<std::string>{kWaiting, kSleep, kStart, kWaiting, kSleep}), wait_on(node));
  SlowBatmanNode later;
  later.vlans_after_pass = 2;
  EXPECT_EQ((std::vector<std::string>{kWaiting, kSleep, kWaiting, kSleep, kWaiting, kSleep}), wait_on(later));
  EXPECT_EQ(8, vlan_wait_counter);
}

TEST_F(VlanWait, VlansThatNeverComeEndTheWaitAfterTenMinutes) {
  SlowBatmanNode node;
  boot = 0;
  vlan_wait_counter = kVlanWaitPasses - 2;  // passes of an earlier cycle count
  ScopedHost scope(node);
  check_vlan();
  EXPECT_FALSE(wait_for_vlan());
  EXPECT_EQ(
      (std::vector<std::string>{kWaiting, kSleep, kWaiting, kSleep,
                                "out VLANs bat0.0 to bat0.3 still missing after 600 s of waiting: no role decision\n"}),
      joined_lines(node.events));
  EXPECT_EQ(kVlanWaitPasses, vlan_wait_counter);
}

TEST_F(VlanWait, VlansPresentMeansNoWait) {
  SlowBatmanNode node;
  node.create_vlans();
  boot = 1;
  EXPECT_EQ((std::vector<std::string>{}), wait_on(node));
  EXPECT_EQ(0, vlan_wait_counter);
}
