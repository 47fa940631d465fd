// check_service on a fake /proc: a missing daemon is started again, a
// zombie one signalled through its pid file (only when the pid still names
// it) and started again, a stopped or sleeping one left alone.
#include "watchdog/service_check.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "watchdog/testing/watchdog_test.h"

namespace {

using ServiceCheck = WatchdogTest;

const WatchedDaemon& controller() { return kWatchedDaemons[0]; }
const WatchedDaemon& clientscout() { return kWatchedDaemons[1]; }
const WatchedDaemon& ifcounter() { return kWatchedDaemons[2]; }

}  // namespace

TEST_F(ServiceCheck, TheTableOfWatchedDaemons) {
  EXPECT_STREQ("fleetlink_super", controller().process_name);
  EXPECT_STREQ("/tmp/kestrel.pid", controller().pid_file);
  EXPECT_STREQ("/usr/bin/fleetlink_supervisor", controller().command);
  EXPECT_STREQ("/tmp/clientscout.pid", clientscout().pid_file);
  EXPECT_STREQ("/usr/bin/clientscout", clientscout().command);
  EXPECT_STREQ("ifcounter", ifcounter().process_name);
  EXPECT_STREQ("/tmp/netstat.pid", ifcounter().pid_file);
  EXPECT_STREQ("/usr/bin/ifcounter", ifcounter().command);
}

TEST_F(ServiceCheck, AnAbsentControllerLosesItsPidFileAndIsStarted) {
  fake.write("/tmp/kestrel.pid", "4711\n");
  check_service(controller());
  EXPECT_FALSE(fake.exists("/tmp/kestrel.pid"));
  EXPECT_EQ((std::vector<std::string>{"/usr/bin/fleetlink_supervisor"}), runs());
  EXPECT_EQ((std::vector<std::string>{"Checking controller status...", "Removing /tmp/kestrel.pid",
                                      "Starting /usr/bin/fleetlink_supervisor"}),
            logs());
  // Without a pid file nothing is removed.
  fake.logs.clear();
  check_service(ifcounter());
  EXPECT_EQ((std::vector<std::string>{"Checking ifcounter status...", "Starting /usr/bin/ifcounter"}), logs());
  EXPECT_TRUE(fake.kills.empty());
}

TEST_F(ServiceCheck, AZombieIsSignalledThroughItsPidFileAndStarted) {
  const struct {
    const WatchedDaemon& daemon;
    const char* name;
    const char* pid_file;
    const char* checking;
    const char* zombie;
    const char* command;
  } daemons[] = {
      {controller(), "fleetlink_super", "/tmp/kestrel.pid", "Checking controller status...",
       "Controller in Zombie state - required restart", "/usr/bin/fleetlink_supervisor"},
      {clientscout(), "clientscout", "/tmp/clientscout.pid", "Checking clientscout status...",
       "clientscout Zombie state - required restart", "/usr/bin/clientscout"},
      {ifcounter(), "ifcounter", "/tmp/netstat.pid", "Checking ifcounter status...",
       "netstats Zombie state- required restart", "/usr/bin/ifcounter"},
  };
  for (const auto& d : daemons) {
    SCOPED_TRACE(d.name);
    fake.events.clear();
    fake.logs.clear();
    fake.kills.clear();
    fake.add_process(321, d.name, 'Z');
    fake.write(d.pid_file, "321\n");
    check_service(d.daemon);
    EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{321, SIGTERM}}), fake.kills);
    EXPECT_FALSE(fake.exists(d.pid_file));
    EXPECT_EQ((std::vector<std::string>{d.command}), runs());
    EXPECT_EQ((std::vector<std::string>{d.checking, d.zombie, "Clearing process: 321",
                                        std::string("Removing ") + d.pid_file, std::string("Starting ") + d.command}),
              logs());
    fake.remove("/proc/321/stat");
  }
}

TEST_F(ServiceCheck, ThePidFileDecidesWhatIsSignalled) {
  struct Case {
    const char* pid_file;  // nullptr: none
    bool signalled;
    bool restarted;
  };
  const Case cases[] = {
      {"500\n", true, true},                        // the zombie's own pid
      {"77\n", false, true},                        // a stale pid, now another program's
      {"999\n", false, true},                       // a pid nobody has
      {"abc\n", false, true},                       // no positive number
      {"-1\n", false, true},   {"", false, false},  // empty: the step ends
      {nullptr, false, false},                      // unreadable: the step ends
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pid_file ? c.pid_file : "<none>");
    fake.events.clear();
    fake.kills.clear();
    fake.stdout_text.clear();
    fake.add_process(500, "fleetlink_super", 'Z');
    fake.add_process(77, "sshd", 'S');
    fake.remove("/tmp/kestrel.pid");
    if (c.pid_file) fake.write("/tmp/kestrel.pid", c.pid_file);
    check_service(controller());
    EXPECT_EQ(c.signalled ? 1u : 0u, fake.kills.size());
    if (c.signalled) {
      EXPECT_EQ((std::pair<pid_t, int>{500, SIGTERM}), fake.kills[0]);
    }
    EXPECT_EQ(c.restarted ? std::vector<std::string>{"/usr/bin/fleetlink_supervisor"} : std::vector<std::string>{},
              runs());
    EXPECT_EQ("", fake.stdout_text);  // the watchdog reads an empty file silently
  }
}

TEST_F(ServiceCheck, RunningSleepingAndStoppedDaemonsAreLeftAlone) {
  for (char state : {'S', 'R', 'D', 'T'}) {
    SCOPED_TRACE(state);
    fake.add_process(600, "ifcounter", state);
    fake.write("/tmp/netstat.pid", "600\n");
    check_service(ifcounter());
    EXPECT_TRUE(runs().empty());
    EXPECT_TRUE(fake.kills.empty());
    EXPECT_TRUE(fake.exists("/tmp/netstat.pid"));
  }
}
