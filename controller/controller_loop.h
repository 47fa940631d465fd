// The controller's start-up and its check-in loop. The program's main reads:
//   start_controller_daemon();
//   DeviceIdentity identity;
//   unsigned period = prepare_controller(identity);
//   return run_checkin_loop(send_checkin, identity, period);
#pragma once

struct DeviceIdentity;

using CheckinFunction = int (*)(const DeviceIdentity& identity);

// Log mask and log, then the daemon frame ("/tmp/kestrel.pid") with the
// controller's clean-up; a second instance ends here with exit status 1.
void start_controller_daemon();
// The clean-up at SIGTERM or SIGINT, after the pid file is gone: the
// controller's firewall rules, then its records.
void release_controller_records();

// Loads the dashboard settings, the node configuration and the identity and
// clears the upgrade flag; returns the check-in period in seconds.
unsigned prepare_controller(DeviceIdentity& identity);
// The interval text in minutes: "5" gives 5, "abc" or "" give 0.
int checkin_interval_minutes(const char* text);
// The pause between check-ins; 0 (none) for an interval of 0 or below.
unsigned checkin_period_seconds(int minutes);

// Checks in at once and then after every period, until a check-in leaves a
// firmware upgrade pending; then shuts the controller down.
int run_checkin_loop(CheckinFunction checkin, const DeviceIdentity& identity, unsigned period_seconds);
// Ends the controller through its own termination handler (SIGTERM to
// itself). Returns 0 only when the signal does not end the process.
int shutdown_after_upgrade();

// Ends the controller with `status` through the same clean-up as SIGTERM:
// the pid file goes, the firewall rules and the records are released, so the
// watchdog can start it again cleanly.
[[noreturn]] void end_controller(int status);
