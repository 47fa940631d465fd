// The daemon frame: single-instance pid file, signal handlers, fork into the
// background, detach, and an orderly end on SIGTERM or SIGINT.
#pragma once

#include <signal.h>

// A daemon's row: each daemon's lives in its own folder.
struct DaemonTraits {
  const char* pid_file;
  const char* already_running;  // logged when the pid file exists or is locked
  bool child_reaper = false;    // installs on_child_exit for SIGCHLD
  bool quiet = false;           // frame messages at debug level, the child's pid logged
  // Program clean-up around the removal of the pid file, in this order:
  // close the descriptor, before_pid_removal, remove the file, after_pid_removal.
  void (*before_pid_removal)() = nullptr;
  void (*after_pid_removal)() = nullptr;
  // The program's log: opened before the frame, or after it (the frame's own
  // messages then go out under the default identifier).
  const char* log_ident;
  int log_options;
  bool log_after_frame = false;
};

// Returns only in the daemon (or at once when the parent is init); every
// failure ends the process.
void daemonize(const char* working_dir, const DaemonTraits& traits);
// Opens the program's log and runs the frame with "/tmp/", in the program's order.
void start_daemon(const DaemonTraits& traits);

// Handlers. on_terminate records the signal; the main flow then ends the
// daemon at its next wait (see common/signals.h).
void on_child_exit(int sig);
void on_terminate(int sig);
void on_fault(int sig, siginfo_t* info, void* context);

// Closes and removes the pid file and runs the program's clean-up.
void release_resources();
// The termination steps, run on the main flow: log, clean-up for SIGINT and
// SIGTERM, "Exiting...", exit status 0.
[[noreturn]] void terminate_daemon(int sig);
