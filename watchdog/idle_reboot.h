// Rebooting the node while the controller and clientscout sleep, so that
// neither is cut off in the middle of its work; a daemon that is gone or
// never sleeps holds the reboot back for about three minutes at most.
#pragma once

inline constexpr unsigned kIdlePollSeconds = 1;
inline constexpr unsigned kIdleRebootBound = 180;  // looks, a pause apart, before the reboot goes ahead anyway

void reboot_when_idle();
