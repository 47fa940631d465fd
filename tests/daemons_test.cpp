// clientscout, ifcounter and the watchdog as real daemons on a simulated
// node. The test takes pid, mount and network namespaces of its own: a
// private /proc (the watchdog sees only this test's processes), /tmp on a
// tmpfs (the daemons' pid files and lists), veth pairs named eth0 (MAC
// 02:00:00:00:00:01) and mesh0 with their sysfs counters, /etc/hosts naming
// the dashboard 127.0.0.1, where the scripted dashboard listens on port 80,
// and stand-ins for uci, batctl, iptables, do_reboot and the daemons the
// watchdog starts, laid over /usr/bin and /usr/sbin with overlay mounts.
// This process is the namespace's subreaper, so it collects each daemon's
// exit status. Needs root.
//
// The kernel here has no nl80211, so clientscout itself can only show how it
// ends without it; its cycle runs in clientscout_stand_in, the product code
// with a stand-in station dump. The *_fast builds are the products with
// instant pauses: they report their peak memory after ten cycles (the
// benchmark; the numbers are printed).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/socket.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/base64.h"
#include "common/build_config.h"
#include "common/testing/http_server.h"
#include "common/testing/private_tmp.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kNode = "/tmp/.node";  // the stand-ins' answers and what they were asked
const char kEncodedMac[] = "MDI6MDA6MDA6MDA6MDA6MDE=";  // 02:00:00:00:00:01
std::string g_skip_reason;

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void write_file(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
}

int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

