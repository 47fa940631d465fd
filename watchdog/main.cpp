// watchdog: keeps the node's daemons alive and reboots a node beyond repair.
#include "watchdog/watchdog_loop.h"

int main() { return watchdog_main(); }
