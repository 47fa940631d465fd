#include "controller/controller_loop.h"

#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "common/daemon.h"
#include "common/host.h"
#include "common/output.h"
#include "common/signals.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "controller/program.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/settings/setting_values.h"

void release_controller_records() {
  clear_controller_resources();
  clear_dashboard_config();
}

void start_controller_daemon() { start_daemon(kControllerDaemon); }

int checkin_interval_minutes(const char* text) { return decimal_value(text); }

unsigned checkin_period_seconds(int minutes) {
  if (minutes <= 0) return 0;
  unsigned long long seconds = static_cast<unsigned long long>(minutes) * 60ULL;
  return seconds > UINT_MAX ? UINT_MAX : static_cast<unsigned>(seconds);
}

unsigned prepare_controller(DeviceIdentity& identity) {
  log_printf(LOG_INFO, "Controller starting up");
  load_dashboard_config();
  load_node_config();
  log_printf(LOG_DEBUG, "Checkin Interval:%s", dashboard_config().interval.c_str());
  int minutes = checkin_interval_minutes(dashboard_config().interval);
  load_device_identity(identity);
  log_printf(LOG_DEBUG, "Interval int:%d", minutes);
  log_printf(LOG_INFO, "Dashboard Controller Running");
  log_printf(LOG_DEBUG, "Checkin Interval:%d", minutes);
  upgrade_pending = 0;
  return checkin_period_seconds(minutes);
}

int run_checkin_loop(CheckinFunction checkin, const DeviceIdentity& identity, unsigned period_seconds) {
  for (;;) {
    log_printf(LOG_DEBUG, "Checkin running");
    if (checkin(identity) == 0) {
      log_printf(LOG_INFO, "Checkin completed Successfully");
    } else {
      log_printf(LOG_INFO, "Checkin Failed");
    }
    if (upgrade_pending == 1) break;
    // Also the loop's termination point when the period is 0.
    host().sleep(period_seconds);
  }
  return shutdown_after_upgrade();
}

int shutdown_after_upgrade() {
  log_printf(LOG_INFO, "System upgrade is running\n");
  out_line("Shutting down Controller");
  host().kill(getpid(), SIGTERM);
  // The signal waits on the main flow; its clean-up runs here.
  termination_point();
  return 0;
}

void end_controller(int status) {
  release_resources();
  log_printf(LOG_INFO, "Exiting...");
  exit(status);
}
