// The after-apply step: once a reply has been parsed, commit what changed,
// restart Wi-Fi once, start or restart the captive portal, rewrite the
// reboot schedule and raise the upgrade flag, in the order of the section
// rows.
#pragma once

struct NodeConfig;

void run_after_apply(NodeConfig& config);
