// Every setting whose value reaches a shell command, with values made of
// the shell's special characters: the commands the appliers build run
// through the real /bin/sh, and each stand-in tool records the arguments
// (and, for passwd, the input) it received. The value must arrive as exactly
// its text, and nothing else may run.
//
// Each command runs in a mount namespace of its own in which /tmp, /etc and
// /sbin are the fake host's folders and PATH holds only recording stand-ins,
// so even an absolute path such as /sbin/syslogd or /etc/init.d/chilli
// reaches a stand-in. Needs root (or unprivileged user namespaces).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/testing/fake_host.h"
#include "controller/change_counts.h"
#include "controller/config_record.h"
#include "controller/custom_script.h"
#include "controller/firmware_upgrade.h"
#include "controller/management_settings.h"
#include "controller/portal.h"
#include "controller/wireless_settings.h"

void apply_general_setting(const char* key, const char* value, NodeConfig& config);

namespace {

using Call = std::vector<std::string>;  // the tool, then its arguments
using Calls = std::vector<Call>;

// Tools that the appliers' commands name through PATH.
const char* const kPathTools[] = {"uci", "wget", "passwd", "iptables", "ifconfig", "md5sum", "awk", "tar",
                                  "rm",  "cp",   "mv",     "udhcpc",   "batctl",   "pkill",  "sleep", "touch"};
// Tools named by absolute path.
const char* const kAbsoluteTools[] = {"/sbin/syslogd", "/sbin/reboot", "/sbin/do_reboot", "/sbin/sysupgrade",
                                      "/etc/init.d/chilli", "/etc/init.d/nodogsplash", "/etc/init.d/network",
                                      "/etc/init.d/vlan", "/etc/init.d/dnsmasq"};

// Records "<tool>\0<arg>\0...\1" in /tmp/.calls; passwd adds its input as
// one more field.
std::string stand_in(bool records_input) {
  std::string s =
      "#!/bin/sh\n"
      "n=$0; n=${n#/tmp/.bin/}\n";
  if (records_input) {
    s += "nl='\n'\n"
         "in=; while IFS= read -r l; do in=\"$in$l$nl\"; done\n"
         "{ printf '%s\\0' \"$n\" \"$@\" \"stdin=$in\"; printf '\\1'; } >> /tmp/.calls\n";
  } else {
    s += "{ printf '%s\\0' \"$n\" \"$@\"; printf '\\1'; } >> /tmp/.calls\n";
  }
  return s;
}

// uci keeps its settings as files in /tmp/.uci, so that get reads what set wrote.
const char kUci[] =
    "#!/bin/sh\n"
    "{ printf '%s\\0' uci \"$@\"; printf '\\1'; } >> /tmp/.calls\n"
    "case \"$1\" in\n"
    "  get) [ -f \"/tmp/.uci/$2\" ] || exit 1; IFS= read -r v < \"/tmp/.uci/$2\"; printf '%s\\n' \"$v\" ;;\n"
    "  set) printf '%s\\n' \"${2#*=}\" > \"/tmp/.uci/${2%%=*}\" ;;\n"
    "esac\n";

// A fake host whose commands run through the real shell, sandboxed.
class SandboxShell : public FakeHost {
 public:
  SandboxShell() {
    mkdir(path("/tmp/.bin").c_str(), 0755);
    mkdir(path("/tmp/.uci").c_str(), 0755);
    mkdir(path("/sbin").c_str(), 0755);
    mkdir(path("/etc/init.d").c_str(), 0755);
    for (const char* tool : kPathTools) {
      std::string file = std::string("/tmp/.bin/") + tool;
      write(file, strcmp(tool, "uci") == 0 ? std::string(kUci) : stand_in(strcmp(tool, "passwd") == 0));
      chmod(path(file).c_str(), 0755);
    }
    for (const char* tool : kAbsoluteTools) {
      write(tool, stand_in(false));
      chmod(path(tool).c_str(), 0755);
    }
    // "sh /tmp/chgpasswd" runs the real shell on the controller's script.
    symlink("/bin/sh", path("/tmp/.bin/sh").c_str());
    // The dynamic loader's cache, for the shell under the fake /etc.
    std::ifstream cache("/etc/ld.so.cache", std::ios::binary);
    std::stringstream bytes;
    bytes << cache.rdbuf();
    write("/etc/ld.so.cache", bytes.str());
  }

  // Why commands cannot run here ("" when they can).
  std::string sandbox_error() {
    forget_calls();
    int status = run("true");
    std::string err = read("/tmp/.stderr");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    return err.empty() ? "the sandboxed shell failed" : err;
  }

