// The daemons the watchdog keeps alive: a missing one is started again, a
// zombie one is signalled through its pid file and started again.
#pragma once

struct WatchedDaemon {
  const char* process_name;  // as the kernel keeps it
  const char* pid_file;
  const char* command;
  const char* checking;  // logged before the look
  const char* zombie;    // logged for a zombie
};

// The controller, the client reporter and the statistics reporter, in the
// order of the checks.
extern const WatchedDaemon kWatchedDaemons[3];

// Removes a stale pid file and starts the daemon.
void restart_service(const char* command, const char* pid_file);
void check_service(const WatchedDaemon& daemon);
