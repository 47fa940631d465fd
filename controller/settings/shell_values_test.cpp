// Every setting whose value reaches a shell command, with values made of
// the shell's special characters: the commands the appliers build run
// through the real /bin/sh on the sandbox of common/testing/sandbox_shell.h,
// and each stand-in tool records the arguments (and, for passwd, the input)
// it received. The value must arrive as exactly its text, and nothing else
// may run. Needs root (or unprivileged user namespaces).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/testing/sandbox_shell.h"
#include "controller/config_record.h"
#include "controller/settings/custom_script.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/settings/management_settings.h"
#include "controller/settings/portal.h"
#include "controller/settings/wireless_settings.h"

void apply_general_setting(const char* key, const char* value, NodeConfig& config);

namespace {

using Call = ShellCall;
using Calls = ShellCalls;

struct Row {
  std::string setting;  // section and key as the dashboard sends them
  size_t cap;           // capacity of the field that keeps the value
  std::function<void(const std::string& value, NodeConfig& config, SandboxShell& node)> apply;
  std::function<Calls(const std::string& value)> expected;
};

void wireless(const char* key, const std::string& v, NodeConfig& c) { apply_wireless_setting(key, v.c_str(), c); }

std::vector<Row> rows() {
  auto text_setting = [](const char* key, const char* uci_key, size_t cap) {
    return Row{std::string("wireless ") + key, cap,
               [key](const std::string& v, NodeConfig& c, SandboxShell&) { wireless(key, v, c); },
               [uci_key](const std::string& v) { return Calls{uci_set_call(uci_key, v)}; }};
  };
  return {
      text_setting("radio0.country", "wireless.radio0.country", 5),
      text_setting("public.enabled", "wireless.pub.disabled", 10),
      text_setting("public.hidden", "wireless.pub.hidden", 10),
      text_setting("public.ssid", "wireless.pub.ssid", 50),
      text_setting("private.enabled", "wireless.priv.disabled", 10),
      text_setting("private.hidden", "wireless.priv.hidden", 10),
      text_setting("private.ssid", "wireless.priv.ssid", 50),
      text_setting("private.key", "wireless.priv.key", 50),
      {"wireless public.key", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { wireless("public.key", v, c); },
       [](const std::string& v) {
         return Calls{uci_set_call("wireless.pub.key", v), uci_get_call("wireless.pub.encryption"),
                      uci_set_call("wireless.pub.encryption", "psk-mixed")};
       }},
      {"wireless server (WPA Enterprise)", 17,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         wireless("enterprise", "1", c);
         wireless("server", v, c);
       },
       [](const std::string& v) {
         return Calls{uci_set_call("wireless.priv.encryption", "mixed-wpa"), uci_commit_call("wireless"),
                      uci_set_call("wireless.priv.server", v)};
       }},
      {"management network", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_management_setting("network", v.c_str(), c); },
       [](const std::string& v) {
         return Calls{uci_set_call("node.status.network", v), uci_commit_call("node")};
       }},
      {"management rootpwd", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_management_setting("rootpwd", v.c_str(), c); },
       [](const std::string& v) {
         return Calls{{"passwd", "root", "stdin=" + v + "\n" + v + "\n"},
                      uci_set_call("node.setting.rootpwd", v),
                      uci_commit_call("node")};
       }},
      {"management tz_offset", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_management_setting("tz_offset", v.c_str(), c); },
       [](const std::string& v) {
         return Calls{uci_set_call("system.@system[0].timezone", v), uci_commit_call("system")};
       }},
      {"management cp_name (stops the stored portal only)", 60,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.management.portal_enable = 1;
         c.management.portal_name.set("chilli");
         apply_management_setting("cp_name", v.c_str(), c);
       },
       [](const std::string&) {
         return Calls{{"/etc/init.d/chilli", "stop"},
                      uci_get_call("dhcp.pub.ipaddr"),
                      {"ifconfig", "br-pub", "10.3.48.1", "netmask", "255.255.252.0", "up"}};
       }},
      {"general hostname", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_general_setting("hostname", v.c_str(), c); },
       [](const std::string& v) {
         return Calls{uci_set_call("system.@system[0].hostname", v), uci_commit_call("system")};
       }},
      {"general syslog_server", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.general.syslog_enable = 1;
         apply_general_setting("syslog_server", v.c_str(), c);
       },
       [](const std::string& v) {
         return Calls{{"/sbin/syslogd", "-R", v, "-C16"}};
       }},
      {"customscript cs_url", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.custom_script.enable = 1;
         apply_custom_script_setting("cs_url", v.c_str(), c);
       },
       [](const std::string& v) { return Calls{uci_set_call("node.setting.cs_url", v)}; }},
      {"customscript cs_md5", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.custom_script.enable = 1;
         apply_custom_script_setting("cs_md5", v.c_str(), c);
       },
       [](const std::string& v) { return Calls{uci_set_call("node.setting.cs_md5", v)}; }},
      {"nodog SplashURl", 256,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_splash_setting("SplashURl", v.c_str(), c); },
       [](const std::string& v) {
         return Calls{{"wget", "--no-cache", v, "-O", "/tmp/splash.tar.gz"}};
       }},
      // The firmware settings are applied, then the upgrade runs: the path
      // reaches wget; the version and the sum are compared, never run.
      {"fwupgrade path", 256,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         apply_upgrade_setting("upgrade", "1", c);
         apply_upgrade_setting("version", "2.5.0", c);
         apply_upgrade_setting("path", v.c_str(), c);
         run_firmware_upgrade(c.firmware);
       },
       [](const std::string& v) {
         return Calls{{"wget", v + "/flx-pico2hp.bin", "--directory-prefix=/tmp/.firmware"}};
       }},
      {"fwupgrade version", 20,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         apply_upgrade_setting("upgrade", "1", c);
         apply_upgrade_setting("version", v.c_str(), c);
         apply_upgrade_setting("path", "http://fw.example/2.5.0", c);
         run_firmware_upgrade(c.firmware);
       },
       [](const std::string&) {
         return Calls{{"wget", "http://fw.example/2.5.0/flx-pico2hp.bin", "--directory-prefix=/tmp/.firmware"}};
       }},
      {"fwupgrade sum", 256,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         apply_upgrade_setting("upgrade", "1", c);
         apply_upgrade_setting("version", "2.5.0", c);
         apply_upgrade_setting("sum", v.c_str(), c);
         apply_upgrade_setting("path", "http://fw.example/2.5.0", c);
         run_firmware_upgrade(c.firmware);
       },
       [](const std::string&) {
         return Calls{{"wget", "http://fw.example/2.5.0/flx-pico2hp.bin", "--directory-prefix=/tmp/.firmware"}};
       }},
  };
}

}  // namespace

