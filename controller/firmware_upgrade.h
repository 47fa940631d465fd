// The FWUPGRADE section: the offered firmware version, its image and md5.
#pragma once

struct NodeConfig;

// 1 for a key that is not a firmware row, else 0.
int apply_upgrade_setting(const char* key, const char* value, NodeConfig& config);
