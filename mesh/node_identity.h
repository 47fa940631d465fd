// The node's identity within its mesh network, asked once from the dashboard,
// and the address plan derived from it: each node owns three consecutive /22
// blocks of 10.<network>.0.0/16, for its public, private and mesh bridges.
#pragma once

enum MeshRole { kRoleGateway = 0, kRoleRepeater = 1 };

// One bridge of the plan: its dhcp section, its interface and the offset of
// its block within the node's twelve third-octet values.
struct PlannedBridge {
  const char* section;  // dhcp.<section>.ipaddr
  const char* ifname;
  int offset;
};
// br-pub, br-priv, br-meship, in the order they are set and brought up.
extern const PlannedBridge kPlannedBridges[3];

// Node numbers 1 to 21 fit the plan (node 21 ends at third octet 251).
constexpr int kFirstNode = 1;
constexpr int kLastNode = 21;

struct NodeIdentity {
  int id;       // node number within the network
  int network;  // the second octet of every address of the node
  int nodeid;   // the dashboard's own identifier of the node
};

// Reads "id:network:nodeid" (empty fields between the separators skipped).
// True only for exactly three decimal numbers with the id within the plan
// and the network a valid octet.
bool parse_nodeid_reply(const char* reply, NodeIdentity& out);

// The node id handler: stores a valid reply as the identity and its address
// plan; a reply that is not one stores nothing and says so, so the node asks
// again on its next run.
void set_nodeid(const char* reply);
// True when the last reply handed to set_nodeid was stored.
bool last_nodeid_stored();

// Asks the dashboard for the identity of the node with this MAC text. 0 once
// a reply was stored, 1 when the dashboard gave none that could be, -1 when
// it could not be reached.
int get_nodeid(const char* mac);

// The node's id: the stored one, else the result of asking the dashboard
// with the MAC of eth0 (-1 when eth0 has none to send).
int config_nodeid();
