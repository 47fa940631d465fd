// Finding the mesh's ad-hoc cell in a scan of the channels around the node.
#pragma once

#include "lonely/scan_backend.h"

// The mesh cell every node of the network joins.
extern const char kMeshCellBssid[];  // "02:CA:FE:CA:CA:40"
extern const char kMeshCellName[];   // "mesh"

// Scans with the backend and walks the records in the order it delivers
// them: the channel of the first ad-hoc record of the mesh cell on a channel
// other than `current`, 0 when there is none, -1 when the scan failed or
// heard nothing.
int scan_for_mesh_cell(const scan_backend_ops* backend, const char* ifname, int current);

// scan_for_mesh_cell on the interface's backend (the kernel's), releasing
// the backend afterwards; -1 without an interface name or a wireless backend.
int wc_scan(const char* ifname, int current);
