// ifcounter as shipped, with the test host of tests/cycle_host.h.
#include "common/netif.h"
#include "reporters/ifcounter.h"
#include "tests/cycle_host.h"

int main() {
  install_cycle_host(60);
  return ifcounter_main(get_mac);
}
