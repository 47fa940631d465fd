// The FILTER and SERVICES sections: the LAN block rules, client isolation
// and the firewall rules that block single TCP services.
#pragma once

struct NodeConfig;

void apply_filter_setting(const char* key, const char* value, NodeConfig& config);
void apply_service_setting(const char* key, const char* value, NodeConfig& config);
// Action 1 adds the LAN block rules, 0 removes them. 1 when eth0 is not up
// and nothing was changed, else 0.
int apply_lan_block(int action);
