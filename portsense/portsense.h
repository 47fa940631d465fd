// The portsense program: settles the node's role after a change of its wired
// uplink, then exits.
#pragma once

// At most this many cycles; every decision ends the program after the first.
constexpr int kPortsenseCycles = 3;

// The probes of a cycle: uptime, ethernet link, mesh DHCP client, VLANs.
void probe_node();
// What follows the probes: the VLAN wait, the decision and the 5 s pause.
// The done flag, or -1 when the VLANs never came (no decision, no pause).
int settle_cycle();
// The whole program; the exit status: 1 when the VLANs never came, else 0.
int run_portsense();
