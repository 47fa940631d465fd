#include "controller/settings/wireless_settings.h"

#include <cstring>

#include "common/output.h"
#include "common/runner.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/setting_values.h"

namespace {

enum WirelessCode {
  kUseNodeName = 0,
  kChannel = 1,
  kPublicKey = 6,
  kEnterprise = 11,
  kServer = 12,
  kPort = 13,
  kTxPower = 16,
};

struct TextField {
  char* data;
  size_t cap;
};
template <size_t N>
TextField field(FixedText<N>& text) {
  return {text.data(), N};
}

// The settings that are one text each: compared, stored and written alike.
struct TextSetting {
  int code;
  TextField (*stored)(WirelessSettings& w);
  const char* message;          // printed before the change, or nullptr
  bool message_line;            // puts (a line of its own) or printf (no line end)
  const char* head;             // the uci command before the value...
  const char* tail;             // ...and after it
  const char* whole = nullptr;  // a value that must not be cut: its name
};

// clang-format off
const TextSetting kTextSettings[] = {
    {2, [](WirelessSettings& w) { return field(w.country); },
     "Found changes for Wireless Country Code", true, "uci set wireless.radio0.country=", ""},
    // The dashboard's "enabled" value is written unchanged as "disabled".
    {3, [](WirelessSettings& w) { return field(w.pub_disabled); },
     "Found changes for public enablen", false, "uci set wireless.pub.disabled=", ""},
    {4, [](WirelessSettings& w) { return field(w.pub_hidden); },
     "Found changes for public hidden", true, "uci set wireless.pub.hidden=", ""},
    {5, [](WirelessSettings& w) { return field(w.pub_ssid); },
     "Found changes for public ssid", true, "uci set wireless.pub.ssid=", ""},
    {7, [](WirelessSettings& w) { return field(w.priv_disabled); },
     nullptr, true, "uci set wireless.priv.disabled=", ""},
    {8, [](WirelessSettings& w) { return field(w.priv_hidden); },
     nullptr, true, "uci set wireless.priv.hidden=", ""},
    {9, [](WirelessSettings& w) { return field(w.priv_ssid); },
     "Found chanes for Private ssid", true, "uci set wireless.priv.ssid=", ""},
    {10, [](WirelessSettings& w) { return field(w.priv_key); },
     "Found changes for Private key", true, "uci set wireless.priv.key=", "\n", "Private key"},
};
// clang-format on

void run_command(const char* command) { set_uci_config(command); }

void print_message(const char* message, bool line) {
  if (!message) return;
  if (line) {
    out_line(message);
  } else {
    out_printf("%s", message);
  }
}

void change_text(const TextSetting& setting, WirelessSettings& w, const char* value, int& changes) {
  TextField stored = setting.stored(w);
  // A key cut short is one that no client can use: the stored one stays.
  if (setting.whole && !value_fits(setting.whole, value, stored.cap)) return;
  if (!text_differs(stored.data, stored.cap, value)) return;
  print_message(setting.message, setting.message_line);
  copy_text(stored.data, stored.cap, value);
  CommandText cmd;
  run_command(setting_command(cmd, setting.head, stored.data, setting.tail));
  ++changes;
}

void change_channel(WirelessSettings& w, const char* value, int& changes) {
  int channel = decimal_value(value);
  if (channel == w.channel) return;
  out_line("Found changes for Wireless Channel");
  w.channel = channel;
  CommandText cmd;
  cmd.format("uci set wireless.radio0.channel=%d", w.channel);
  run_command(cmd);
  ++changes;
}

// A key turns WPA-PSK on for an open public network; no key turns it off.
void change_public_key(WirelessSettings& w, const char* value, int& changes) {
  if (has_value(value)) {
    if (!value_fits("Public key", value, w.pub_key)) return;
    if (text_differs(w.pub_key, value)) {
      out_line("Found changes for public key");
      w.pub_key.set(value);
      CommandText cmd;
      run_command(setting_command(cmd, "uci set wireless.pub.key=", w.pub_key));
      ++changes;
    }
    if (pub_encryption_on() == 0) {
      run_command("uci set wireless.pub.encryption=psk-mixed");
      ++changes;
    }
  } else if (pub_encryption_on() == 1) {
    run_command("uci set wireless.pub.encryption=none");
    ++changes;
  }
}

void change_enterprise(WirelessSettings& w, const char* value, int& changes) {
  if (!has_value(value)) return;
  int wanted = decimal_value(value);
  if (wanted == 1) {
    if (w.enterprise == 0 || (w.enterprise == 1 && priv_encryption_mode() == 1)) {
      out_line("Configuring Priv: WPA Enterprise");
      set_priv_encryption(2);
      w.enterprise_reconfigured = 1;
    }
  } else if (w.enterprise == 1 || (w.enterprise == 0 && priv_encryption_mode() == 2)) {
    out_line("Configuring Priv: WPA PSK");
    run_command("uci set wireless.priv.server=");
    run_command("uci set wireless.priv.auth_port=");
    set_priv_encryption(1);
    ++changes;
  }
  if (wanted != w.enterprise) {
    w.enterprise = wanted;
    ++changes;
  }
}

// The server and port reach uci only in a parse that switched the private
// network to WPA Enterprise, from lines after the enterprise line.
void change_server(WirelessSettings& w, const char* value, int& changes) {
  if (!has_value(value) || w.enterprise != 1) return;
  // A name cut short names another host, or none: the stored one stays.
  if (!value_fits("RADIUS server", value, w.radius_server)) return;
  if (text_differs(w.radius_server, value)) {
    out_line("Found changes for WPA Enterprise server");
    w.radius_server.set(value);
  }
  if (w.enterprise_reconfigured == 1) {
    CommandText cmd;
    run_command(setting_command(cmd, "uci set wireless.priv.server=", w.radius_server, "\n"));
    ++changes;
  }
}

void change_port(WirelessSettings& w, const char* value, int& changes) {
  if (!has_value(value) || w.enterprise != 1) return;
  int port = decimal_value(value);
  if (port != w.auth_port) {
    out_line("Found changes for WPA Enterprise Port");
    w.auth_port = port;
  }
  if (w.enterprise_reconfigured == 1) {
    CommandText cmd;
    cmd.format("uci set wireless.priv.auth_port=%d\n", w.auth_port);
    run_command(cmd);
    ++changes;
  }
}

const TextSetting* text_setting(int code) {
  for (const TextSetting& s : kTextSettings) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

}  // namespace

void apply_wireless_setting(const char* key, const char* value, NodeConfig& config) {
  WirelessSettings& w = config.wireless;
  int code = keyword_code(kWirelessRows, key);
  if (code < 0) {
    out_printf("Bad Wireless configuration: %s\n", key ? key : "");
    out_line("Bad Wireless Configuration");
    return;
  }
  switch (code) {
    case kUseNodeName:
      out_line("Usenode name not supported yet");
      return;
    case kTxPower:
      out_printf("Received wifi tx power: %s\n", value ? value : "");
      return;
    case kPublicKey:
      change_public_key(w, value, config.changes[kRowWireless]);
      return;
    case kEnterprise:
      change_enterprise(w, value, config.changes[kRowWireless]);
      return;
    case kServer:
      change_server(w, value, config.changes[kRowWireless]);
      return;
    case kPort:
      change_port(w, value, config.changes[kRowWireless]);
      return;
    default:
      break;
  }
  const TextSetting* text = text_setting(code);
  if (code != kChannel && !text) {
    // wifi0.channel, wifi0.country, ap.wide_channel, wifi0.auto_channel,
    // wifi0.rts, wifi0.58_channel and every code beyond the wireless rows.
    out_line("Bad Wireless Configuration");
    return;
  }
  if (!has_value(value)) return;
  if (code == kChannel) {
    change_channel(w, value, config.changes[kRowWireless]);
  } else {
    change_text(*text, w, value, config.changes[kRowWireless]);
  }
}

void set_priv_encryption(int mode) {
  const char* command = mode == 1   ? "uci set wireless.priv.encryption=psk-mixed"
                        : mode == 2 ? "uci set wireless.priv.encryption=mixed-wpa"
                                    : nullptr;
  if (!command) return;
  set_uci_config(command);
  commit_uci_config("wireless");
}

int priv_encryption_mode() {
  FixedText<256> mode;
  get_config("uci get wireless.priv.encryption", mode);
  return mode == "mixed-wpa" ? 2 : 1;
}

int pub_encryption_on() {
  FixedText<256> mode;
  get_config("uci get wireless.pub.encryption", mode);
  return mode == "none" ? 0 : 1;
}
