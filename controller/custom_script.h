// The CUSTOMSCRIPT section: a script named by URL and md5, fetched and run
// once for each new md5.
#pragma once

struct NodeConfig;

void apply_custom_script_setting(const char* key, const char* value, NodeConfig& config);
