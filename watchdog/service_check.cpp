#include "watchdog/service_check.h"

#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>

#include "common/host.h"
#include "common/output.h"
#include "common/process.h"
#include "common/runner.h"
#include "watchdog/process_state.h"

const WatchedDaemon kWatchedDaemons[3] = {
    {"fleetlink_super", "/tmp/kestrel.pid", "/usr/bin/fleetlink_supervisor", "Checking controller status...",
     "Controller in Zombie state - required restart"},
    {"clientscout", "/tmp/clientscout.pid", "/usr/bin/clientscout", "Checking clientscout status...",
     "clientscout Zombie state - required restart"},
    {"ifcounter", "/tmp/netstat.pid", "/usr/bin/ifcounter", "Checking ifcounter status...",
     "netstats Zombie state- required restart"},
};

void restart_service(const char* command, const char* pid_file) {
  // A pid file left behind keeps the daemon's frame from starting.
  if (host_access(pid_file, F_OK) == 0) {
    log_printf(LOG_DEBUG, "Removing %s", pid_file);
    host_unlink(pid_file);
  }
  log_printf(LOG_DEBUG, "Starting %s", command);
  host().run(command);
}

void check_service(const WatchedDaemon& daemon) {
  log_printf(LOG_DEBUG, "%s", daemon.checking);
  int state = process_state(daemon.process_name);
  if (state == kAbsent) {
    restart_service(daemon.command, daemon.pid_file);
    return;
  }
  if (state != kZombie) return;
  log_printf(LOG_DEBUG, "%s", daemon.zombie);
  FixedText<50> line;
  if (read_file(daemon.pid_file, line) != 0) return;
  long pid = strtol(line, nullptr, 10);
  log_printf(LOG_DEBUG, "Clearing process: %ld", pid);
  // The pid file may be stale and its number reused by another program:
  // only a process that still carries the daemon's name is signalled.
  if (pid > 0) signal_named_process(pid, daemon.process_name, SIGTERM);
  restart_service(daemon.command, daemon.pid_file);
}
