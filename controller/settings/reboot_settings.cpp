#include "controller/settings/reboot_settings.h"

#include <syslog.h>

#include <ctime>

#include "common/host.h"
#include "common/output.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/setting_values.h"

namespace {

enum ScheduleCode { kEnable = 0, kDate = 1, kTime = 2 };

struct CronCode {
  const char* text;
  int kind;
};
const CronCode kCronCodes[] = {
    {"0", kCronNone},
    {"d", kCronDaily},
    {"w", kCronWeekly},
    {"m", kCronMonthly},
};

void change_number(int& stored, const char* value, int& changes) {
  int wanted = decimal_value(value);
  if (wanted == stored) return;
  stored = wanted;
  ++changes;
}

}  // namespace

// Whatever key of the reboot row or later arrives, its value is the flag.
void apply_reboot_setting(const char* key, const char* value, NodeConfig& config) {
  if (keyword_row(kRebootRows, key) < 0) {
    out_line("Reboot: Received Badconfiguration");
    return;
  }
  int wanted = decimal_value(value);
  out_printf("Received Reboot configuration: %d\n", wanted);
  // A line without a value neither asks for a reboot nor cancels one.
  if (!has_value(value)) return;
  if (wanted != config.reboot_token) config.reboot_token = wanted;
}

// Only recorded here: the crontab is rewritten once after the whole reply.
void apply_reboot_schedule_setting(const char* key, const char* value, NodeConfig& config) {
  int code = keyword_code(kRebootScheduleRows, key);
  if (code < kEnable || code > kTime) {
    log_printf(LOG_INFO, "Bad configuration for reboot schedule");
    return;
  }
  if (!has_value(value)) return;
  RebootSchedule& s = config.reboot_schedule;
  if (code == kDate) {
    if (!text_differs(s.date, value)) return;
    s.date.clear();
    s.date.set(value);
    ++config.changes[kRowRebootSchedule];
  } else {
    change_number(code == kEnable ? s.enable : s.time, value, config.changes[kRowRebootSchedule]);
  }
}

int cron_code(const char* date) {
  for (const CronCode& c : kCronCodes) {
    if (same_keyword(c.text, date)) return c.kind;
  }
  out_printf("Bad Cron code: %s\n", date ? date : "");
  return kCronBad;
}

int cron_day(int kind) {
  time_t now = host().now();
  tm local;
  if (!localtime_r(&now, &local)) return 0;
  int day = 0;
  if (kind == kCronWeekly) day = local.tm_wday == 0 ? 7 : local.tm_wday;
  if (kind == kCronMonthly) day = local.tm_mday;
  out_printf("day of the week: %d \n", day);
  return day;
}
