// lonely: run without arguments, in the background, by portsense and the
// watchdog when the node has neither uplink nor mesh link.
#include "common/profile.h"
#include "lonely/lonely.h"
#include "lonely/scan_backend.h"
#include "mesh/mesh_profile.h"

int main() {
  set_profile(kLonelyProfile);
  set_mesh_profile(kLonelyMesh);
  set_kernel(&scan_kernel());
  return run_lonely();
}
