// The fleetlink_supervisor binary as the node starts it: a daemon that checks
// in with the dashboard and applies what comes back. The test runs in
// network and mount namespaces of its own: veth interfaces named as on the
// node, a private /tmp, an overlay over /etc whose hosts file names the
// dashboard (the scripted server on port 80) and whose init scripts are
// stand-ins, and stand-in `uci`, `batctl`, `udhcpc`, `ifconfig` and
// `iptables` first on PATH. Every stand-in records its call in one file.
// Needs root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/program_paths.h"
#include "common/testing/http_server.h"
#include "common/testing/private_tmp.h"
#include "common/testing/test_files.h"
#include "controller/testing/checkin_request.h"

using checkin_test::config_reply;
using checkin_test::parse_request;

namespace {

using Clock = std::chrono::steady_clock;

std::string g_skip_reason;
std::string g_dir;  // stand-ins, their answers and the call record

bool sh(const std::string& cmd) { return system(cmd.c_str()) == 0; }

// Records "<name> <arguments>" in the call file.
std::string recorder(const std::string& name) { return "echo \"" + name + " $*\" >> " + g_dir + "/calls\n"; }

bool make_node() {
  // Interfaces as on the node: a cabled uplink, the mesh VLAN, the bridges
  // and the mesh radio (a veth: no stations to dump).
  const char* links[][3] = {
      {"eth0", "00:1a:2b:3c:4d:5e", "192.168.1.20/24"},
      {"bat0.2", "02:00:00:00:02:02", "10.2.0.5/22"},
      {"br-lan", "02:00:00:00:03:03", "192.168.10.1/24"},
      {"br-meship", "02:00:00:00:04:04", "10.3.0.7/22"},
      {"mesh0", "02:00:00:00:00:0a", ""},
  };
  if (!sh("ip link set lo up")) return false;
  for (const auto& l : links) {
    std::string name = l[0];
    if (!sh("ip link add " + name + " address " + l[1] + " type veth peer name " + name + "-p")) return false;
    if (*l[2] && !sh("ip addr add " + std::string(l[2]) + " dev " + name)) return false;
    if (!sh("ip link set " + name + " up && ip link set " + name + "-p up")) return false;
  }
  return sh("ip route add default via 192.168.1.1 dev eth0");
}

bool make_etc() {
  std::string upper = g_dir + "/etc-upper";
  std::string work = g_dir + "/etc-work";
  mkdir(upper.c_str(), 0755);
  mkdir(work.c_str(), 0755);
  std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
  if (mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0) return false;
  write_file("/etc/hosts", "127.0.0.1 localhost\n127.0.0.1 dash.test\n");
  write_file("/etc/nsswitch.conf", "hosts: files\n");
  write_file("/etc/resolv.conf", "");
  write_file("/etc/fw_a_version", "2.4.1\n");
  mkdir("/etc/init.d", 0755);
  for (const char* script : {"dnsmasq", "vlan", "network", "chilli", "nodogsplash"}) {
    write_file(std::string("/etc/init.d/") + script, "#!/bin/sh\n" + recorder(std::string("/etc/init.d/") + script),
               0755);
  }
  return true;
}

void make_stand_ins() {
  std::string bin = g_dir + "/bin";
  mkdir(bin.c_str(), 0755);
  mkdir((g_dir + "/uci").c_str(), 0755);
  write_file(bin + "/uci",
             "#!/bin/sh\n" + recorder("uci") + "store=" + g_dir +
                 "/uci\n"
                 "case \"$1\" in\n"
                 "  get) [ -f \"$store/$2\" ] || { echo \"uci: Entry not found\" >&2; exit 1; }; cat \"$store/$2\" ;;\n"
                 "  set) key=\"${2%%=*}\"; printf '%s\\n' \"${2#*=}\" > \"$store/$key\" ;;\n"
                 "  commit) ;;\n"
                 "  *) exit 1 ;;\n"
                 "esac\n",
             0755);
  write_file(
      bin + "/batctl",
      "#!/bin/sh\n" + recorder("batctl") + "mode=" + g_dir +
          "/gw_mode\n"
          "[ \"$1\" = gw ] || exit 1\n"
          "if [ -n \"$2\" ]; then echo \"$2\" > \"$mode\"; else echo \"$(cat \"$mode\") (gw_sel_class: 20)\"; fi\n",
      0755);
  for (const char* tool : {"udhcpc", "ifconfig"}) {
    write_file(bin + "/" + tool, "#!/bin/sh\n" + recorder(tool), 0755);
  }
  // Keeps its rules as iptables does: -D takes out one copy, and fails
  // when there is none.
  write_file(bin + "/iptables",
             "#!/bin/sh\n" + recorder("iptables") + "rules=" + g_dir +
                 "/rules\nverb=$1; shift\ntouch \"$rules\"\n"
                 "case \"$verb\" in\n"
                 "  -I|-A) printf '%s\\n' \"$*\" >> \"$rules\" ;;\n"
                 "  -D) grep -qxF -- \"$*\" \"$rules\" || exit 1\n"
                 "      awk -v r=\"$*\" 'd || $0 != r { print; next } { d = 1 }' \"$rules\" > \"$rules.new\"\n"
                 "      mv \"$rules.new\" \"$rules\" ;;\n"
                 "esac\n",
             0755);
}

class Node : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      g_skip_reason = "controller program tests need root (network and mount namespaces)";
      return;
    }
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        !mount_private_tmp()) {
      g_skip_reason = "cannot create network and mount namespaces with a private /tmp here";
      return;
    }
    char tmpl[] = "/tmp/controllertest.XXXXXX";
    g_dir = mkdtemp(tmpl);
    if (!make_node()) {
      g_skip_reason = "cannot make the node's interfaces (iproute2 and veth needed)";
    } else if (!make_etc()) {
      g_skip_reason = "cannot lay an overlay over /etc here";
    } else {
      make_stand_ins();
    }
    // This test collects the daemon once its starter has exited.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Node);

