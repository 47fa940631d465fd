// For probe tests: the test program moves into a network namespace of its
// own, with loopback up, where it may create the node's interfaces (veth
// pairs named eth0, bat0, br-meship...) without touching the machine's.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class NodeNamespace : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      skip_reason() = "probe tests need root (network namespace)";
    } else if (unshare(CLONE_NEWNET) != 0) {
      skip_reason() = "cannot create a network namespace here";
    } else if (system("ip link set lo up") != 0) {
      skip_reason() = "the ip tool (iproute2) is missing";
    }
  }
  static std::string& skip_reason() {
    static std::string reason;
    return reason;
  }
};

// Runs a shell command of the test's set-up; fails the test when it fails.
inline void sh(const std::string& command) { ASSERT_EQ(0, system(command.c_str())) << command; }

// Removes the node interfaces a test may have left.
inline void remove_node_interfaces() {
  if (system("for i in eth0 eth1 bat0 br-meship; do ip link del $i 2>/dev/null; done; true") != 0) {
  }
}
