#include "portsense/vlan_wait.h"

#include "common/host.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/services.h"
#include "common/state_flags.h"

int vlan_wait_counter = 0;

bool wait_for_vlan() {
  while (vlan != 1) {
    if (vlan_wait_counter >= kVlanWaitPasses) {
      out_printf("VLANs bat0.0 to bat0.3 still missing after %d s of waiting: no role decision\n",
                 kVlanWaitPasses * 10);
      return false;
    }
    out_line("Waiting for batman to start vlan");
    check_vlan();
    // `boot` as probed at the start of the cycle.
    if (boot == 1 && vlan == 0) {
      if (if_status("bat0") == -1) {
        out_line("Waiting to register the bat0 interface");
      } else {
        int r = service::_vlan(0);
        if (r == 0) out_line("vlan configuration completed");
        if (r == 1) out_line("vlan configuratio failed");
      }
    }
    host().sleep(10);
    if (++vlan_wait_counter == kForcedVlanStartPass) service::_vlan(0);
  }
  return true;
}
