// The node's kernel with its radios' station dumps over nl80211, in the way
// of the program that reports them (the controller, clientscout).
#pragma once

#include "common/linux_kernel.h"

struct StationDumpOptions;

class WifiKernel : public LinuxKernel {
 public:
  explicit WifiKernel(const StationDumpOptions& dump) : dump_(dump) {}
  void station_init() override;
  int station_dump(const char* ifname) override;
  int neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) override;

 private:
  const StationDumpOptions& dump_;
};
