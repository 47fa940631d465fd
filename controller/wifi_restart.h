// Restarts the node's Wi-Fi and networking after a wireless change, and
// gives the bridges their addresses back for the node's role.
#pragma once

// role: "gateway" or "repeater" (anything but "gateway" counts as repeater).
// Takes at least 70 seconds: a 30-second settle and two LED blink pauses.
void restart_wifi(const char* role);
