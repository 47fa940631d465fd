// How lonely and portsense differ in the mesh bring-up code they share.
// Each program selects its mesh profile first thing in main().
#pragma once

#include "common/transport.h"

struct MeshProfile {
  const char* name;
  // How get_nodeid and check_internet connect to the dashboard.
  const ConnectVariant* connect;
  // How often bat_ping reads the gateway table before it gives up.
  int gateway_readings;
};

extern const MeshProfile kLonelyMesh;
extern const MeshProfile kPortsenseMesh;

const MeshProfile& mesh_profile();
void set_mesh_profile(const MeshProfile& p);
