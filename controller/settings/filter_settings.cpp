#include "controller/settings/filter_settings.h"

#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/setting_values.h"

namespace {

enum FilterCode { kLanBlock = 0, kPublicIsolate = 1, kPrivateIsolate = 2 };

void change_lan_block(FilterSettings& f, const char* value) {
  out_printf("Received LANBLock: %s\n", value);
  if (!has_value(value)) return;
  int wanted = decimal_value(value);
  if (wanted == f.lan_block) return;
  if (wanted == 0 && f.lan_block == 1) apply_lan_block(0);
  if (wanted == 1 && f.lan_block == 0) apply_lan_block(1);
  f.lan_block = wanted;
  FixedText<100> cmd;
  cmd.format("uci set node.security.lan_block=%d\n", f.lan_block);
  set_uci_config(cmd);
  commit_uci_config("node");
}

struct IsolationRule {
  int FilterSettings::*stored;
  const char* received;
  const char* disabling;  // printed when it goes from 1 to 0
  const char* enabling;   // printed when it goes from 0 to 1, or nullptr
  const char* command;
};

const IsolationRule kPublicRule = {&FilterSettings::pub_isolate, "Received PubApIsolate: %s\n",
                                   "Disable Public AP Isolateion", "Enable Public AP Isolation",
                                   "uci set wireless.pub.isolate=%d\n"};
const IsolationRule kPrivateRule = {&FilterSettings::priv_isolate, "Received PrivApIsolate: %s\n",
                                    "Disable Private AP Isolation", nullptr, "uci set wireless.priv.isolate=%d\n"};

// Isolation is a wireless setting: the wireless commit and the Wi-Fi
// restart after the parse bring it into effect.
void change_isolation(const IsolationRule& rule, FilterSettings& f, const char* value, int& wireless_changes) {
  if (!has_value(value)) return;
  TABLE_FORMAT_BEGIN
  out_printf(rule.received, value);
  TABLE_FORMAT_END
  int wanted = decimal_value(value);
  int& stored = f.*rule.stored;
  if (wanted == stored) return;
  if (wanted == 0 && stored == 1) out_line(rule.disabling);
  if (wanted == 1 && stored == 0 && rule.enabling) out_line(rule.enabling);
  stored = wanted;
  FixedText<100> cmd;
  TABLE_FORMAT_BEGIN
  cmd.format(rule.command, stored);
  TABLE_FORMAT_END
  set_uci_config(cmd);
  ++wireless_changes;
}

struct ServiceRule {
  int ServiceSettings::*stored;
  const char* message;  // with the number of the value
  const char* block;    // nullptr: the service has no rule
  const char* unblock;
};

// By service code. SSH is dropped on INPUT, which guards the node itself;
// the others on FORWARD, which stops the clients' traffic through it.
const ServiceRule kServices[] = {
    {&ServiceSettings::ftp, "FTP:%d\n", "iptables -I FORWARD -p tcp --dport 21 -j DROP",
     "iptables -D FORWARD -p tcp --dport 21 -j DROP"},
    {&ServiceSettings::ssh, "SSH:%d\n", "iptables -I INPUT -p tcp --dport 22 -j DROP",
     "iptables -D INPUT -p tcp --dport 22 -j DROP"},
    {&ServiceSettings::smtp, "SMTP:%d\n", "iptables -I FORWARD -p tcp --dport 25 -j DROP",
     "iptables -D FORWARD -p tcp --dport 25 -j DROP"},
    {&ServiceSettings::pop, "POP:%d\n", "iptables -I FORWARD -p tcp --dport 110 -j DROP",
     "iptables -D FORWARD -p tcp --dport 110 -j DROP"},
    {&ServiceSettings::imap, "IMAP:%d\n", "iptables -I FORWARD -p tcp --dport 143 -j DROP",
     "iptables -D FORWARD -p tcp --dport 143 -j DROP"},
    {&ServiceSettings::irc, "IRC:%d\n - not Supported yet", nullptr, nullptr},
};
constexpr int kServiceCount = sizeof(kServices) / sizeof(kServices[0]);

}  // namespace

void apply_filter_setting(const char* key, const char* value, NodeConfig& config) {
  switch (keyword_code(kFilterRows, key)) {
    case kLanBlock:
      change_lan_block(config.filter, value);
      return;
    case kPublicIsolate:
      change_isolation(kPublicRule, config.filter, value, config.changes[kRowWireless]);
      return;
    case kPrivateIsolate:
      change_isolation(kPrivateRule, config.filter, value, config.changes[kRowWireless]);
      return;
    default:
      out_line("Filter: Received bad option");
      return;
  }
}

void apply_service_setting(const char* key, const char* value, NodeConfig& config) {
  int code = keyword_code(kServiceRows, key);
  if (code < 0 || code >= kServiceCount) {
    out_line("Services:BadOptions");
    return;
  }
  const ServiceRule& rule = kServices[code];
  // A line without a value shows 0 and changes nothing.
  int wanted = decimal_value(value);
  TABLE_FORMAT_BEGIN
  out_printf(rule.message, wanted);
  TABLE_FORMAT_END
  if (!rule.block || !has_value(value)) return;
  int& stored = config.services.*rule.stored;
  if (wanted == stored) return;
  // Only 0 and 1 move a rule; any other number is stored as it came.
  if (wanted == 1 && stored == 0) {
    // A controller that ended without its clean-up (SIGKILL, a crash) left
    // its rule behind: taking that copy out first keeps one, which a later
    // 0 removes.
    host().run(rule.unblock);
    host().run(rule.block);
  }
  if (wanted == 0 && stored == 1) host().run(rule.unblock);
  stored = wanted;
}

void remove_service_rules(const ServiceSettings& services) {
  for (const ServiceRule& rule : kServices) {
    if (rule.unblock && services.*rule.stored == 1) host().run(rule.unblock);
  }
}
