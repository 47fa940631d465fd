#include "common/wifi_kernel.h"

#include "common/station_dump.h"

void WifiKernel::station_init() { station_nl_init(dump_); }

int WifiKernel::station_dump(const char* ifname) { return ::station_dump(ifname, dump_); }

int WifiKernel::neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) {
  int rc = ::neighbour_dump(ifname, dump_);
  macs = neighbour_macs;
  signals = neighbour_signals;
  return rc;
}
