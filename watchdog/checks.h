// One pass of the watchdog's checks. Each check runs whatever the one
// before it did; a reboot request does not stop the pass.
#pragma once

// Low on free memory (1 to 500 kB): reboot when idle.
void memory_test();
// No mesh interface: reboot when idle.
void wifi_test();
// Adds the NAT masquerade rule when "iptables -t nat -L" does not show it.
void check_masquerade();
// SIGTERM to every zombie process.
void clear_zombies();
// The watchdog's reply check: a 30000-byte reply area and its messages in
// the debug log; logs "Response: %s" and gives 0 for "Succeed", else 1.
int process_http_watchdog(int sock, const char* host, const char* path);
// Asks the dashboard whether the Internet is reachable; a repeater that is
// told otherwise starts the lonely channel search.
void internet_test();

// memory_test, wifi_test, the three daemons, check_masquerade,
// clear_zombies, internet_test.
void watchdog_checks();
