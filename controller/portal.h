// The captive portal daemon (chilli or nodogsplash): start, stop and
// restart, its new settings and its splash pages.
#pragma once

#include <cstdio>

struct NodeConfig;

// 0 "chilli", 1 "nodogsplash", 2 anything else.
int portal_kind(const char* name);
// Action 0 sets up and starts, 1 stops, 2 sets up anew and restarts.
int control_portal(int kind, int action);
// Writes the public network lines into chilli's new-settings file.
void write_portal_network(FILE* file);
// 1 when the key is not SplashURl, else 0.
int apply_splash_setting(const char* key, const char* value, NodeConfig& config);