// Collects the exit status of every child and orphan of this process.
class Reaper {
 public:
  void start() { std::thread([this] { loop(); }).detach(); }
  // The exit code of pid (128 + signal when killed), waiting up to `wait`;
  // -1 when it has not ended by then.
  int status(pid_t pid, Millis wait) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!cv_.wait_for(lock, wait, [&] { return codes_.count(pid) > 0; })) return -1;
    int code = codes_[pid];
    codes_.erase(pid);
    return code;
  }

 private:
  void loop() {
    for (;;) {
      int st = 0;
      pid_t pid = waitpid(-1, &st, 0);
      if (pid < 0) {
        usleep(5000);
        continue;
      }
      std::lock_guard<std::mutex> lock(mu_);
      codes_[pid] = exit_code(st);
      cv_.notify_all();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<pid_t, int> codes_;
};
Reaper g_reaper;

const char kRecordingStandIn[] = "#!/bin/sh\necho \"$0 $*\" >> /tmp/.node/started\n";

// The node around the daemons. "" when it is ready, else why not.
std::string build_node() {
  if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) return "cannot mount /proc";
  if (mount("sysfs", "/sys", "sysfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) return "cannot mount /sys";
  if (!mount_private_tmp()) return "cannot mount a tmpfs on /tmp";
  if (system("ip link set lo up && "
             "ip link add eth0 address 02:00:00:00:00:01 type veth peer name eth0-peer && "
             "ip link add mesh0 type veth peer name mesh0-peer && "
             "ip link set mesh0 up && ip link set mesh0-peer up") != 0) {
    return "cannot make veth interfaces (iproute2 missing?)";
  }
  for (const std::string& d : {kNode, kNode + "/uci", kNode + "/etc", std::string("/tmp/.overlay")}) {
    mkdir(d.c_str(), 0755);
  }
  // Stand-ins, one overlay per folder of the node's programs.
  const std::map<std::string, std::map<std::string, std::string>> stand_ins = {
      {"/usr/bin",
       {{"uci",
         "#!/bin/sh\n# \"uci get <key>\" prints the file named after the key.\n"
         "[ \"$1\" = get ] || exit 1\nf=/tmp/.node/uci/$2\n"
         "[ -f \"$f\" ] || { echo \"uci: Entry not found\" >&2; exit 1; }\ncat \"$f\"\n"},
        {"batctl", "#!/bin/sh\n[ \"$1\" = gw ] && cat /tmp/.node/batctl_gw 2>/dev/null\nexit 0\n"},
        {"fleetlink_supervisor", kRecordingStandIn},
        {"clientscout", kRecordingStandIn},
        {"ifcounter", kRecordingStandIn},
        {"lonely", kRecordingStandIn}}},
      {"/usr/sbin",
       {{"iptables",
         "#!/bin/sh\ncase \"$*\" in\n  \"-t nat -L\") cat /tmp/.node/nat 2>/dev/null ;;\n"
         "  *) echo \"$0 $*\" >> /tmp/.node/started ;;\nesac\n"},
        {"do_reboot", kRecordingStandIn}}},
  };
  for (const auto& [folder, files] : stand_ins) {
    std::string base = "/tmp/.overlay" + folder;
    for (const char* part : {"", "/upper", "/work"}) {
      std::string cmd = "mkdir -p " + base + part;
      if (system(cmd.c_str()) != 0) return "cannot make " + base;
    }
    for (const auto& [name, text] : files) write_file(base + "/upper/" + name, text, 0755);
    std::string options = "lowerdir=" + folder + ",upperdir=" + base + "/upper,workdir=" + base + "/work";
    if (mount("overlay", folder.c_str(), "overlay", 0, options.c_str()) != 0) return "cannot lay stand-ins over " + folder;
  }
  // The node must never reach a real reboot or a real daemon from here.
  if (slurp("/sbin/do_reboot") != kRecordingStandIn || slurp("/usr/bin/fleetlink_supervisor") != kRecordingStandIn) {
    return "the stand-ins do not shadow the node's commands";
  }
  const std::map<std::string, std::string> etc = {
      {"/etc/hosts", std::string("127.0.0.1 localhost ") + DASHBOARD_HOST + " dash.test\n"},
      {"/etc/nsswitch.conf", "hosts: files dns\n"},
      {"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
  };
  for (const auto& [path, text] : etc) {
    std::string own = kNode + "/etc/" + path.substr(5);
    write_file(own, text);
    if (mount(own.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) return "cannot replace " + path;
  }
  hostent* he = gethostbyname(DASHBOARD_HOST);
  if (!he || he->h_addrtype != AF_INET || *reinterpret_cast<in_addr_t*>(he->h_addr_list[0]) != htonl(INADDR_LOOPBACK)) {
    return "the dashboard's name does not resolve to 127.0.0.1 here";
  }
  return "";
}

// Runs every test in pid 2 of a pid namespace of its own: pid 1 only reaps
// and ends with the tests' status; the first process waits for it.
class Node : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      g_skip_reason = "daemon program tests need root (pid, mount and network namespaces)";
      return;
    }
    if (unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      g_skip_reason = "cannot create pid, mount and network namespaces here";
      return;
    }
    fflush(stdout);
    fflush(stderr);
    pid_t init = fork();
    if (init < 0) {
      g_skip_reason = "cannot start a pid namespace";
      return;
    }
    if (init > 0) {
      int st = 0;
      waitpid(init, &st, 0);
      _exit(exit_code(st));
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a killed test run takes the namespace with it
    pid_t tests = fork();
    if (tests != 0) {
      for (;;) {
        int st = 0;
        pid_t p = waitpid(-1, &st, 0);
        if (p == tests || (p < 0 && tests < 0)) _exit(tests < 0 ? 1 : exit_code(st));
      }
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    g_skip_reason = build_node();
    // From here on every exit goes through the reaper (no system()).
    g_reaper.start();
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Node);

bool kernel_has_nl80211() {
  nl_sock* sock = nl_socket_alloc();
  if (!sock) return false;
  bool found = genl_connect(sock) == 0 && genl_ctrl_resolve(sock, "nl80211") >= 0;
  nl_socket_free(sock);
  return found;
}

// Peak resident memory of a process in kB, from its status file.
long vm_hwm(const std::string& status_text) {
  size_t at = status_text.find("VmHWM:");
  return at == std::string::npos ? -1 : atol(status_text.c_str() + at + 6);
}

struct ProgramRun {
  int status = -1;
  std::string out;
};

// Runs a program with the node's PATH and the given extra environment,
// reading its standard output until it and everything holding the pipe
// have let go (a daemon's frame closes it at once).
ProgramRun run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  ProgramRun r;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  auto t0 = Clock::now();
  pollfd p = {out[0], POLLIN, 0};
  while (Clock::now() - t0 < std::chrono::seconds(20)) {
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[1024];
    ssize_t n = read(out[0], buf, sizeof(buf));
    if (n <= 0) break;
    r.out.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  r.status = g_reaper.status(pid, Millis(20000));
  return r;
}

class Daemons : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
    for (const char* f : {"/tmp/clientscout.pid", "/tmp/netstat.pid", "/tmp/.watchdog.pid", "/tmp/.clients"}) {
      unlink(f);
    }
    unlink((kNode + "/started").c_str());
    unlink((kNode + "/nat").c_str());
    unlink((kNode + "/batctl_gw").c_str());
    ASSERT_EQ("", dashboard.error());
  }
  void TearDown() override {
    for (pid_t pid : daemons_) {
      if (pid > 1 && kill(pid, SIGKILL) == 0) g_reaper.status(pid, Millis(5000));
    }
  }

  void uci(const std::string& key, const std::string& value) { write_file(kNode + "/uci/" + key, value + "\n"); }

  // Starts a daemon; checks that the frame's parent ended well, said the
  // daemon's pid (the watchdog logs it instead) and wrote it into the pid
  // file, and returns that pid (0 when there is none).
  pid_t start(const std::string& binary, const std::string& pid_file, const std::vector<std::string>& env = {}) {
    ProgramRun r = run_program({binary}, env);
    EXPECT_EQ(0, r.status);
    std::string written = slurp(pid_file);
    pid_t pid = atoi(written.c_str());
    EXPECT_GT(pid, 1) << written;
    EXPECT_EQ(std::to_string(pid) + "\n", written);
    bool quiet = pid_file == "/tmp/.watchdog.pid";
    EXPECT_EQ(quiet ? "" : "Child process created: " + std::to_string(pid) + "\n", r.out);
    if (pid <= 1) return 0;
    daemons_.push_back(pid);
    return pid;
  }
  // SIGTERM, then the daemon's exit code (-1: still running after 5 s).
  int terminate(pid_t pid) {
    if (pid <= 1) return -1;  // never the process group, never init
    kill(pid, SIGTERM);
    return g_reaper.status(pid, Millis(5000));
  }
  static std::vector<std::string> started() {
    std::vector<std::string> lines;
    std::istringstream in(slurp(kNode + "/started"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static int count(const std::vector<std::string>& lines, const std::string& line) {
    int n = 0;
    for (const std::string& l : lines) n += l == line;
    return n;
  }
  // Runs a fast build for ten cycles and returns the peak memory it reported.
  long ten_cycles(const std::string& binary, const std::string& pid_file) {
    const std::string report = kNode + "/memory";
    unlink(report.c_str());
    pid_t pid = start(binary, pid_file, {"NODE_FAST_CYCLES=10", "NODE_FAST_REPORT=" + report});
    // The tenth pause ends the daemon through its own SIGTERM clean-up.
    if (pid > 0) {
      EXPECT_EQ(0, g_reaper.status(pid, Millis(60000)));
    }
    EXPECT_FALSE(exists(pid_file));
    long kb = vm_hwm(slurp(report));
    EXPECT_GT(kb, 0) << slurp(report);
    return kb;
  }

  ScriptedServer dashboard{"127.0.0.1", 80};

 private:
  std::vector<pid_t> daemons_;
};

void print_memory(const std::string& what, long kb) {
  printf("[   INFO   ] peak resident memory (VmHWM) of %s: %ld kB\n", what.c_str(), kb);
  fflush(stdout);
}

}  // namespace

TEST_F(Daemons, ClientscoutWithoutNl80211EndsWithStatusOne) {
  if (kernel_has_nl80211()) GTEST_SKIP() << "this kernel has nl80211; the stand-in tests cover the cycle";
  // As a daemon: the frame's parent ends well, the daemon itself with 1,
  // leaving its pid file (only a termination signal removes it).
  pid_t pid = start(CLIENTSCOUT, "/tmp/clientscout.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(1, g_reaper.status(pid, Millis(5000)));
  EXPECT_EQ(std::to_string(pid) + "\n", slurp("/tmp/clientscout.pid"));
  EXPECT_EQ(0u, dashboard.connections());
  unlink("/tmp/clientscout.pid");

  // Started by init, it stays in the foreground and says why it ends: run
  // it as the child of pid 1 of a pid namespace of its own.
  ProgramRun r = run_program({"/usr/bin/unshare", "--pid", "--fork", "/bin/sh", "-c", "\"$0\"; echo \"status $?\"",
                       CLIENTSCOUT});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("Failed to initialize the nl80211\nstatus 1\n", r.out);
  EXPECT_EQ("", slurp("/tmp/clientscout.pid"));  // created, never written
}

TEST_F(Daemons, ClientscoutReportsItsClientsAndCleansUp) {
  uci("wireless.pub.disabled", "0");
  uci("wireless.pub.hidden", "0");
  uci("wireless.priv.disabled", "1");
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\nthanks"));
  pid_t pid = start(CLIENTSCOUT_STAND_IN, "/tmp/clientscout.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(std::string("POST /client.php HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 193\r\n\r\nid=" + kEncodedMac +
                "&data=bWFjPTAwOjExOjIyOjMzOjQ0OjU1O3J4PTUxMjt0eD0zMDA7Y3RpbWU9NTtyc3NpPS01Mjt0eGJpdHJhdGU9NjUuMCBNQml0"
                "L3MgTUNTIDd8Cm1hYz02Njo3Nzo4ODo5OTphYTpiYjtyeD05MDAwO3R4PTQwMDAK",
            dashboard.request(0));
  EXPECT_EQ("mac=00:11:22:33:44:55;rx=512;tx=300;ctime=5;rssi=-52;txbitrate=65.0 MBit/s MCS 7|\n"
            "mac=66:77:88:99:aa:bb;rx=9000;tx=4000\n",
            slurp("/tmp/.clients"));
  print_memory("clientscout (stand-in dump) after its first cycle", vm_hwm(slurp("/proc/" + std::to_string(pid) + "/status")));
  EXPECT_EQ(0, terminate(pid));
  EXPECT_FALSE(exists("/tmp/clientscout.pid"));
  EXPECT_FALSE(exists("/tmp/.clients"));
}

TEST_F(Daemons, IfcounterReportsTheUplinkAndCleansUp) {
  uci("dashboard.remote.host", "dash.test");
  uci("dashboard.remote.cupath", "/stats.php");
  write_file(kNode + "/batctl_gw", "server (announced bandwidth: 10.0/2.0 MBit)\n");
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#ok"));
  pid_t pid = start(IFCOUNTER, "/tmp/netstat.pid");
  ASSERT_GT(pid, 0);
  // The first report after start-up carries zeros: it only takes the readings.
  EXPECT_EQ(std::string("POST /stats.php?mac=") + kEncodedMac +
                "&data=cnhiPTAmdHhiPTAmcnhwPTAmdHhwPTA=  HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: dash.test\r\n\r\n",
            dashboard.request(0));
  print_memory("ifcounter after its first cycle", vm_hwm(slurp("/proc/" + std::to_string(pid) + "/status")));
  EXPECT_EQ(0, terminate(pid));
  EXPECT_FALSE(exists("/tmp/netstat.pid"));
}

TEST_F(Daemons, WatchdogStartsWaitsAndStopsCleanly) {
  pid_t pid = start(WATCHDOG, "/tmp/.watchdog.pid");
  ASSERT_GT(pid, 0);
  // The first minute is the start-up wait: sleeping, nothing started yet.
  usleep(300000);
  std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  EXPECT_NE(std::string::npos, stat.find("(watchdog) S ")) << stat;
  EXPECT_EQ(0, terminate(pid));
  EXPECT_FALSE(exists("/tmp/.watchdog.pid"));
  EXPECT_TRUE(started().empty());
  EXPECT_EQ(0u, dashboard.connections());
}

TEST_F(Daemons, TenCyclesOfEachDaemon) {
  uci("wireless.pub.disabled", "0");
  uci("wireless.pub.hidden", "0");
  uci("wireless.priv.disabled", "0");
  uci("wireless.priv.hidden", "0");
  uci("dashboard.remote.host", "dash.test");
  uci("dashboard.remote.cupath", "/stats.php");
  uci("node.status.mode", "repeater");
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#Failed\n"));

  long clientscout_kb = ten_cycles(CLIENTSCOUT_STAND_IN, "/tmp/clientscout.pid");
  EXPECT_EQ(10u, dashboard.connections());
  EXPECT_EQ(0u, dashboard.request(9).find("POST /client.php HTTP/1.0\r\n"));
  EXPECT_FALSE(exists("/tmp/.clients"));

  long ifcounter_kb = ten_cycles(IFCOUNTER_FAST, "/tmp/netstat.pid");
  EXPECT_EQ(20u, dashboard.connections());
  EXPECT_EQ(0u, dashboard.request(19).find("POST /stats.php?mac="));

  long watchdog_kb = ten_cycles(WATCHDOG_FAST, "/tmp/.watchdog.pid");
  EXPECT_EQ(30u, dashboard.connections());
  EXPECT_EQ(0u, dashboard.request(29).find("POST /serverping.php?fw=QX HTTP/1.0\r\n"));
  // Each pass found the three daemons missing, the NAT rule absent and the
  // dashboard saying "Failed" to a repeater; mesh0 and memory were fine.
  // The last lonely runs in the background and may still be writing.
  auto t0 = Clock::now();
  while (started().size() < 50 && Clock::now() - t0 < std::chrono::seconds(5)) usleep(10000);
  std::vector<std::string> lines = started();
  EXPECT_EQ(10, count(lines, "/usr/bin/fleetlink_supervisor "));
  EXPECT_EQ(10, count(lines, "/usr/bin/clientscout "));
  EXPECT_EQ(10, count(lines, "/usr/bin/ifcounter "));
  EXPECT_EQ(10, count(lines, "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"));
  EXPECT_EQ(10, count(lines, "/usr/bin/lonely "));
  EXPECT_EQ(0, count(lines, "/sbin/do_reboot "));
  EXPECT_EQ(50u, lines.size());

  print_memory("clientscout (stand-in dump) after ten cycles", clientscout_kb);
  print_memory("ifcounter after ten cycles", ifcounter_kb);
  print_memory("watchdog after ten passes", watchdog_kb);
}
