// What a check-in tells the dashboard about the node: the readings, taken
// afresh at every check-in, and the query text they make.
#pragma once

#include "common/load_average.h"
#include "common/text.h"

struct DeviceIdentity;
struct NodeConfig;

using RoleText = FixedText<20>;
using AddressText = FixedText<20>;
using UptimeText = FixedText<32>;
// At most 1022 characters; a longer report is cut.
using QueryText = FixedText<1023>;

// Marks a node that has just been upgraded; reported once with "&upgrade=1".
extern const char kUpgradeMarkFile[];  // "/etc/fw_a_version.old"

struct NodeReport {
  unsigned memfree = 0;  // kB
  LoadAverage load;
  int rr = 0;            // 1 in the first check-in after start-up
  RoleText role;         // node.status.mode as it is now
  bool gateway = false;  // the role is "gateway"
  int hop = 0;           // gateways the mesh announces; 0 for a gateway
  AddressText lan;       // br-lan (gateway) or br-meship (repeater)
  AddressText ip;        // bat0.2
  AddressText mesh;      // MAC of mesh0
  UptimeText uptime;
  AddressText gateway_ip;  // the default route
  const char* nbs = "";    // neighbour MACs joined by ";"
  const char* rssi = "";   // their signals joined by ";"
  bool upgrade = false;    // the upgrade mark is there
};

// Free memory and the one-minute load; a reading that fails keeps the value
// of the last one that worked.
void read_memory_and_load(NodeReport& report);
// Role, hop, addresses, uptime, default gateway and mesh neighbours. A probe
// that fails leaves its field empty; nothing here stops the check-in.
void read_node_state(NodeReport& report);

// "1:02:05" below a day, "1days,1:01:01" from a day on.
void format_uptime(long seconds, UptimeText& out);
void format_checkin_query(const DeviceIdentity& identity, const NodeConfig& config, const NodeReport& report,
                          QueryText& out);
