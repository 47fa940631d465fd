// fleetlink_supervisor: the node's dashboard controller. Starts as a daemon,
// loads its records and identity, then checks in once per period until a
// firmware upgrade has started.
#include "common/profile.h"
#include "common/wifi_kernel.h"
#include "controller/checkin.h"
#include "controller/controller_loop.h"
#include "controller/device_identity.h"

int main() {
  set_profile(kControllerProfile);
  set_kernel(&wifi_kernel());
  start_controller_daemon();
  DeviceIdentity identity;
  unsigned period = prepare_controller(identity);
  return run_checkin_loop(send_checkin, identity, period);
}
