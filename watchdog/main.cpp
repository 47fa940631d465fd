// watchdog: keeps the node's daemons alive and reboots a node beyond repair.
#include "watchdog/program.h"

int main(int argc, char** argv) { return watchdog_main(argc, argv); }
