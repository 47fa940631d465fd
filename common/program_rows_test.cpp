// Each daemon's own row, byte for byte: what another program, the log or
// the fleet's tooling relies on.
#include <gtest/gtest.h>
#include <syslog.h>

#include <string>

#include "common/real_host.h"
#include "common/testing/fake_host.h"
#include "controller/program.h"
#include "reporters/clientscout_program.h"
#include "reporters/ifcounter_program.h"
#include "watchdog/program.h"

TEST(DaemonRows, PidFilesLogIdentitiesAndMessages) {
  const struct {
    const DaemonTraits& row;
    const char* pid_file;
    const char* already_running;
    const char* ident;
    int options;
    bool log_after_frame;
    bool reaper;
    bool quiet;
  } rows[] = {
      {kControllerDaemon, "/tmp/kestrel.pid", "Controller Already up and Running", "FLX-DC",
       LOG_PID | LOG_CONS | LOG_PERROR, false, true, false},
      {kClientscoutDaemon, "/tmp/clientscout.pid", "Controller Already up and Running",
       "WLClient-\xF0\x9D\x9E\xAA-0.1", LOG_PID | LOG_CONS | LOG_PERROR, false, false, false},
      {kIfcounterDaemon, "/tmp/netstat.pid", "Already up and Running", "NetStats-\xF0\x9D\x9E\xAA-1",
       LOG_PID | LOG_CONS | LOG_PERROR, true, true, false},
      {kWatchdogDaemon, "/tmp/.watchdog.pid", "Watchdog Already up and Running", "NodeGuard",
       LOG_CONS | LOG_PERROR, false, false, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pid_file);
    EXPECT_STREQ(r.pid_file, r.row.pid_file);
    EXPECT_STREQ(r.already_running, r.row.already_running);
    EXPECT_EQ(std::string(r.ident), r.row.log_ident);  // the U+1D7AA as its four UTF-8 bytes
    EXPECT_EQ(r.options, r.row.log_options);
    EXPECT_EQ(r.log_after_frame, r.row.log_after_frame);
    EXPECT_EQ(r.reaper, r.row.child_reaper);
    EXPECT_EQ(r.quiet, r.row.quiet);
  }
}

TEST(DaemonRows, TheLogDropsDebugMessages) {
  ScopedRealHost real;  // openlog and setlogmask act on this process only
  host().open_log("rows-test", LOG_CONS);
  EXPECT_EQ(0x7f, setlogmask(0));
  closelog();
}
