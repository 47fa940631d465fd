// Rebooting the node while the controller and clientscout sleep, so that
// neither is cut off in the middle of its work, but never waiting longer
// than kIdleRebootBound seconds for that moment.
#pragma once

inline constexpr unsigned kIdlePollSeconds = 1;
inline constexpr unsigned kIdleRebootBound = 180;  // looks before the reboot goes ahead anyway

void reboot_when_idle();
