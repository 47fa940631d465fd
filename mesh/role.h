// Switching the node between the gateway role (own uplink, serves DHCP and
// names on the mesh, batman gateway server) and the repeater role (reaches
// the Internet through a gateway, batman gateway client).
#pragma once

// Role 0 gateway, 1 repeater: restarts dnsmasq around the bridge and DHCP
// changes, turns batman's gateway mode from client to server or back (a mode
// of "off" stays), and records the role in node.status.mode. For every role
// the NAT rule is renewed, whose status is returned.
int config_batman_mode(int role);
