#include "controller/keywords.h"

// clang-format off
const Keyword kKeywords[kKeywordRows + 1] = {
    // Sections.
    {"dashboard", 0}, {"debug", 1}, {"madwifi", 2}, {"anyip", 3}, {"wireless", 4}, {"radio", 5},
    {"filter", 6}, {"nodes", 9}, {"management", 10}, {"general", 11}, {"chilli", 7}, {"nodog", 8},
    {"services", 12}, {"reboot", 13}, {"customscript", 14}, {"s_reboot", 15}, {"fwupgrade", 17},
    {"ledsign", 16},
    // Wireless.
    {"usenodename", 0}, {"radio0.channel", 1}, {"radio0.country", 2}, {"public.enabled", 3},
    {"public.hidden", 4}, {"public.ssid", 5}, {"public.key", 6}, {"private.enabled", 7},
    {"private.hidden", 8}, {"private.ssid", 9}, {"private.key", 10}, {"enterprise", 11},
    {"server", 12}, {"port", 13}, {"wifi0.channel", 14}, {"wifi0.country", 15},
    {"wifi0.txpower", 16}, {"ap.wide_channel", 17}, {"wifi0.auto_channel", 18}, {"wifi0.rts", 19},
    {"wifi0.58_channel", 20},
    // Filter.
    {"lan_block", 0}, {"public.AP_isolate", 1}, {"private.AP_isolate", 2},
    // Management.
    {"reboot_enable", 0}, {"reboot_date", 1}, {"reboot_time", 2}, {"network", 3},
    {"dns_alt_srv", 4}, {"rootpwd", 5}, {"sm", 6}, {"gmt_offset", 7}, {"tz_offset", 8},
    {"cp_name", 10}, {"cp_enable", 9}, {"node_id", 11}, {"no_inet_check", 12},
    // Reboot.
    {"reboot", 0},
    // Custom script.
    {"cs_enable", 0}, {"cs_url", 1}, {"cs_md5", 2},
    // Services.
    {"ftp", 0}, {"ssh", 1}, {"smtp", 2}, {"pop", 3}, {"imap", 4}, {"irc", 5},
    // General.
    {"hostname", 0}, {"syslog", 1}, {"syslog_server", 2},
    // Reboot schedule.
    {"enable", 0}, {"date", 1}, {"time", 2},
    // Firmware upgrade.
    {"auto", 0}, {"upgrade", 1}, {"version", 2}, {"sum", 3}, {"path", 4},
    // End.
    {nullptr, -1},
};
// clang-format on

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool same_keyword(const char* a, const char* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

int keyword_row(int first_row, const char* key) {
  if (!key || first_row < 0) return -1;
  for (int row = first_row; row < kKeywordRows && kKeywords[row].name; ++row) {
    if (same_keyword(kKeywords[row].name, key)) return row;
  }
  return -1;
}

int keyword_code(int first_row, const char* key) {
  int row = keyword_row(first_row, key);
  return row < 0 ? -1 : kKeywords[row].code;
}
