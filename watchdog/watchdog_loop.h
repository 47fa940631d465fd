// The watchdog's start-up and its endless loop.
#pragma once

inline constexpr unsigned kStartupPollSeconds = 60;
inline constexpr unsigned kBringUpPollSeconds = 1;
inline constexpr unsigned kCheckPeriodSeconds = 180;

// Log, then the daemon frame ("/tmp/.watchdog.pid").
void start_watchdog_daemon();
// Sleeps a minute at a time until neither portsense nor lonely runs, at
// least once, so the node's bring-up finishes before the first check.
void startup_wait();
// Waits while portsense or lonely runs: they reconfigure the node.
void bring_up_wait();
// One turn of the loop: the wait, the checks, the pause.
void watchdog_pass();

// The whole program once its row is chosen.
[[noreturn]] void run_watchdog();
