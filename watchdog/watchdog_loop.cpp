#include "watchdog/watchdog_loop.h"

#include "common/daemon.h"
#include "common/host.h"
#include "common/profile.h"
#include "watchdog/checks.h"
#include "watchdog/process_state.h"
#include "watchdog/program.h"

namespace {

bool bring_up_running() { return process_exists("portsense") || process_exists("lonely"); }

}  // namespace

void start_watchdog_daemon() { start_daemon(kWatchdogDaemon); }

void startup_wait() {
  do {
    host().sleep(kStartupPollSeconds);
  } while (bring_up_running());
}

void bring_up_wait() {
  // Paced: looking again at once would keep a core of the router busy for
  // as long as lonely searches.
  while (bring_up_running()) host().sleep(kBringUpPollSeconds);
}

void watchdog_pass() {
  bring_up_wait();
  watchdog_checks();
  host().sleep(kCheckPeriodSeconds);
}

void run_watchdog() {
  start_watchdog_daemon();
  startup_wait();
  for (;;) watchdog_pass();
}
