// The dashboard's configuration reply: sections, each a header line
// ("#@#config <section>") followed by lines of one key and one value. Every
// content line goes to its section's applier; the two captive portal
// sections are collected into new-settings files; after the whole reply the
// after-apply step runs, and the node reboots when it was asked to.
#pragma once

struct NodeConfig;

extern const char kChilliSettingsFile[];  // "/tmp/chilli_config"
extern const char kSplashSettingsFile[];  // "/tmp/splash_config"

// 0 after a complete parse, 1 when the file is missing or cannot be opened
// (nothing is applied then).
int parse_config_reply(const char* path, NodeConfig& config);
