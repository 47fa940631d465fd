// Shared set-up of the watchdog's unit tests: the fake host with a fake
// /proc under its root, the watchdog's profile, a hook on every sleep (the
// node changes while the watchdog waits) and views of what it did.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>

#include <functional>
#include <string>
#include <vector>

#include "common/profile.h"
#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "watchdog/program.h"

class WatchdogFake : public FakeHost {
 public:
  // Called after each sleep is recorded, with the number of sleeps so far.
  std::function<void(size_t)> on_sleep;
  void sleep(unsigned seconds) override {
    FakeHost::sleep(seconds);
    if (on_sleep) on_sleep(sleeps.size());
  }
};

class WatchdogTest : public ::testing::Test {
 protected:
  WatchdogTest() {
    set_profile(kWatchdogProfile);
    mkdir(fake.path("/proc").c_str(), 0755);  // a node without processes of ours
    kernel.links["mesh0"] = FakeLink{};
  }

  // Commands run through the shell, in order.
  std::vector<std::string> runs() const { return fake.runs(); }
  std::vector<std::string> logs(int priority = LOG_DEBUG) const { return fake.logs_at(priority); }
  // Position of the first event that equals `event`, or -1.
  long event_at(const std::string& event) const {
    for (size_t i = 0; i < fake.events.size(); ++i) {
      if (fake.events[i] == event) return static_cast<long>(i);
    }
    return -1;
  }
  void end_process(long pid) { fake.remove("/proc/" + std::to_string(pid) + "/stat"); }
  // The controller and clientscout sleeping: a reboot goes ahead at once.
  void idle_daemons() {
    fake.add_process(100, "fleetlink_super", 'S');
    fake.add_process(101, "clientscout", 'S');
  }

  WatchdogFake fake;
  ScopedHost scope{fake};
  FakeKernel kernel;
  ScopedKernel kernel_scope{kernel};

 private:
};
