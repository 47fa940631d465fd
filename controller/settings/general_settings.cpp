#include <signal.h>
#include <syslog.h>

#include "common/host.h"
#include "common/output.h"
#include "common/process.h"
#include "common/runner.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/management_settings.h"
#include "controller/settings/setting_values.h"

namespace {

enum GeneralCode { kHostname = 0, kSyslog = 1, kSyslogServer = 2 };

const char kSyslogd[] = "syslogd";

// Kills the running syslogd so that it can be started anew with other
// options; false when none runs or it cannot be killed.
bool kill_syslogd(long pid) { return pid > 0 && signal_named_process(pid, kSyslogd, SIGKILL) == 0; }

void change_hostname(GeneralSettings& g, const char* value) {
  out_printf("Hostname: %s\n", value);
  if (!has_value(value) || !text_differs(g.hostname, value)) return;
  g.hostname.set(value);
  CommandText cmd;
  set_uci_config(setting_command(cmd, "uci set system.@system[0].hostname=", g.hostname));
  commit_uci_config("system");
  write_setting_file("/proc/sys/kernel/hostname", "Changing hostname", g.hostname);
}

void change_syslog(GeneralSettings& g, const char* value) {
  if (!has_value(value)) return;
  int wanted = decimal_value(value);
  out_printf("Syslog Server Enable/Disable: %d\n", wanted);
  if (wanted == g.syslog_enable) return;
  if (g.syslog_enable == 1 && wanted == 0) {
    long pid = find_pid_by_name(kSyslogd);
    log_printf(LOG_INFO, "Syslogd process id %d", static_cast<int>(pid));
    log_printf(LOG_INFO, "Disable Syslog server");
    // Started again without -R: local logging only.
    if (kill_syslogd(pid)) host().run("/sbin/syslogd -C16");
    // A server sent again after a later enable then counts as new.
    g.syslog_server.set("none");
  } else if (g.syslog_enable == 0 && wanted == 1) {
    long pid = find_pid_by_name(kSyslogd);
    log_printf(LOG_INFO, "Syslog process id %d", static_cast<int>(pid));
    log_printf(LOG_INFO, "Remote log server enable");
  }
  g.syslog_enable = wanted;
}

// Applied only while remote logging is on: the syslog line must come first.
void change_syslog_server(GeneralSettings& g, const char* value) {
  if (g.syslog_enable == 0 || !has_value(value) || !text_differs(g.syslog_server, value)) return;
  g.syslog_server.set(value);
  long pid = find_pid_by_name(kSyslogd);
  log_printf(LOG_INFO, "syslogd pid:%d", static_cast<int>(pid));
  log_printf(LOG_INFO, "New remote server:%s", g.syslog_server.c_str());
  if (!kill_syslogd(pid)) return;
  CommandText cmd;
  host().run(setting_command(cmd, "/sbin/syslogd -R ", g.syslog_server, " -C16"));
}

}  // namespace

void apply_general_setting(const char* key, const char* value, NodeConfig& config) {
  GeneralSettings& g = config.general;
  switch (keyword_code(kGeneralRows, key)) {
    case kHostname:
      change_hostname(g, value);
      return;
    case kSyslog:
      change_syslog(g, value);
      return;
    case kSyslogServer:
      change_syslog_server(g, value);
      return;
    default:
      out_line("General: Bad Option");
      return;
  }
}
