// Probe tests run in a network namespace of their own, made once per test
// program (root only), so they can create interfaces named as on the node.
#pragma once

#include <gtest/gtest.h>

#include <string>

// Why the namespace could not be made; empty when the tests run inside it.
const std::string& netns_skip_reason();

#define SKIP_WITHOUT_NETNS()                                          \
  do {                                                                \
    if (!netns_skip_reason().empty()) GTEST_SKIP() << netns_skip_reason(); \
  } while (0)

// Runs a set-up command (ip link ...) and fails the test when it fails.
void sh(const std::string& command);
// The kernel sets a link's running state a moment after the change that
// causes it: waits up to 2 s for if_status(ifname) to become `status`.
void await_if_status(const char* ifname, int status);
