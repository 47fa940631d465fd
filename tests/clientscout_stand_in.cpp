// clientscout with a stand-in for nl80211, for machines whose kernel has no
// Wi-Fi: the start-up finds nothing to set up, and each dump of "pub0"
// appends two client records the way the real dump writes them. Everything
// else is the product's code on the node's real kernel.
#include "common/linux_kernel.h"
#include "common/station_format.h"
#include "reporters/clientscout.h"
#include "reporters/clientscout_program.h"
#include "tests/cycle_host.h"

namespace {

class StandInStations : public LinuxKernel {
 public:
  void station_init() override {}
  int station_dump(const char* ifname) override {
    if (ifname[0] == 'p' && ifname[1] == 'u') {
      append_client_record("mac=00:11:22:33:44:55;rx=512;tx=300;ctime=5;rssi=-52;txbitrate=65.0 MBit/s MCS 7|");
      append_client_record("mac=66:77:88:99:aa:bb;rx=9000;tx=4000");
    }
    return 0;
  }
};

}  // namespace

int main() {
  install_cycle_host(60);
  set_profile(kClientscoutProfile);
  static StandInStations stations;
  set_kernel(&stations);
  return run_clientscout();
}
