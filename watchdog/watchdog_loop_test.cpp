// The watchdog's waits on the fake host: the start-up wait, the paced wait
// while portsense or lonely runs, and the bounded wait before a reboot. The
// node changes between the sleeps through the fake's sleep hook.
#include "watchdog/watchdog_loop.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "common/build_config.h"
#include "common/testing/http_server.h"
#include "common/transport.h"
#include "watchdog/checks.h"
#include "watchdog/idle_reboot.h"
#include "watchdog/testing/watchdog_test.h"

namespace {

using Waits = WatchdogTest;

const char kReboot[] = "/sbin/do_reboot";

}  // namespace

TEST_F(Waits, AnIdleNodeRebootsAtOnce) {
  idle_daemons();
  reboot_when_idle();
  EXPECT_EQ(std::vector<std::string>{kReboot}, runs());
  EXPECT_TRUE(fake.sleeps.empty());
  EXPECT_TRUE(logs(LOG_INFO).empty());
}

TEST_F(Waits, TheRebootWaitsForBothDaemonsToSleep) {
  fake.add_process(100, "fleetlink_super", 'R');
  fake.add_process(101, "clientscout", 'R');
  // The controller sleeps after the third look, clientscout after the fifth;
  // a controller that wakes again while clientscout is busy is waited for.
  fake.on_sleep = [&](size_t n) {
    if (n == 3) fake.add_process(100, "fleetlink_super", 'S');
    if (n == 4) fake.add_process(100, "fleetlink_super", 'D');
    if (n == 5) fake.add_process(101, "clientscout", 'S');
    if (n == 6) fake.add_process(100, "fleetlink_super", 'S');
  };
  reboot_when_idle();
  EXPECT_EQ(std::vector<unsigned>(6, kIdlePollSeconds), fake.sleeps);
  long last_sleep = -1;
  for (size_t i = 0; i < fake.events.size(); ++i) {
    if (fake.events[i].rfind("sleep ", 0) == 0) last_sleep = static_cast<long>(i);
  }
  EXPECT_GT(event_at(std::string("run ") + kReboot), last_sleep);
  EXPECT_TRUE(logs(LOG_INFO).empty());
}

TEST_F(Waits, TheRebootGoesAheadAfterItsBound) {
  const struct {
    char controller;  // 0: absent
    char clientscout;
    const char* reason;
  } cases[] = {
      {0, 'S', "fleetlink_super is not running"},
      {'R', 'S', "fleetlink_super never reached the sleeping state"},
      {'S', 0, "clientscout is not running"},
      {'S', 'Z', "clientscout never reached the sleeping state"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    end_process(100);
    end_process(101);
    if (c.controller) fake.add_process(100, "fleetlink_super", c.controller);
    if (c.clientscout) fake.add_process(101, "clientscout", c.clientscout);
    fake.events.clear();
    fake.sleeps.clear();
    fake.logs.clear();
    reboot_when_idle();
    EXPECT_EQ(std::vector<std::string>{kReboot}, runs());
    // About three minutes of one-second pauses, never a look without one.
    EXPECT_EQ(std::vector<unsigned>(kIdleRebootBound - 1, 1), fake.sleeps);
    EXPECT_EQ(std::vector<std::string>{"Rebooting after waiting 179 s: " + std::string(c.reason)}, logs(LOG_INFO));
  }
}

TEST_F(Waits, StartUpWaitsAMinuteAtLeastAndWhileTheBringUpRuns) {
  startup_wait();
  EXPECT_EQ(std::vector<unsigned>{kStartupPollSeconds}, fake.sleeps);

  fake.sleeps.clear();
  fake.add_process(40, "portsense", 'S');
  fake.on_sleep = [&](size_t n) {
    if (n == 2) {
      end_process(40);
      fake.add_process(41, "lonely", 'R');
    }
    if (n == 3) end_process(41);
  };
  startup_wait();
  EXPECT_EQ(std::vector<unsigned>(3, kStartupPollSeconds), fake.sleeps);
}

TEST_F(Waits, ThePassWaitsPacedWhileLonelySearches) {
  fake.add_process(41, "lonely", 'S');
  fake.on_sleep = [&](size_t n) {
    if (n == 3) end_process(41);
  };
  idle_daemons();
  fake.add_process(102, "ifcounter", 'S');
  fake.outputs["iptables -t nat -L"] = "MASQUERADE all\n";
  fake.write("/proc/meminfo", "MemFree: 20000 kB\n");
  ScriptedServer dashboard;
  fake.hosts[DASHBOARD_HOST] = "127.0.0.1";
  dashboard_link().port = dashboard.port();
  dashboard.script(ServerReply::text("#@#Succeed"));
  watchdog_pass();
  EXPECT_EQ((std::vector<unsigned>{1, 1, 1, kCheckPeriodSeconds}), fake.sleeps);
  // No check before lonely has ended; the pause comes last.
  long first_check = event_at(std::to_string(LOG_DEBUG).insert(0, "log ") + " Running Memory Test...");
  ASSERT_GT(first_check, 0);
  EXPECT_EQ("sleep 1", fake.events[first_check - 1]);
  EXPECT_EQ("sleep 180", fake.events.back());
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ(1u, dashboard.connections());

  // Without portsense or lonely the checks start at once.
  fake.sleeps.clear();
  fake.on_sleep = nullptr;
  watchdog_pass();
  EXPECT_EQ(std::vector<unsigned>{kCheckPeriodSeconds}, fake.sleeps);
}
