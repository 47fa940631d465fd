// The FILTER and SERVICES sections: the LAN block rules, client isolation
// and the firewall rules that block single TCP services.
#pragma once

struct NodeConfig;
struct ServiceSettings;

void apply_filter_setting(const char* key, const char* value, NodeConfig& config);
void apply_service_setting(const char* key, const char* value, NodeConfig& config);
// Action 1 adds the LAN block rules, 0 removes them. 1 when eth0 is not up
// and nothing was changed, else 0.
int apply_lan_block(int action);
// Deletes the block rule of every service whose stored value is 1: the
// rules this run added (the values start at 0, so older rules stay).
void remove_service_rules(const ServiceSettings& services);
