// ifcounter: reports the uplink's traffic counters every minute.
#include "reporters/ifcounter_program.h"

int main(int argc, char** argv) { return ifcounter_main(argc, argv); }
