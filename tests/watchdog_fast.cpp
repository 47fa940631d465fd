// The watchdog as shipped, with the test host of tests/cycle_host.h.
#include "tests/cycle_host.h"
#include "watchdog/program.h"
#include "watchdog/watchdog_loop.h"

int main() {
  install_cycle_host(kCheckPeriodSeconds);
  return watchdog_main(0, nullptr);
}
