// The host of the daemons' test builds: the real host, except that with
// NODE_FAST_CYCLES=<n> in the environment every sleep returns at once and,
// after the n-th pause of the daemon's period, the peak resident memory
// (VmHWM, VmRSS) goes into the file NODE_FAST_REPORT names and the daemon
// ends through its own SIGTERM clean-up. Without the variable the build
// sleeps as the product does.
#pragma once

#include "common/real_host.h"

class CycleHost : public RealHost {
 public:
  explicit CycleHost(unsigned period_seconds) : period_(period_seconds) {}
  void sleep(unsigned seconds) override;

 private:
  unsigned period_;
  unsigned cycles_ = 0;
};

// Installs a CycleHost for the period when NODE_FAST_CYCLES is set.
void install_cycle_host(unsigned period_seconds);
