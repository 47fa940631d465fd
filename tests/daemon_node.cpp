#include "tests/daemon_node.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "common/build_config.h"
#include "common/testing/private_tmp.h"
#include "common/testing/stand_ins.h"

namespace daemon_node {

const std::string kNode = "/tmp/.node";
std::string g_skip_reason;

int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

void Reaper::start() {
  std::thread([this] { loop(); }).detach();
}

int Reaper::status(pid_t pid, Millis wait) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!cv_.wait_for(lock, wait, [&] { return codes_.count(pid) > 0; })) return -1;
  int code = codes_[pid];
  codes_.erase(pid);
  return code;
}

void Reaper::loop() {
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

Reaper g_reaper;

namespace {

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
  for (const auto& [key, type] : uci_node_sections()) write_file(kNode + "/uci/" + key, type + "\n");
  // Stand-ins, one overlay per folder of the node's programs.
  const std::map<std::string, std::map<std::string, std::string>> stand_ins = {
      {"/usr/bin",
       {{"uci", "#!/bin/sh\n" + uci_stand_in_body("/tmp/.node/uci")},
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
    if (mount("overlay", folder.c_str(), "overlay", 0, options.c_str()) != 0)
      return "cannot lay stand-ins over " + folder;
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

}  // namespace

void Node::SetUp() {
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

// Peak resident memory of a process in kB, from its status file.
long vm_hwm(const std::string& status_text) {
  size_t at = status_text.find("VmHWM:");
  return at == std::string::npos ? -1 : atol(status_text.c_str() + at + 6);
}

ProgramRun run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
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

}  // namespace daemon_node
