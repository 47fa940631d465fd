// The node's kernel with its radios' station dumps over nl80211 (the
// programs that report stations: the controller and clientscout).
#pragma once

#include "common/linux_kernel.h"

class WifiKernel : public LinuxKernel {
 public:
  void station_init() override;
  int station_dump(const char* ifname) override;
  int neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) override;
};

Kernel& wifi_kernel();
