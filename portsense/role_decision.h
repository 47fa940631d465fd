// portsense's decision: what a change of the wired uplink means for the
// node's role, from the ethernet link and the mesh DHCP client.
#pragma once

// One row of the decision table: the action for a link and client state.
struct RoleRow {
  int elink;  // eth0 or eth1 up and running
  int mesh;   // the mesh DHCP client runs
  const char* situation;
  void (*action)();
};
extern const RoleRow kRoleRows[4];

// Takes the action of the row that matches `elink` and `mesh`. Returns the
// done flag: every row, the one without action too, ends the program.
int settle_role();

// Stops the VLANs, restarts the network, starts the VLANs and gives them 20 s.
void restart_network();
// Starts the lonely channel search in the background from a child process;
// the parent says which pid the child has.
void start_lonely();
