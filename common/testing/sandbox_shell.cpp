#include "common/testing/sandbox_shell.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/testing/stand_ins.h"

namespace {

// Tools that the commands name through PATH.
const char* const kPathTools[] = {"uci", "wget", "passwd", "iptables", "ifconfig", "md5sum", "awk",   "tar",
                                  "rm",  "cp",   "mv",     "udhcpc",   "batctl",   "pkill",  "sleep", "touch"};
// Tools named by absolute path.
const char* const kAbsoluteTools[] = {"/sbin/syslogd",       "/sbin/reboot",       "/sbin/do_reboot",
                                      "/sbin/sysupgrade",    "/etc/init.d/chilli", "/etc/init.d/nodogsplash",
                                      "/etc/init.d/network", "/etc/init.d/vlan",   "/etc/init.d/dnsmasq",
                                      "/usr/sbin/batctl",    "/usr/sbin/iptables"};
// The real folders the fake ones are laid over (the fake /sbin is the fake
// /usr/sbin); /tmp last, because the fake root itself lies under the real
// /tmp.
const char* const kFolders[] = {"/etc", "/sbin", "/usr/sbin", "/tmp"};

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

// uci as the other tests' shells have it, its calls recorded as the rest.
std::string uci_script() {
  return "#!/bin/sh\n{ printf '%s\\0' uci \"$@\"; printf '\\1'; } >> /tmp/.calls\n" + uci_stand_in_body("/tmp/.uci");
}

[[noreturn]] void fail(const char* why) {
  dprintf(2, "sandbox: %s: %s\n", why, strerror(errno));
  _exit(126);
}

void write_proc_file(const char* file, const std::string& text) {
  int fd = open(file, O_WRONLY);
  if (fd < 0) return;
  if (::write(fd, text.data(), text.size()) < 0) {
  }
  close(fd);
}

}  // namespace

SandboxShell::SandboxShell() {
  for (const char* dir : {"/tmp/.bin", "/tmp/.uci", "/etc/init.d", "/usr", "/usr/sbin"}) {
    mkdir(path(dir).c_str(), 0755);
  }
  // One folder for both, as on a system whose /sbin is a link to usr/sbin:
  // a bind on such a /sbin lands on /usr/sbin.
  symlink("usr/sbin", path("/sbin").c_str());
  for (const char* tool : kPathTools) {
    std::string file = std::string("/tmp/.bin/") + tool;
    write(file, strcmp(tool, "uci") == 0 ? uci_script() : stand_in(strcmp(tool, "passwd") == 0));
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

std::string SandboxShell::sandbox_error() {
  forget_calls();
  int status = run("true");
  std::string err = read("/tmp/.stderr");
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  return err.empty() ? "the sandboxed shell failed" : err;
}

// The stand-in uci keeps the fake host's table: its files hold the table
// while a command runs, and what the command set is in the table after.
void SandboxShell::uci_to_files() {
  for (const auto& [key, type] : uci_node_sections()) {
    if (!uci.count(key)) write("/tmp/.uci/" + key, type + "\n");
  }
  for (const auto& [key, value] : uci) write("/tmp/.uci/" + key, value + "\n");
}

void SandboxShell::uci_from_files() {
  DIR* d = ::opendir(path("/tmp/.uci").c_str());
  if (!d) return;
  uci.clear();  // what the command removed is gone
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string value = read(std::string("/tmp/.uci/") + e->d_name);
    if (!value.empty() && value.back() == '\n') value.pop_back();
    uci[e->d_name] = value;
  }
  closedir(d);
}

int SandboxShell::run(const char* command) {
  events.push_back(std::string("run ") + command);
  commands.push_back(command);
  uci_to_files();
  pid_t pid = spawn(command, -1);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  uci_from_files();
  return status;
}

int SandboxShell::open_command(const char* command, CommandStream& out) {
  out = CommandStream();
  events.push_back(std::string("read ") + command);
  commands.push_back(command);
  uci_to_files();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = spawn(command, fds[1]);
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return -1;
  }
  stream_from_pipe(out, fds[0], pid);
  return 0;
}

int SandboxShell::close_command(CommandStream& out) {
  close(stream_fd(out));
  int status = -1;
  waitpid(stream_pid(out), &status, 0);
  stream_closed(out);
  uci_from_files();
  return status;
}

ShellCalls SandboxShell::calls() const {
  ShellCalls out;
  std::string record = read("/tmp/.calls");
  ShellCall call;
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

std::string SandboxShell::errors() const { return read("/tmp/.stderr"); }

void SandboxShell::forget_calls() {
  remove("/tmp/.calls");
  remove("/tmp/.stderr");
  forget();
}

void SandboxShell::set_uci(const std::string& key, const std::string& value) { uci[key] = value; }

pid_t SandboxShell::spawn(const char* command, int stdout_fd) {
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
    write_proc_file("/proc/self/setgroups", "deny");
    write_proc_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    write_proc_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("cannot make / private");
  for (const char* dir : kFolders) {
    if (mount((root + dir).c_str(), dir, nullptr, MS_BIND, nullptr) != 0) fail("cannot bind the fake folders");
  }
  const char* env[] = {"PATH=/tmp/.bin", "HOME=/tmp", nullptr};
  execle("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr), env);
  fail("cannot run /bin/sh");
}

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

std::vector<std::string> hostile_values_for(size_t cap) {
  std::vector<std::string> out;
  for (const std::string& v : hostile_values()) {
    for (size_t at = 0; at < v.size(); at += cap - 1) out.push_back(v.substr(at, cap - 1));
  }
  return out;
}

ShellCall uci_set_call(const std::string& key, const std::string& value) { return {"uci", "set", key + "=" + value}; }
ShellCall uci_get_call(const std::string& key) { return {"uci", "get", key}; }
ShellCall uci_commit_call(const std::string& package) { return {"uci", "commit", package}; }

std::string printable(const ShellCalls& calls) {
  std::string out;
  for (const ShellCall& call : calls) {
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
