// Shared set-up of the controller's unit tests: the fake host, fresh change
// counts and upgrade flag, and views of what the controller did.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "controller/config_record.h"
#include "controller/program.h"
#include "controller/settings/firmware_upgrade.h"

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() {
    set_profile(kControllerProfile);
    config.changes = ChangeCounts{};
    upgrade_pending = 0;
  }

  // Commands run through the shell (not the ones read), in order.
  std::vector<std::string> runs() const { return fake.runs(); }
  // Commands whose output was read, in order.
  std::vector<std::string> reads() const { return fake.reads(); }
  // Events of the given kinds ("run ", "read ", "sleep ", ...), in order.
  std::vector<std::string> events(std::initializer_list<const char*> kinds) const {
    std::vector<std::string> out;
    for (const std::string& e : fake.events) {
      for (const char* k : kinds) {
        if (e.rfind(k, 0) == 0) {
          out.push_back(e);
          break;
        }
      }
    }
    return out;
  }
  // Log lines of one priority.
  std::vector<std::string> logs(int priority) const { return fake.logs_at(priority); }
  int count_of(const std::string& text, const std::string& piece) const {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
    return n;
  }
  // The LED files exist on the node, so LED changes show as writes.
  void add_leds() {
    for (const char* led : {"orange:link2", "red:link1", "green:link3", "green:link4"}) {
      fake.write(std::string("/sys/class/leds/ubnt:") + led + "/trigger", "none");
    }
  }

  FakeHost fake;
  ScopedHost scope{fake};
  FakeKernel kernel;  // no interfaces unless a test adds them
  ScopedKernel kernel_scope{kernel};
  NodeConfig config;
};
