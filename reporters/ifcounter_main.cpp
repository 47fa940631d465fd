// ifcounter: reports the uplink's traffic counters every minute.
#include "reporters/ifcounter.h"

int main() { return ifcounter_main(); }
