#include "reporters/ifcounter_program.h"

#include <syslog.h>

#include "reporters/ifcounter.h"

const ProgramProfile kIfcounterProfile = {.name = "ifcounter", .if_status_tries_ioctl = true};

// The frame's own messages go out under the default identifier: the log is
// opened after it.
const DaemonTraits kIfcounterDaemon = {
    .pid_file = "/tmp/netstat.pid",
    .already_running = "Already up and Running",
    .child_reaper = true,
    .before_pid_removal = clear_stats_config,
    .log_ident = "NetStats-\xF0\x9D\x9E\xAA-1",
    .log_options = LOG_PID | LOG_CONS | LOG_PERROR,
    .log_after_frame = true,
};

const ConnectVariant kIfcounterConnect = {.talk = ConnectTalk::kDashboard, .check_connect = true};

int ifcounter_main(int, char**) {
  set_profile(kIfcounterProfile);
  return run_ifcounter();
}