const std::map<std::string, std::string> kNodeSettings = {
    {"dashboard.remote.host", "dash.test"},
    {"dashboard.remote.path", "/checkin.php"},
    {"dashboard.remote.fallback_ip", "192.0.2.10"},
    {"dashboard.remote.interval", "5"},
    {"node.status.hw", "FLX-1"},
    {"node.status.mode", "gateway"},
    {"node.security.lan_block", "1"},
    {"node.setting.reboot_token", "0"},
    {"wireless.radio0.channel", "6"},
    {"wireless.pub.ssid", "Guest"},
    {"wireless.priv.ssid", "Office"},
    {"wireless.priv.encryption", "psk-mixed"},
    {"dhcp.mesh.ipaddr", "10.3.0.1"},
    {"dhcp.pub.ipaddr", "10.3.0.1"},
    {"dhcp.pub.netmask", "255.255.252.0"},
    {"dhcp.priv.ipaddr", "10.3.4.1"},
    {"dhcp.priv.netmask", "255.255.252.0"},
};

// lan_block is 1: the LAN block's two rules come first, at start-up, each
// after the removal of a copy that an earlier controller may have left.
const char kLanBlockPublic[] = "FORWARD -s 10.3.0.0/22 -d 192.168.10.0/24 -j DROP";
const char kLanBlockPrivate[] = "FORWARD -s 10.3.4.0/22 -d 192.168.10.0/24 -j DROP";
const std::vector<std::string> kLanBlockAdds = {
    std::string("iptables -D ") + kLanBlockPublic, std::string("iptables -A ") + kLanBlockPublic,
    std::string("iptables -D ") + kLanBlockPrivate, std::string("iptables -A ") + kLanBlockPrivate};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ControllerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
    sh("rm -f " + g_dir + "/uci/* " + g_dir + "/calls " + g_dir + "/rules /tmp/.received /tmp/kestrel.pid");
    for (const auto& [key, value] : kNodeSettings) set_uci(key, value);
    write_file(g_dir + "/gw_mode", "server\n");
    ASSERT_EQ("", dashboard.error());
  }
  void TearDown() override {
    if (daemon_pid > 0) {
      kill(daemon_pid, SIGKILL);
      waitpid(daemon_pid, nullptr, 0);
    }
  }

  void set_uci(const std::string& key, const std::string& value) { write_file(g_dir + "/uci/" + key, value + "\n"); }

  // Starts the program; the starter's exit status and what it printed.
  void start() {
    int out[2];
    ASSERT_EQ(0, pipe2(out, O_CLOEXEC));
    pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      std::string path = g_dir + "/bin:/usr/sbin:/usr/bin:/sbin:/bin";
      setenv("PATH", path.c_str(), 1);
      execl(program_path(FLEETLINK_SUPERVISOR, "fleetlink_supervisor").c_str(), "fleetlink_supervisor", nullptr);
      _exit(127);
    }
    close(out[1]);
    std::string printed;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof(buf))) > 0;) printed.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    std::string pid_text = slurp("/tmp/kestrel.pid");
    daemon_pid = atoi(pid_text.c_str());
    ASSERT_GT(daemon_pid, 0);
    EXPECT_EQ(std::to_string(daemon_pid) + "\n", pid_text);
    EXPECT_EQ("Child process created: " + std::to_string(daemon_pid) + "\n", printed);
  }

  bool called(const std::string& call) {
    return await([&] { return slurp(g_dir + "/calls").find(call + "\n") != std::string::npos; });
  }
  // The recorded calls, without the reads of uci settings.
  std::vector<std::string> changes() {
    std::vector<std::string> out;
    std::stringstream lines(slurp(g_dir + "/calls"));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("uci get ", 0) != 0) out.push_back(line);
    }
    return out;
  }

  // SIGTERM ends the daemon at once, also inside a pause; exit status 0.
  void stop() {
    ASSERT_EQ(0, kill(daemon_pid, SIGTERM));
    auto t0 = Clock::now();
    int status = 0;
    ASSERT_EQ(daemon_pid, waitpid(daemon_pid, &status, 0));
    daemon_pid = -1;
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_NE(0, access("/tmp/kestrel.pid", F_OK));
  }

  ScriptedServer dashboard{"127.0.0.1", 80};
  pid_t daemon_pid = -1;
};

