// The lonely node's search: move the radio to the channel where the mesh
// cell is heard and see whether a gateway answers there.
#pragma once

#include "lonely/mesh_cell.h"

// Search cycles before the node is rebooted: the eleventh cycle orders it.
constexpr int kRebootCycle = 10;

// Sets the radio to `channel`, restarts the network around it and checks for
// a gateway; with one, takes the repeater role and shows it on the LEDs.
// 0 when the node has joined the mesh, else 1 (the channel stays set).
int try_channel(int channel);

// One search cycle, counted from 0: scans mesh0, tries a channel on which the
// cell was heard, orders the reboot in the cycle kRebootCycle, then pauses
// 30 s. 0 when the node joined the mesh, 1 when the search goes on.
int search_cycle(int cycle);
