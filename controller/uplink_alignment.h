// After a check-in the node's mesh role follows its wired uplink: with eth0
// up and running the node serves as a batman-adv gateway, without it it is a
// gateway client. Only the gateway mode and node.status.mode change here; the
// next check-in reports the new role.
#pragma once

// Reads the gateway mode ("batctl gw") and eth0's state, then aligns both.
void align_uplink(const char* role);
// The same with eth0's state given: 1 up and running, 0 not, -1 unknown
// (counts as no uplink).
void align_uplink_to(int eth0_status, const char* gw_mode, const char* role);
