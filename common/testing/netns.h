// Probe tests run in a network namespace of their own, made once per test
// program (root only), so they can create interfaces named as on the node.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Why the namespace could not be made; empty when the tests run inside it.
const std::string& netns_skip_reason();

#define SKIP_WITHOUT_NETNS()                                               \
  do {                                                                     \
    if (!netns_skip_reason().empty()) GTEST_SKIP() << netns_skip_reason(); \
  } while (0)

// Runs a set-up command (ip link ...) and fails the test when it fails.
void sh(const std::string& command);
// The kernel sets a link's running state a moment after the change that
// causes it (the peer's up or down): waits up to 5 s for if_status(ifname)
// to become `status`; false when it never did.
bool await_if_status(const char* ifname, int status);

// A veth pair `ifname` and `ifname`-peer, with the MAC and the address when
// given, `ifname` up. With the cable in, the peer is up too and the call
// returns once the kernel shows `ifname` running.
void add_veth(const std::string& ifname, bool cable, const std::string& mac = "", const std::string& address = "");
// Plugs or pulls the cable of such a pair: returns once `ifname`'s running
// state follows.
void set_cable(const std::string& ifname, bool in);
// Removes the interfaces a test may have left.
void remove_links(const std::vector<std::string>& names);
