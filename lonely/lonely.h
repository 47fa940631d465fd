// The lonely program: a node without uplink and without mesh link looks for
// the mesh cell on the other channels and joins it as a repeater.
#pragma once

#include "lonely/mesh_cell.h"

// Lets the node settle (10 s), takes the link, mesh client and VLAN probes,
// then gives the mesh another 60 s.
void settle_and_probe();

// What follows the probes: starts missing VLANs, ends for a node with uplink
// or mesh client, takes the repeater role when a gateway answers, else
// searches the channels until the node joins the mesh (or is rebooted).
// The exit status.
int join_mesh();

// The whole program.
int run_lonely();