  int run(const char* command) override {
    events.push_back(std::string("run ") + command);
    commands.push_back(command);
    pid_t pid = spawn(command, -1);
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    return status;
  }
  int open_command(const char* command, CommandStream& out) override {
    out = CommandStream();
    events.push_back(std::string("read ") + command);
    commands.push_back(command);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    pid_t pid = spawn(command, fds[1]);
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      return -1;
    }
    out.fd = fds[0];
    out.pid = pid;
    return 0;
  }
  int close_command(CommandStream& out) override {
    close(out.fd);
    int status = -1;
    waitpid(out.pid, &status, 0);
    out.fd = -1;
    out.pid = -1;
    return status;
  }

  // The recorded calls, in order.
  Calls calls() const {
    Calls out;
    std::string record = read("/tmp/.calls");
    Call call;
    std::string field;
    for (char c : record) {
      if (c == '\0') {
        call.push_back(field);
        field.clear();
      } else if (c == '\1') {
        out.push_back(call);
        call.clear();
      } else {
        field += c;
      }
    }
    return out;
  }
  std::string errors() const { return read("/tmp/.stderr"); }
  void forget_calls() {
    remove("/tmp/.calls");
    remove("/tmp/.stderr");
    forget();
  }

 private:
  // The command's own mount namespace: the fake folders over the real ones.
  pid_t spawn(const char* command, int stdout_fd) {
    std::string root = this->root();
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    int err = open((root + "/tmp/.stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (err >= 0) dup2(err, 2);
    if (stdout_fd >= 0) dup2(stdout_fd, 1);
    if (unshare(CLONE_NEWNS) != 0) {
      uid_t uid = getuid();
      gid_t gid = getgid();
      if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail("cannot make a mount namespace");
      write_file("/proc/self/setgroups", "deny");
      write_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
      write_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("cannot make / private");
    // /tmp last: the fake root itself lies under the real /tmp.
    for (const char* dir : {"/etc", "/sbin", "/tmp"}) {
      if (mount((root + dir).c_str(), dir, nullptr, MS_BIND, nullptr) != 0) fail("cannot bind the fake folders");
    }
    const char* env[] = {"PATH=/tmp/.bin", "HOME=/tmp", nullptr};
    execle("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr), env);
    fail("cannot run /bin/sh");
  }
  [[noreturn]] static void fail(const char* why) {
    dprintf(2, "sandbox: %s: %s\n", why, strerror(errno));
    _exit(126);
  }
  static void write_file(const char* file, const std::string& text) {
    int fd = open(file, O_WRONLY);
    if (fd < 0) return;
    if (::write(fd, text.data(), text.size()) < 0) {
    }
    close(fd);
  }
};

// Values made of what a shell treats specially: separators, substitutions,
// quotes, globs, comments, expansions, escapes, line ends and blanks at
// either end. "/tmp/pwned" appears only if something ran.
const std::vector<std::string>& hostile_values() {
  static const std::vector<std::string> v = {
      "a;b$(touch /tmp/pwned)c`touch /tmp/pwned`d",
      "x&&y||z|w'q\"r*s?[t]",
      "'\"'\"*' ; touch /tmp/pwned #",
      "$HOME${IFS}~/$0 #c !x %s",
      "\\'\\n\\\\ \\$(touch /tmp/pwned)",
      " lead and trail ",
      "line1\nline2\ttab\r",
      "\n;touch /tmp/pwned\n",
  };
  return v;
}

// The hostile texts cut into pieces that fit a field of capacity cap.
std::vector<std::string> values_for(size_t cap) {
  std::vector<std::string> out;
  for (const std::string& v : hostile_values()) {
    for (size_t at = 0; at < v.size(); at += cap - 1) out.push_back(v.substr(at, cap - 1));
  }
  return out;
}

Call uci_set(const std::string& key, const std::string& value) { return {"uci", "set", key + "=" + value}; }
Call uci_get(const std::string& key) { return {"uci", "get", key}; }
Call uci_commit(const std::string& package) { return {"uci", "commit", package}; }

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
               [uci_key](const std::string& v) { return Calls{uci_set(uci_key, v)}; }};
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
         return Calls{uci_set("wireless.pub.key", v), uci_get("wireless.pub.encryption"),
                      uci_set("wireless.pub.encryption", "psk-mixed")};
       }},
      {"wireless server (WPA Enterprise)", 17,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         wireless("enterprise", "1", c);
         wireless("server", v, c);
       },
       [](const std::string& v) {
         return Calls{uci_set("wireless.priv.encryption", "mixed-wpa"), uci_commit("wireless"),
                      uci_set("wireless.priv.server", v)};
       }},
      {"management network", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_management_setting("network", v.c_str(), c); },
       [](const std::string& v) { return Calls{uci_set("node.status.network", v), uci_commit("node")}; }},
      {"management rootpwd", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_management_setting("rootpwd", v.c_str(), c); },
       [](const std::string& v) {
         return Calls{{"passwd", "root", "stdin=" + v + "\n" + v + "\n"}, uci_set("node.setting.rootpwd", v),
                      uci_commit("node")};
       }},
      {"management tz_offset", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         apply_management_setting("tz_offset", v.c_str(), c);
       },
       [](const std::string& v) { return Calls{uci_set("system.@system[0].timezone", v), uci_commit("system")}; }},
      {"management cp_name (stops the stored portal only)", 60,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.management.portal_enable = 1;
         c.management.portal_name.set("chilli");
         apply_management_setting("cp_name", v.c_str(), c);
       },
       [](const std::string&) {
         return Calls{{"/etc/init.d/chilli", "stop"}, uci_get("dhcp.pub.ipaddr"),
                      {"ifconfig", "br-pub", "10.3.48.1", "netmask", "255.255.252.0", "up"}};
       }},
      {"general hostname", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_general_setting("hostname", v.c_str(), c); },
       [](const std::string& v) { return Calls{uci_set("system.@system[0].hostname", v), uci_commit("system")}; }},
      {"general syslog_server", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.general.syslog_enable = 1;
         apply_general_setting("syslog_server", v.c_str(), c);
       },
       [](const std::string& v) { return Calls{{"/sbin/syslogd", "-R", v, "-C16"}}; }},
      {"customscript cs_url", 100,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.custom_script.enable = 1;
         apply_custom_script_setting("cs_url", v.c_str(), c);
       },
       [](const std::string& v) { return Calls{uci_set("node.setting.cs_url", v)}; }},
      {"customscript cs_md5", 50,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         c.custom_script.enable = 1;
         apply_custom_script_setting("cs_md5", v.c_str(), c);
       },
       [](const std::string& v) { return Calls{uci_set("node.setting.cs_md5", v)}; }},
      {"nodog SplashURl", 256,
       [](const std::string& v, NodeConfig& c, SandboxShell&) { apply_splash_setting("SplashURl", v.c_str(), c); },
       [](const std::string& v) { return Calls{{"wget", "--no-cache", v, "-O", "/tmp/splash.tar.gz"}}; }},
      // The firmware settings are applied, then the upgrade runs: the path
      // reaches wget; the version and the sum are compared, never run.
      {"fwupgrade path", 256,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         apply_upgrade_setting("upgrade", "1", c);
         apply_upgrade_setting("version", "2.5.0", c);
         apply_upgrade_setting("path", v.c_str(), c);
         run_firmware_upgrade(c.firmware);
       },
       [](const std::string& v) { return Calls{{"wget", v + "/flx-pico2hp.bin", "--directory-prefix=/tmp"}}; }},
      {"fwupgrade version", 20,
       [](const std::string& v, NodeConfig& c, SandboxShell&) {
         apply_upgrade_setting("upgrade", "1", c);
         apply_upgrade_setting("version", v.c_str(), c);
         apply_upgrade_setting("path", "http://fw.example/2.5.0", c);
         run_firmware_upgrade(c.firmware);
       },
       [](const std::string&) {
         return Calls{{"wget", "http://fw.example/2.5.0/flx-pico2hp.bin", "--directory-prefix=/tmp"}};
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
         return Calls{{"wget", "http://fw.example/2.5.0/flx-pico2hp.bin", "--directory-prefix=/tmp"}};
       }},
  };
}

std::string printable(const Calls& calls) {
  std::string out;
  for (const Call& call : calls) {
    out += "[";
    for (const std::string& field : call) {
      out += " <";
      for (char c : field) out += c == '\n' ? std::string("\\n") : std::string(1, c);
      out += ">";
    }
    out += " ]\n";
  }
  return out;
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
    for (const std::string& value : values_for(row.cap)) {
      SCOPED_TRACE(row.setting + " = <" + value + ">");
      node.forget_calls();
      node.remove("/tmp/pwned");
      node.write("/tmp/.uci/wireless.pub.encryption", "none\n");
      node.write("/tmp/.uci/dhcp.pub.ipaddr", "10.3.48.1\n");
      reset_change_counts();
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
