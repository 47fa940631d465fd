// Waiting for batman's VLAN interfaces bat0.0 to bat0.3 before portsense
// decides anything: the role switch restarts services that sit on them.
#pragma once

// Passes of the wait over the whole run; never reset between cycles.
extern int vlan_wait_counter;
// The pass on which the VLANs are started whatever the uptime says.
constexpr int kForcedVlanStartPass = 4;

// Passes over the whole run after which the wait gives up: ten minutes, time
// enough for a slow boot. The watchdog does nothing while portsense runs, so
// a node whose VLANs never come must not keep it waiting for ever.
constexpr int kVlanWaitPasses = 60;

// Waits (10 s a pass) until all four VLANs exist. A node up for 360 s or
// more starts them itself once bat0 exists; before that batman is left to
// create them, apart from the one start on the fourth pass. Returns false,
// with a message, when the run's passes reached kVlanWaitPasses without them.
bool wait_for_vlan();
