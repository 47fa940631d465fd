#include "controller/config_parser.h"

#include <cstdio>
#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/after_apply.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/custom_script.h"
#include "controller/settings/filter_settings.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/settings/management_settings.h"
#include "controller/settings/portal.h"
#include "controller/settings/reboot_settings.h"
#include "controller/settings/setting_values.h"
#include "controller/settings/wireless_settings.h"

const char kChilliSettingsFile[] = "/tmp/chilli_config";
const char kSplashSettingsFile[] = "/tmp/splash_config";

namespace {

const char kHeaderMark[] = "#@#confi";

enum class PortalFile { kNone, kChilli, kNodog };

struct ParseState {
  int code = -1;  // no section before the first header
  int section_lines = 0;
  int line_number = 0;
  FILE* portal_file = nullptr;
  PortalFile open_file = PortalFile::kNone;
  bool chilli_seen = false;
  bool nodog_seen = false;
};

enum class LineStep { kNone, kChilli, kNodog, kPortalClose, kBadOption };

struct SectionRule {
  const char* heading;       // printed before the section's first line
  const char* print_format;  // key, value and section line count
  Applier applier;
  LineStep step;
};

void apply_upgrade_line(const char* key, const char* value, NodeConfig& config) {
  apply_upgrade_setting(key, value, config);
}

const char kKeyValue[] = "key %s, value: %s, counter %d\n";

// By section code.
const SectionRule kSectionRules[kSectionCodeCount] = {
    /* 0 dashboard     */ {"DASHBOARD:", kKeyValue, nullptr, LineStep::kNone},
    /* 1 debug         */ {"DEBUG:", "key %s, value : %s, counter %d\n", nullptr, LineStep::kNone},
    /* 2 madwifi       */ {"MADWIFI:", kKeyValue, nullptr, LineStep::kNone},
    /* 3 anyip         */ {"ANYIP:", kKeyValue, nullptr, LineStep::kNone},
    /* 4 wireless      */ {"WIRELESS:", nullptr, apply_wireless_setting, LineStep::kNone},
    /* 5 radio         */ {"RADIO:", "Key:%s, Value:%s, counter %d\n", nullptr, LineStep::kNone},
    /* 6 filter        */ {"FILTER:", nullptr, apply_filter_setting, LineStep::kNone},
    /* 7 chilli        */ {nullptr, nullptr, nullptr, LineStep::kChilli},
    /* 8 nodog         */ {nullptr, nullptr, nullptr, LineStep::kNodog},
    /* 9 nodes         */ {"NODE:", kKeyValue, nullptr, LineStep::kNone},
    /* 10 management   */ {"MANAGEMENT:", nullptr, apply_management_setting, LineStep::kPortalClose},
    /* 11 general      */ {"GENERAL:", nullptr, apply_general_setting, LineStep::kNone},
    /* 12 services     */ {"SERVICES:", nullptr, apply_service_setting, LineStep::kNone},
    /* 13 reboot       */ {"REBOOT:", nullptr, apply_reboot_setting, LineStep::kNone},
    /* 14 customscript */ {"CUSTOMSCRIPT:", nullptr, apply_custom_script_setting, LineStep::kNone},
    /* 15 s_reboot     */ {"REBOOT CRON", nullptr, apply_reboot_schedule_setting, LineStep::kNone},
    /* 16 ledsign      */ {nullptr, nullptr, nullptr, LineStep::kBadOption},
    /* 17 fwupgrade    */ {"FWUPGRADE", kKeyValue, apply_upgrade_line, LineStep::kNone},
    /* 18 other names  */ {nullptr, nullptr, nullptr, LineStep::kBadOption},
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Cuts the next word out of the line in place; nullptr when there is none.
char* next_word(char*& p) {
  while (*p && is_blank(*p)) ++p;
  if (!*p) return nullptr;
  char* word = p;
  while (*p && !is_blank(*p)) ++p;
  if (*p) *p++ = '\0';
  return word;
}

void strip_line_end(char* line) {
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
  if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
}

// The file is merged into the portal's configuration: one not written whole
// (a full /tmp) would put a cut line there, so it goes and the portal keeps
// the configuration it has.
void close_portal_file(ParseState& s) {
  if (s.portal_file) {
    bool written = ferror(s.portal_file) == 0;
    if (fclose(s.portal_file) != 0 || !written) {
      const char* path = s.open_file == PortalFile::kChilli ? kChilliSettingsFile : kSplashSettingsFile;
      out_printf("Unable to write %s: the portal keeps its configuration\n", path);
      host_unlink(path);
    }
  }
  s.portal_file = nullptr;
  s.open_file = PortalFile::kNone;
}

// One new-settings file is open at a time. Opening the other portal's file
// closes (and so completes) the open one, whose section is then over.
void open_portal_file(ParseState& s, PortalFile which) {
  if (s.open_file == PortalFile::kChilli) s.chilli_seen = false;
  if (s.open_file == PortalFile::kNodog) s.nodog_seen = false;
  close_portal_file(s);
  s.portal_file = host_fopen(which == PortalFile::kChilli ? kChilliSettingsFile : kSplashSettingsFile, "w");
  if (s.portal_file) s.open_file = which;
}

// The first line's value says whether new settings follow.
void chilli_line(ParseState& s, const char* key, const char* value, NodeConfig& config) {
  if (!s.chilli_seen) open_portal_file(s, PortalFile::kChilli);
  if (s.section_lines == 0) {
    config.captive_portal.enable = decimal_value(value);
  } else if (config.captive_portal.enable == 1 && s.portal_file) {
    if (s.section_lines == 1) write_portal_network(s.portal_file);
    fprintf(s.portal_file, "%s=%s\n", key, value);
  }
  s.chilli_seen = true;
}

void nodog_line(ParseState& s, const char* key, const char* value, NodeConfig& config) {
  if (!s.nodog_seen) open_portal_file(s, PortalFile::kNodog);
  if (s.section_lines == 0) {
    config.captive_portal.enable = decimal_value(value);
  } else if (same_keyword(key, "SplashURl")) {
    apply_splash_setting(key, value, config);
  } else if (config.captive_portal.enable == 1 && s.portal_file) {
    fprintf(s.portal_file, "%s %s\n", key, value);
  }
  s.nodog_seen = true;
}

// The dashboard sends the portal section before MANAGEMENT, whose lines
// complete the new-settings file.
void management_line(ParseState& s) {
  if (!s.chilli_seen && !s.nodog_seen) return;
  if (s.portal_file) {
    out_line("Captive portal flag up so cleaning up the same");
    close_portal_file(s);
    s.chilli_seen = false;
    s.nodog_seen = false;
  } else {
    out_line("Captive portal not open");
  }
}

void header_line(ParseState& s, const char* name) {
  int code = name ? keyword_code(kSectionRows, name) : -1;
  if (code < 0) {
    out_printf("%s:line %d: Bad configuration option: %s", "received", s.line_number, name ? name : "");
    code = kCodeUnknown;
  }
  s.code = code;
  s.section_lines = 0;
}

void content_line(ParseState& s, const char* key, const char* value, NodeConfig& config) {
  if (s.code < 0) return;  // before the first header: no section applies
  // A setting key used as a section name takes that row's code; codes
  // beyond the section table have no section behind them.
  const SectionRule& rule = kSectionRules[s.code < kSectionCodeCount ? s.code : kCodeUnknown];
  if (rule.step == LineStep::kBadOption) {
    out_line("Bad Option");
    return;
  }
  if (rule.heading && s.section_lines == 0) out_line(rule.heading);
  TABLE_FORMAT_BEGIN
  if (rule.print_format) out_printf(rule.print_format, key, value, s.section_lines);
  TABLE_FORMAT_END
  if (rule.applier) rule.applier(key, value, config);
  switch (rule.step) {
    case LineStep::kChilli:
      chilli_line(s, key, value, config);
      break;
    case LineStep::kNodog:
      nodog_line(s, key, value, config);
      break;
    case LineStep::kPortalClose:
      management_line(s);
      break;
    default:
      break;
  }
  ++s.section_lines;
}

}  // namespace

int parse_config_reply(const char* path, NodeConfig& config) {
  config.changes = ChangeCounts{};
  if (path_exists(path) != 0) return 1;
  out_printf("Open file %s\n", path);
  FILE* f = host_fopen(path, "r");
  if (!f) return 1;

  ParseState s;
  // A longer line is read in pieces, each handled as a line of its own.
  char line[1024];
  while (fgets(line, sizeof(line), f)) {
    ++s.line_number;
    strip_line_end(line);
    char* p = line;
    char* key = next_word(p);
    if (!key) continue;
    char* value = next_word(p);
    if (strncmp(key, kHeaderMark, sizeof(kHeaderMark) - 1) == 0) {
      header_line(s, value);
    } else {
      content_line(s, key, value ? value : "", config);
    }
  }
  // The after-apply step merges the new settings: they must be complete.
  close_portal_file(s);
  run_after_apply(config);
  fclose(f);
  if (config.reboot_token == 1) {
    out_line("Rebooting System");
    host().run("/sbin/reboot");
  }
  return 0;
}
