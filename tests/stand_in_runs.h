// What the lonely and portsense program tests share: the nodes of one test
// binary start side by side before its first test, and each test waits for
// its own node; if any node cannot start, every test is skipped with why.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/stand_in_node.h"

// No cable: eth0 and eth1 up, their peers down.
inline const std::vector<std::string> kNoCable = {
    "ip link add eth0 type veth peer name eth0-peer", "ip link set eth0 up",
    "ip link add eth1 type veth peer name eth1-peer", "ip link set eth1 up"};
inline const std::string kGatewayHeader =
    "      Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth ... "
    "[B.A.T.M.A.N. adv 2013.4.0, MainIF/MAC: mesh0/02:ca:fe:00:00:07 (bat0)]\n";

inline std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Why this binary's nodes cannot run; empty while they can.
inline std::string g_stand_in_skip;

// Starts `node`, which gets 300 s to end; the first failure is kept as the
// reason to skip.
inline void launch_stand_in(std::unique_ptr<StandInNode>& node, const NodeSetup& setup) {
  node = std::make_unique<StandInNode>(setup);
  std::string error = node->start(300);
  if (!error.empty() && g_stand_in_skip.empty()) g_stand_in_skip = "cannot start a stand-in node: " + error;
}

class StandInProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_stand_in_skip.empty()) GTEST_SKIP() << g_stand_in_skip;
  }
  static StandInNode& finished(std::unique_ptr<StandInNode>& node) {
    node->wait();
    return *node;
  }
  static std::string led(StandInNode& node, const char* name, const char* file = "trigger") {
    return node.file(std::string("/sys/class/leds/ubnt:") + name + "/" + file);
  }
};
