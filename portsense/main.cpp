// portsense: run without arguments when the wired uplink changes.
#include "common/profile.h"
#include "mesh/mesh_profile.h"
#include "portsense/portsense.h"

int main() {
  set_profile(kPortsenseProfile);
  set_mesh_profile(kPortsenseMesh);
  return run_portsense();
}
