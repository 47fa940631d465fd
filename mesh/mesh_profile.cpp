#include "mesh/mesh_profile.h"

//                                 name         connect             readings
const MeshProfile kLonelyMesh = {"lonely", &kLonelyConnect, 3};
const MeshProfile kPortsenseMesh = {"portsense", &kPortsenseConnect, 4};

namespace {
const MeshProfile* g_mesh_profile = &kLonelyMesh;
}

const MeshProfile& mesh_profile() { return *g_mesh_profile; }
void set_mesh_profile(const MeshProfile& p) { g_mesh_profile = &p; }
