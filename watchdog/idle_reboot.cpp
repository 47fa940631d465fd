#include "watchdog/idle_reboot.h"

#include <syslog.h>

#include "common/host.h"
#include "common/output.h"
#include "watchdog/process_state.h"

namespace {

const char kController[] = "fleetlink_super";
const char kClientscout[] = "clientscout";

}  // namespace

void reboot_when_idle() {
  // A daemon that is gone or stuck never sleeps: after the bound the reboot
  // goes ahead, saying which one it waited for. The looks are paced so that
  // the wait does not take a core of the router.
  for (unsigned looks = 1;; ++looks) {
    const char* busy = kController;
    int state = process_state(kController);
    if (state == kSleeping) {
      busy = kClientscout;
      state = process_state(kClientscout);
    }
    if (state == kSleeping) break;
    if (looks >= kIdleRebootBound) {
      log_printf(LOG_INFO, "Rebooting after waiting %u s: %s %s", (looks - 1) * kIdlePollSeconds, busy,
                 state == kAbsent ? "is not running" : "never reached the sleeping state");
      break;
    }
    host().sleep(kIdlePollSeconds);
  }
  host().run("/sbin/do_reboot");
}
