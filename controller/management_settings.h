// The MANAGEMENT and GENERAL sections: network name, root password, time
// zone, captive portal on/off and name, host name and remote syslog.
#pragma once

struct NodeConfig;

void apply_management_setting(const char* key, const char* value, NodeConfig& config);
void apply_general_setting(const char* key, const char* value, NodeConfig& config);
