#include "tests/stand_in_node.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/build_config.h"
#include "common/testing/stand_ins.h"
#include "common/testing/test_files.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void make_dirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
  }
}

void link_to(const std::string& target, const std::string& path) {
  if (symlink(target.c_str(), path.c_str()) != 0) {
    // A missing link shows in the run as a missing file.
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string line;
  while (std::getline(ss, line)) out.push_back(line);
  return out;
}

// A stand-in command: notes its call as `label` and its arguments, then runs `body`.
std::string stand_in(const std::string& label, const std::string& body = "") {
  return "#!/usr/bin/dash\necho \"" + label + "${*:+ $*}\" >> /standin/calls\n" + "echo \"    -> " + label +
         "${*:+ $*}\" >> /standin/trace\n" + body;
}

const char kShell[] =
    "#!/usr/bin/dash\n"
    "# Notes each command line a program hands to the shell, then runs it.\n"
    "[ \"$1\" = -c ] && printf '%s\\n' \"$2\" >> /standin/issued && printf '$ %s\\n' \"$2\" >> /standin/trace\n"
    "exec /usr/bin/dash \"$@\"\n";

const char kBatctl[] =
    "case \"$1\" in\n"
    "gw) if [ -z \"$2\" ]; then\n"
    "      case \"$(cat /standin/batman_mode)\" in\n"
    "      client) echo \"client (selection class: 20)\" ;;\n"
    "      server) echo \"server (announced bw: 10.0/2.0 MBit)\" ;;\n"
    "      *) cat /standin/batman_mode ;;\n"
    "      esac\n"
    "    else\n"
    "      echo \"$2\" > /standin/batman_mode\n"
    "    fi ;;\n"
    "ping) grep -qxF -- \"$4\" /standin/answering ;;\n"
    "*) exit 1 ;;\n"
    "esac\n";

const char kVlanScript[] =
    "if [ \"$1\" = start ] && [ -f /standin/vlan_start_creates_vlans ]; then\n"
    "  for i in 0 1 2 3; do : > /proc/net/vlan/bat0.$i; done\n"
    "fi\n";

// The folders of the machine that the node shares: linked as the machine
// links them (a merged /usr), else bound in.
const char* const kSystemFolders[] = {"bin", "sbin", "lib", "lib32", "lib64", "libx32"};

// Everything the child needs, made before fork(): a child of a program with
// threads may only make system calls.
struct ChildPlan {
  std::string root, usr_options, own_proc_link, kernel_proc_target_prefix, program;
  std::vector<std::string> bind_sources, bind_targets;
  std::vector<std::string> env;
  std::vector<char*> envp;
  std::string name;
};

[[noreturn]] void child_fail(const char* what) {
  const char* e = strerror(errno);
  if (write(2, "stand-in node: ", 15) < 0 || write(2, what, strlen(what)) < 0 || write(2, ": ", 2) < 0 ||
      write(2, e, strlen(e)) < 0 || write(2, "\n", 1) < 0) {
  }
  _exit(127);
}

// In the child: its own mount namespace, the node's file system, then the program.
[[noreturn]] void enter_node(ChildPlan& plan) {
  if (unshare(CLONE_NEWNS) != 0) child_fail("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) child_fail("private mounts");
  std::string usr = plan.root + "/usr";
  if (mount("overlay", usr.c_str(), "overlay", MS_RDONLY, plan.usr_options.c_str()) != 0) child_fail("overlay /usr");
  for (size_t i = 0; i < plan.bind_sources.size(); ++i) {
    if (mount(plan.bind_sources[i].c_str(), plan.bind_targets[i].c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
      child_fail("bind");
    }
  }
  std::string kproc = plan.root + "/kproc";
  if (mount("proc", kproc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) child_fail("proc");
  // The program's own pid leads to the kernel's /proc (the sanitizers read it).
  char pid_text[24];
  int n = 0;
  char digits[24];
  for (long p = getpid(); p > 0; p /= 10) digits[n++] = static_cast<char>('0' + p % 10);
  for (int i = 0; i < n; ++i) pid_text[i] = digits[n - 1 - i];
  pid_text[n] = '\0';
  char link[4096];
  char target[4096];
  if (plan.own_proc_link.size() + n + 1 >= sizeof(link) || 7 + n + 1 >= static_cast<int>(sizeof(target))) {
    child_fail("path");
  }
  memcpy(link, plan.own_proc_link.c_str(), plan.own_proc_link.size());
  memcpy(link + plan.own_proc_link.size(), pid_text, static_cast<size_t>(n) + 1);
  memcpy(target, "/kproc/", 7);
  memcpy(target + 7, pid_text, static_cast<size_t>(n) + 1);
  if (symlink(target, link) != 0) child_fail("own /proc entry");
  if (chroot(plan.root.c_str()) != 0 || chdir("/") != 0) child_fail("chroot");
  char* argv[] = {plan.name.data(), nullptr};
  execve(plan.program.c_str(), argv, plan.envp.data());
  child_fail("exec");
}

}  // namespace

std::string stand_in_nodes_unavailable() {
  if (geteuid() != 0) return "stand-in nodes need root (mount and network namespaces, chroot)";
  if (access("/usr/bin/dash", X_OK) != 0) return "the stand-in shell needs /usr/bin/dash";
  // Try the mounts once in a throw-away child.
  char tmpl[] = "/tmp/meshnode-check.XXXXXX";
  if (!mkdtemp(tmpl)) return "cannot make a folder under /tmp";
  std::string dir = tmpl;
  make_dirs(dir + "/layer");
  make_dirs(dir + "/usr");
  pid_t pid = fork();
  if (pid == 0) {
    std::string options = "lowerdir=" + dir + "/layer:/usr";
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) _exit(1);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(2);
    if (mount("overlay", (dir + "/usr").c_str(), "overlay", MS_RDONLY, options.c_str()) != 0) _exit(3);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::string cleanup = "rm -rf --one-file-system '" + dir + "'";
  if (system(cleanup.c_str()) != 0) {
  }
  if (!WIFEXITED(status)) return "the mount check died";
  switch (WEXITSTATUS(status)) {
    case 0:
      return "";
    case 1:
      return "cannot create mount and network namespaces here";
    case 2:
      return "cannot make the mounts of a namespace private here";
    default:
      return "this kernel cannot mount an overlay over /usr";
  }
}

StandInNode::StandInNode(NodeSetup setup) : setup_(std::move(setup)) {
  char tmpl[] = "/tmp/meshnode.XXXXXX";
  dir_ = mkdtemp(tmpl) ? tmpl : "";
  root_ = dir_ + "/root";
}

StandInNode::~StandInNode() {
  wait();
  if (dir_.rfind("/tmp/meshnode.", 0) == 0) {
    std::string cleanup = "rm -rf --one-file-system '" + dir_ + "'";
    if (system(cleanup.c_str()) != 0) {
    }
  }
}

void StandInNode::build() {
  const std::string layer = dir_ + "/layer";
  for (const char* d : {"/usr/bin", "/usr/sbin"}) make_dirs(layer + d);
  for (const char* d : {"/usr", "/dev", "/kproc", "/tmp", "/run", "/etc/init.d", "/etc/alternatives", "/standin/uci",
                        "/proc/net/vlan", "/sys/kernel/debug/batman_adv/bat0"}) {
    make_dirs(root_ + d);
  }
  make_dirs(root_ + "/var");
  link_to("../run", root_ + "/var/run");
  for (const char* d : kSystemFolders) {
    std::string host = std::string("/") + d;
    char target[4096];
    ssize_t n = readlink(host.c_str(), target, sizeof(target) - 1);
    if (n > 0) {
      target[n] = '\0';
      link_to(target, root_ + host);
    } else if (access(host.c_str(), F_OK) == 0) {
      make_dirs(root_ + host);  // bound in by the child
    }
  }

  // The commands of the platform.
  write_file(layer + "/usr/bin/sh", kShell, 0755);
  write_file(layer + "/usr/bin/uci", stand_in("uci", uci_stand_in_body("/standin/uci")), 0755);
  write_file(layer + "/usr/sbin/batctl", stand_in("batctl", kBatctl), 0755);
  for (const char* c : {"ifconfig", "udhcpc"}) write_file(layer + "/usr/sbin/" + c, stand_in(c), 0755);
  for (const char* c : {"iptables", "do_reboot", "reboot"}) {
    write_file(layer + "/usr/sbin/" + c, stand_in(std::string("/usr/sbin/") + c), 0755);
  }
  write_file(root_ + "/etc/init.d/vlan", stand_in("/etc/init.d/vlan", kVlanScript), 0755);
  for (const char* c : {"dnsmasq", "network"}) {
    write_file(root_ + "/etc/init.d/" + c, stand_in(std::string("/etc/init.d/") + c), 0755);
  }
  if (setup_.lonely_stand_in) write_file(layer + "/usr/bin/lonely", stand_in("/usr/bin/lonely"), 0755);
  // The program under test, where the node keeps it.
  std::string installed = layer + setup_.install_as;
  make_dirs(installed.substr(0, installed.rfind('/')));
  write_file(installed, slurp(setup_.program), 0755);

  // Name resolution that fails at once; the loader's cache.
  write_file(root_ + "/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
  write_file(root_ + "/etc/nsswitch.conf", "hosts: files dns\n");
  write_file(root_ + "/etc/hosts", "127.0.0.1 localhost\n");
  write_file(root_ + "/etc/ld.so.cache", slurp("/etc/ld.so.cache"));

  // The node's state.
  write_file(root_ + "/proc/uptime", setup_.uptime);
  link_to("/kproc/self", root_ + "/proc/self");
  link_to("/kproc/thread-self", root_ + "/proc/thread-self");
  for (pid_t p : setup_.processes) link_to("/kproc/" + std::to_string(p), root_ + "/proc/" + std::to_string(p));
  for (int i = 0; i < setup_.vlans; ++i) write_file(root_ + "/proc/net/vlan/bat0." + std::to_string(i), "");
  if (setup_.vlan_start_creates_vlans) write_file(root_ + "/standin/vlan_start_creates_vlans", "");
  if (!setup_.gateway_table.empty()) {
    write_file(root_ + "/sys/kernel/debug/batman_adv/bat0/gateways", setup_.gateway_table);
  }
  for (const char* led : {"orange:link2", "red:link1", "green:link3", "green:link4"}) {
    make_dirs(root_ + "/sys/class/leds/ubnt:" + led);
    write_file(root_ + "/sys/class/leds/ubnt:" + led + "/trigger", "none");
  }
  write_file(root_ + "/standin/batman_mode", setup_.batman_mode + "\n");
  std::string answering;
  for (const std::string& a : setup_.answering) answering += a + "\n";
  write_file(root_ + "/standin/answering", answering);
  write_file(root_ + "/standin/issued", "");
  write_file(root_ + "/standin/calls", "");
  write_file(root_ + "/standin/trace", "");
  for (const auto& [key, type] : uci_node_sections()) write_file(root_ + "/standin/uci/" + key, type + "\n");
  for (const auto& [key, value] : setup_.uci) write_file(root_ + "/standin/uci/" + key, value + "\n");
  if (!setup_.mesh_pid_file.empty()) write_file(root_ + "/run/udhcpc-br-meship.pid", setup_.mesh_pid_file);
}

std::string StandInNode::start(int limit_seconds) {
  limit_seconds_ = limit_seconds;
  if (dir_.empty()) return "cannot make the node's folder";
  build();

  // The node's network: a namespace of its own for this thread, which the
  // program inherits; the dashboard's fallback address is on loopback.
  if (unshare(CLONE_NEWNET) != 0) return std::string("network namespace: ") + strerror(errno);
  std::string net = std::string("ip link set lo up && ip addr add ") + DASHBOARD_FALLBACK_IP + "/32 dev lo";
  for (const std::string& c : setup_.net) net += " && " + c;
  if (system(net.c_str()) != 0) return "network set-up failed: " + net;
  if (!setup_.dashboard.empty()) {
    server_ = std::make_unique<ScriptedServer>(DASHBOARD_FALLBACK_IP, 80);
    if (!server_->error().empty()) return "dashboard: " + server_->error();
    for (const ServerReply& r : setup_.dashboard) server_->script(r);
  }

  ChildPlan plan;
  plan.root = root_;
  plan.usr_options = "lowerdir=" + dir_ + "/layer/usr:/usr";
  plan.own_proc_link = root_ + "/proc/";
  plan.program = setup_.install_as;
  plan.name = setup_.install_as.substr(setup_.install_as.rfind('/') + 1);
  plan.bind_sources.push_back("/dev");
  plan.bind_targets.push_back(root_ + "/dev");
  // awk and other tools are links through the machine's alternatives.
  if (access("/etc/alternatives", F_OK) == 0) {
    plan.bind_sources.push_back("/etc/alternatives");
    plan.bind_targets.push_back(root_ + "/etc/alternatives");
  }
  for (const char* d : kSystemFolders) {
    std::string host = std::string("/") + d;
    struct stat st;
    if (lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      plan.bind_sources.push_back(host);
      plan.bind_targets.push_back(root_ + host);
    }
  }
  plan.env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/", "LANG=C"};
  // Leak checks would need the kernel's /proc for every process of the node,
  // also for portsense's child; the unit tests check for leaks.
  const char* asan = getenv("ASAN_OPTIONS");
  plan.env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "detect_leaks=0");
  if (const char* ubsan = getenv("UBSAN_OPTIONS")) plan.env.push_back(std::string("UBSAN_OPTIONS=") + ubsan);
  for (std::string& e : plan.env) plan.envp.push_back(e.data());
  plan.envp.push_back(nullptr);

  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return "pipes";
  auto t0 = Clock::now();
  pid_ = fork();
  if (pid_ < 0) return "fork";
  if (pid_ == 0) {
    setpgid(0, 0);  // the node's processes form one group, killed together on time-out
    dup2(out[1], 1);
    dup2(err[1], 2);
    enter_node(plan);
  }
  setpgid(pid_, pid_);
  close(out[1]);
  close(err[1]);
  watcher_ = std::thread([this, t0, o = out[0], e = err[0]] {
    watch(o, e);
    seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  });
  return "";
}

void StandInNode::watch(int out_fd, int err_fd) {
  auto t0 = Clock::now();
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  int open_fds = 2;
  bool exited = false;
  while (open_fds > 0 || !exited) {
    if (Clock::now() - t0 > std::chrono::seconds(limit_seconds_)) break;
    if (!exited) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        exited = true;
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      }
    }
    if (open_fds == 0) {
      usleep(20000);
      continue;
    }
    if (poll(fds, 2, 100) <= 0) continue;
    for (pollfd& p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = read(p.fd, buf, sizeof(buf));
      if (n <= 0) {
        close(p.fd);
        p.fd = -1;
        --open_fds;
      } else {
        (p.fd == out_fd ? out : err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  if (open_fds > 0 || !exited) {
    kill(-pid_, SIGKILL);
    int st = 0;
    if (!exited && waitpid(pid_, &st, 0) == pid_) status = 128 + SIGKILL;
    err += "\n[stand-in node: killed after " + std::to_string(limit_seconds_) + " s]\n";
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
}

void StandInNode::wait() {
  if (watcher_.joinable()) watcher_.join();
}

std::vector<std::string> StandInNode::issued() const { return lines_of(file("/standin/issued")); }

std::vector<std::string> StandInNode::calls() const { return lines_of(file("/standin/calls")); }

std::string StandInNode::transcript() const {
  return "--- commands (\"$ \" as handed to the shell, \"->\" as the stand-ins ran them)\n" + file("/standin/trace") +
         "--- standard output\n" + out + "--- standard error\n" + err;
}

std::string StandInNode::file(const std::string& path) const { return slurp(root_ + path); }

std::string StandInNode::uci(const std::string& key) const {
  std::string v = file("/standin/uci/" + key);
  if (!v.empty() && v.back() == '\n') v.pop_back();
  return v;
}
