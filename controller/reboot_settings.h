// The REBOOT and s_reboot sections: a reboot now, and the reboot schedule
// kept in root's crontab.
#pragma once

struct NodeConfig;

void apply_reboot_setting(const char* key, const char* value, NodeConfig& config);
void apply_reboot_schedule_setting(const char* key, const char* value, NodeConfig& config);
// Rewrites the reboot line of root's crontab from the stored schedule.
void write_reboot_schedule(int enable, const char* date, int hour);
