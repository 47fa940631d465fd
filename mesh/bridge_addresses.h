// Bringing the node's bridges up with the planned addresses, and the mesh
// DHCP client that a repeater takes its mesh address from.
#pragma once

extern const char kMeshDhcpClientCommand[];

// Makes sure the node has an identity, then brings up br-pub and br-priv,
// and for a gateway (role 0) also br-meship. The status of the last command;
// 1 for any other role.
int config_ipaddr(int role);
// Repeater (1): starts the mesh DHCP client, makes the default gateway the
// name server and brings the bridges up. Gateway (0): stops the mesh DHCP
// client, then brings all three bridges up. Other roles: 1, nothing done.
int dhcp_config(int role);
// dhcp_config between a stop and a start of dnsmasq; the start's status.
int dnsmasq_config(int role);

// Ends the mesh DHCP client named in its pid file (lease given up first)
// and removes the file.
void stop_mesh_dhcp_client();
