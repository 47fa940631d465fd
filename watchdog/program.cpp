#include "watchdog/program.h"

#include <syslog.h>

#include "watchdog/watchdog_loop.h"

const ProgramProfile kWatchdogProfile = {
    .name = "watchdog",
    .read_file_quiet_on_empty = true,
    .proc_parse_failure = -2,
    .proc_messages_logged = true,
    .host_connect = &kWatchdogConnect,
};

// The watchdog's log lines carry no pid.
const DaemonTraits kWatchdogDaemon = {
    .pid_file = "/tmp/.watchdog.pid",
    .already_running = "Watchdog Already up and Running",
    .quiet = true,
    .log_ident = "NodeGuard",
    .log_options = LOG_CONS | LOG_PERROR,
};

const ConnectVariant kWatchdogConnect = {.talk = ConnectTalk::kHostLogged, .fallback = true, .check_connect = true};

int watchdog_main(int, char**) {
  set_profile(kWatchdogProfile);
  run_watchdog();
}
