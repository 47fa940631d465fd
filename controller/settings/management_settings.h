// The MANAGEMENT and GENERAL sections: network name, root password, time
// zone, captive portal on/off and name, host name and remote syslog.
#pragma once

struct NodeConfig;

void apply_management_setting(const char* key, const char* value, NodeConfig& config);
void apply_general_setting(const char* key, const char* value, NodeConfig& config);

// What a cp_name line does: stop the portal of the stored name, and keep
// the received name. While the portal is off the stored portal is stopped
// at every line and the name is not kept; while it is on, only a new name
// stops the old portal.
struct PortalNameStep {
  bool stop_stored;
  bool store_received;
};
PortalNameStep portal_name_step(int portal_enable, bool name_differs);
