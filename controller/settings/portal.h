// The captive portal daemon (chilli or nodogsplash): start, stop and
// restart, the merge of its new settings and its splash pages.
#pragma once

#include <cstdio>

struct NodeConfig;

// 0 "chilli", 1 "nodogsplash", 2 anything else (exact, case-sensitive).
int portal_kind(const char* name);

// Action 0 merges the new settings and starts the daemon, 1 stops it, 2
// merges and restarts it. Returns the last command's status as the shell
// gives it, 1 for kind 2 and 2 for any other action.
int control_portal(int kind, int action);

// Merges the new-settings file into the configuration file: each new line
// takes the place of the first configuration line that contains its key,
// walking both files forward once. The result replaces the configuration
// file atomically, and the new-settings file is used up. 0 after a merge or
// when the merged file cannot be created; 1 for kind 2, a missing or
// unreadable input, or a merge that failed (both files are kept then).
int merge_portal_config(const char* config_file, const char* new_settings, int kind);

// Writes chilli's network lines (the public bridge, its network, netmask
// and address) into the open new-settings file.
void write_portal_network(FILE* file);

// 1 when the key is not SplashURl, else 0. A changed URL is stored and asks
// for a portal restart; any URL but "none" is downloaded and installed.
int apply_splash_setting(const char* key, const char* value, NodeConfig& config);
// Downloads the splash archive and installs its pages for nodogsplash.
void install_splash_page(const char* url);