std::string printable(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

TEST_F(ControllerProgram, ChecksInAndAppliesAWirelessChange) {
  const std::string config = "#@#config wireless\nradio0.channel 11\n";
  dashboard.script(ServerReply::text(config_reply(config)));
  start();

  // The change and the Wi-Fi restart up to its 30 s pause.
  ASSERT_TRUE(called("/etc/init.d/vlan start")) << slurp(g_dir + "/calls");
  std::string request = dashboard.request(0);
  std::cout << "captured check-in request: " << printable(request) << "\n";
  checkin_test::CheckinRequest r = parse_request(request);
  ASSERT_TRUE(r.framed) << request;
  EXPECT_EQ("/checkin.php", r.path);
  EXPECT_EQ("00:1A:2B:3C:4D:5E", r.mac);
  EXPECT_EQ("dash.test", r.host);
  EXPECT_EQ(checkin_test::report_keys(), r.keys()) << r.query;
  const std::map<std::string, std::string> exact = {
      {"hw", "FLX-1"},
      {"ip", "10.2.0.5"},
      {"lan", "192.168.10.1"},
      {"mesh", "02:00:00:00:00:0A"},
      {"robin", "2.4.1"},
      {"ssid", "Office"},
      {"pssid", "Guest"},
      {"RR", "1"},
      {"role", "G"},
      {"gateway", "192.168.1.1"},
      {"gw-qual", "255"},
      {"NTR", "100"},
      {"nbs", ""},
      {"rssi", ""},
      {"hop", "0"},
  };
  for (const auto& [key, value] : exact) EXPECT_EQ(value, r[key]) << key;
  // This machine's own readings.
  EXPECT_TRUE(std::regex_match(r["memfree"], std::regex("[0-9]+"))) << r["memfree"];
  EXPECT_TRUE(std::regex_match(r["load"], std::regex("[0-9]+\\.[0-9][0-9]"))) << r["load"];
  EXPECT_TRUE(std::regex_match(r["uptime"], std::regex("([0-9]+days,)?[0-9]+:[0-5][0-9]:[0-5][0-9]"))) << r["uptime"];

  EXPECT_EQ(config, slurp("/tmp/.received"));
  EXPECT_EQ((kLanBlockAdds + std::vector<std::string>{"uci set wireless.radio0.channel=11", "uci commit wireless",
                                                      "/etc/init.d/dnsmasq stop", "/etc/init.d/vlan stop",
                                                      "/etc/init.d/network restart", "/etc/init.d/vlan start"}),
            changes());
  EXPECT_EQ("11\n", slurp(g_dir + "/uci/wireless.radio0.channel"));
  // The LAN block setting was taken up at start-up, before the first check-in.
  std::string calls = slurp(g_dir + "/calls");
  EXPECT_LT(calls.find("uci get node.security.lan_block\n"), calls.find("uci get wireless.pub.isolate\n"));
  EXPECT_LT(calls.find("uci get node.status.hw\n"), calls.find("uci set wireless.radio0.channel=11\n"));
  stop();
  EXPECT_EQ(1u, dashboard.connections());
  // SIGTERM's clean-up took the LAN block rules out again.
  std::vector<std::string> after = changes();
  ASSERT_GE(after.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{"iptables -D FORWARD -s 10.3.0.0/22 -d 192.168.10.0/24 -j DROP",
                                      "iptables -D FORWARD -s 10.3.4.0/22 -d 192.168.10.0/24 -j DROP"}),
            std::vector<std::string>(after.end() - 2, after.end()));
}

