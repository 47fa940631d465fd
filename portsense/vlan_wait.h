// Waiting for batman's VLAN interfaces bat0.0 to bat0.3 before portsense
// decides anything: the role switch restarts services that sit on them.
#pragma once

// Passes of the wait over the whole run; never reset between cycles.
extern int vlan_wait_counter;
// The pass on which the VLANs are started whatever the uptime says.
constexpr int kForcedVlanStartPass = 4;

// Waits (10 s a pass, without limit) until all four VLANs exist. A node up
// for 360 s or more starts them itself once bat0 exists; before that batman
// is left to create them, apart from the one start on the fourth pass.
void wait_for_vlan();
