#include "controller/settings/custom_script.h"

#include <syslog.h>
#include <unistd.h>

#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "common/transport.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/controller_loop.h"
#include "controller/keywords.h"
#include "controller/program.h"
#include "controller/settings/setting_values.h"

const char kCustomScriptFile[] = "/tmp/custom.sh";

namespace {

enum CustomScriptCode { kEnable = 0, kUrl = 1, kMd5 = 2 };

void change_enable(CustomScriptSettings& s, const char* value, int& changes) {
  if (!has_value(value)) {
    out_line("Custom script config:Not receieved");
    return;
  }
  int enable = decimal_value(value);
  out_printf("Received Custom Script enable: %d\n", enable);
  if (enable == s.enable) return;
  s.enable = enable;
  ++changes;
}

void change_url(CustomScriptSettings& s, const char* value, int& changes) {
  out_printf("Received Custom Script URL: %s\n", value);
  if (!has_value(value) || s.enable != 1) return;
  // A cut URL names another script: none is fetched, not even the old one.
  if (!value_fits("Custom Script URL", value, s.url)) {
    s.url.clear();
    return;
  }
  if (!text_differs(s.url, value)) return;
  s.url.set(value);
  CommandText cmd;
  set_uci_config(setting_command(cmd, "uci set node.setting.cs_url=", s.url));
  ++changes;
}

// A new md5 runs the script once; a repeated one, or one while the script
// is disabled, clears the run flag.
void change_md5(CustomScriptSettings& s, const char* value, int& changes) {
  if (!has_value(value)) return;
  if (s.enable != 1 || !text_differs(s.md5, value)) {
    s.run_pending = 0;
    return;
  }
  s.md5.set(value);
  s.run_pending = 1;
  CommandText cmd;
  set_uci_config(setting_command(cmd, "uci set node.setting.cs_md5=", s.md5, "\n"));
  ++changes;
}

}  // namespace

void apply_custom_script_setting(const char* key, const char* value, NodeConfig& config) {
  CustomScriptSettings& s = config.custom_script;
  switch (keyword_code(kCustomScriptRows, key)) {
    case kEnable:
      change_enable(s, value, config.changes[kRowCustomScript]);
      break;
    case kUrl:
      change_url(s, value, config.changes[kRowCustomScript]);
      break;
    case kMd5:
      change_md5(s, value, config.changes[kRowCustomScript]);
      break;
    default:
      out_line("Custom Script Config: received bad config");
      break;
  }
}

int run_custom_script(const char* url, const char* md5) {
  if (!has_value(url)) {
    out_line("Required URL to parse");
    return 1;
  }
  ScriptUrl target;
  parse_script_url(url, target);
  // An unparsable URL leaves the host empty, which does not resolve either.
  int sock = connect_to(kScriptConnect, target.host, nullptr, static_cast<unsigned short>(target.port));
  if (sock < 0) end_controller(1);
  int fetched = fetch_custom_script(sock, target.host, target.page);
  close(sock);
  if (fetched != 0 || path_exists(kCustomScriptFile) != 0) return 1;
  // The script runs as root: when the dashboard named it by its md5, only
  // the very script it named runs.
  if (is_md5(md5)) {
    FixedText<256> computed;
    get_config("md5sum /tmp/custom.sh | awk '{print $1}'", computed);
    if (!md5_equal(md5, computed)) {
      out_printf("Custom script MD5 NOT valid (received %s, computed %s): not run\n", md5, computed.c_str());
      host_unlink(kCustomScriptFile);
      return 1;
    }
  }
  host().run("sh /tmp/custom.sh");
  host_unlink(kCustomScriptFile);
  return 0;
}

void run_pending_custom_script(const NodeConfig& config) {
  if (config.custom_script.run_pending == 1) {
    log_printf(LOG_DEBUG, "Running Custom Script\n");
    run_custom_script(config.custom_script.url, config.custom_script.md5);
  } else {
    log_printf(LOG_DEBUG, "Custom script MD5 sum not changed\n");
  }
}
