// The REBOOT and s_reboot sections: a reboot now, and the reboot schedule
// kept in root's crontab.
#pragma once

struct NodeConfig;

void apply_reboot_setting(const char* key, const char* value, NodeConfig& config);
void apply_reboot_schedule_setting(const char* key, const char* value, NodeConfig& config);

// Schedule kinds of the date codes.
enum CronKind : int { kCronNone = 0, kCronDaily = 1, kCronWeekly = 2, kCronMonthly = 3, kCronBad = 4 };
// The kind of a date code: "0", "d", "w" or "m" in any case; anything else
// is reported and gives kCronBad.
int cron_code(const char* date);
// Today's ISO weekday (1 Monday ... 7 Sunday) for kCronWeekly, the day of
// the month for kCronMonthly, in local time; 0 for any other kind.
int cron_day(int kind);

// Rewrites the reboot line of root's crontab from the stored schedule.
void write_reboot_schedule(int enable, const char* date, int hour);