TEST(ShellValues, EverySettingReachesItsCommandAsExactlyItsText) {
  SandboxShell node;
  ScopedHost scope(node);
  std::string error = node.sandbox_error();
  if (!error.empty()) GTEST_SKIP() << "commands cannot run sandboxed here: " << error;
  node.add_process(320, "syslogd", 'S');
  node.write("/etc/fw_a_version", "2.4.1\n");

  size_t checked = 0;
  for (const Row& row : rows()) {
    for (const std::string& value : hostile_values_for(row.cap)) {
      SCOPED_TRACE(row.setting + " = <" + value + ">");
      node.forget_calls();
      node.remove("/tmp/pwned");
      node.set_uci("wireless.pub.encryption", "none");
      node.set_uci("dhcp.pub.ipaddr", "10.3.48.1");
      NodeConfig config;
      config.captive_portal.splash_url.set("none");
      row.apply(value, config, node);
      Calls calls = node.calls();
      EXPECT_EQ(printable(row.expected(value)), printable(calls));
      EXPECT_EQ("", node.errors());
      EXPECT_FALSE(node.exists("/tmp/pwned"));
      ++checked;
    }
  }
  EXPECT_GT(checked, 100u);
}

TEST(ShellValues, TheTimeZoneFileAndTheHostNameHoldTheValueAsItCame) {
  SandboxShell node;
  ScopedHost scope(node);
  std::string error = node.sandbox_error();
  if (!error.empty()) GTEST_SKIP() << "commands cannot run sandboxed here: " << error;
  const std::string value = "CET-1;$(touch /tmp/pwned)`x`'\"*";
  node.write("/proc/sys/kernel/hostname", "node\n");
  NodeConfig config;
  apply_management_setting("tz_offset", value.c_str(), config);
  EXPECT_EQ(value + "\n", node.read("/tmp/TZ"));
  apply_general_setting("hostname", value.c_str(), config);
  EXPECT_EQ(value, node.read("/proc/sys/kernel/hostname"));
  EXPECT_FALSE(node.exists("/tmp/pwned"));
}
