// One pass of the watchdog's checks. Each check runs whatever the one
// before it did; a reboot request does not stop the pass.
#pragma once

// What the checks ask of the node beyond the host; unit tests replace it.
// Low on free memory (1 to 500 kB): reboot when idle.
void memory_test();
// No mesh interface: reboot when idle.
void wifi_test();
// Adds the NAT masquerade rule when "iptables -t nat -L" does not show it.
void check_masquerade();
// SIGTERM to every zombie process.
void clear_zombies();
// Asks the dashboard whether the Internet is reachable; a repeater that is
// told otherwise starts the lonely channel search.
void internet_test();

// memory_test, wifi_test, the three daemons, check_masquerade,
// clear_zombies, internet_test.
void watchdog_checks();
