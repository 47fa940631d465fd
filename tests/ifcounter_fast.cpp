// ifcounter as shipped, with the test host of tests/cycle_host.h.
#include "reporters/ifcounter_program.h"
#include "tests/cycle_host.h"

int main() {
  install_cycle_host(60);
  return ifcounter_main(0, nullptr);
}
