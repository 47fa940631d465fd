// ifcounter: reports the uplink's traffic counters every minute.
#include "common/netif.h"
#include "reporters/ifcounter.h"

int main() { return ifcounter_main(get_mac); }
