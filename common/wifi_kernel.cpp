#include "common/wifi_kernel.h"

#include "common/station_dump.h"

void WifiKernel::station_init() { station_nl_init(); }

int WifiKernel::station_dump(const char* ifname) { return ::station_dump(ifname); }

int WifiKernel::neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) {
  int rc = ::neighbour_dump(ifname);
  macs = neighbour_macs;
  signals = neighbour_signals;
  return rc;
}

Kernel& wifi_kernel() {
  static WifiKernel k;
  return k;
}
