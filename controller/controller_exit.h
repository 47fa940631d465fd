// An end of the controller from within a check-in.
#pragma once

// Ends the controller with `status` through the same clean-up as SIGTERM:
// the pid file goes, the firewall rules and the records are released, so the
// watchdog can start it again cleanly.
[[noreturn]] void end_controller(int status);
