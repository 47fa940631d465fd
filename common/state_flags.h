// One-shot state flags of the mesh bring-up programs.
#pragma once

#include <sys/stat.h>

extern int elink;  // an ethernet port has link (eth0, else eth1)
extern int mesh;   // the mesh DHCP client runs (its pid file exists)
extern int vlan;   // bat0.0 to bat0.3 all exist
extern int boot;   // up for at least 360 seconds
extern struct stat statbuff;

extern const char kMeshDhcpPidFile[];

void check_link();
void check_mesh();
void check_vlan();