TEST_F(ControllerProgram, RepeaterWithCableTurnsGatewayAndSaysSoInTheNextCheckin) {
  set_uci("node.status.mode", "repeater");
  set_uci("dashboard.remote.interval", "0");  // check in again at once
  write_file(g_dir + "/gw_mode", "client\n");
  dashboard.script(ServerReply::text(config_reply("")));
  start();
  ASSERT_TRUE(await([&] { return dashboard.connections() >= 2; }));
  checkin_test::CheckinRequest second = parse_request(dashboard.request(1));
  stop();
  checkin_test::CheckinRequest first = parse_request(dashboard.request(0));
  EXPECT_EQ("1", first["RR"]);
  EXPECT_EQ("R", first["role"]);
  EXPECT_EQ("10.3.0.7", first["lan"]);  // br-meship
  EXPECT_EQ("0", second["RR"]);
  EXPECT_EQ("G", second["role"]);
  EXPECT_EQ("192.168.10.1", second["lan"]);  // br-lan
  std::vector<std::string> c = changes();
  ASSERT_GE(c.size(), 8u);
  EXPECT_EQ((kLanBlockAdds + std::vector<std::string>{"batctl gw", "batctl gw server",
                                                      "uci set node.status.mode=gateway", "uci commit node"}),
            std::vector<std::string>(c.begin(), c.begin() + 8));
  EXPECT_EQ("gateway\n", slurp(g_dir + "/uci/node.status.mode"));
  EXPECT_EQ("", slurp("/tmp/.received"));
}

TEST_F(ControllerProgram, RulesLeftByAKilledControllerAreNeitherDoubledNorLeftBehind) {
  // A controller killed before its clean-up left the LAN block and SSH rules.
  write_file(g_dir + "/rules",
             std::string(kLanBlockPublic) + "\n" + kLanBlockPrivate + "\nINPUT -p tcp --dport 22 -j DROP\n");
  set_uci("dashboard.remote.interval", "0");
  dashboard.script(ServerReply::text(config_reply("#@#config services\nssh 1\n")));
  dashboard.script(ServerReply::text(config_reply("#@#config services\nssh 0\n")));
  dashboard.script(ServerReply::text(config_reply("")));
  start();
  ASSERT_TRUE(await([&] { return dashboard.connections() >= 3; }));
  stop();
  EXPECT_EQ("", slurp(g_dir + "/rules"));
}
