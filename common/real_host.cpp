#include "common/real_host.h"

#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <spawn.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/signals.h"

extern char** environ;

namespace {

// Starts "/bin/sh -c command" with the signal state of a fresh process:
// nothing blocked, and SIGPIPE back to its default (the daemons ignore it).
// With stdout_fd >= 0 the command's standard output goes there.
int spawn_shell(const char* command, int stdout_fd, int close_fd, pid_t* pid) {
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, stdout_fd);
  }
  if (close_fd >= 0) posix_spawn_file_actions_addclose(&actions, close_fd);

  char sh[] = "sh";
  char dash_c[] = "-c";
  char* argv[] = {sh, dash_c, const_cast<char*>(command), nullptr};
  int rc = posix_spawn(pid, "/bin/sh", &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc;
}

}  // namespace

int RealHost::run(const char* command) {
  if (!command) return -1;
  ChildSignalBlock block;
  fflush(stdout);
  pid_t pid;
  if (spawn_shell(command, -1, -1, &pid) != 0) return -1;
  int status = 0;
  if (wait_child(pid, &status) < 0) return -1;
  return status;
}

int RealHost::open_command(const char* command, CommandStream& out) {
  out = CommandStream();
  int fds[2];
  if (!command || pipe2(fds, O_CLOEXEC) != 0) return -1;
  // SIGCHLD stays blocked until the command is reaped in close_command.
  hold_child_signal();
  fflush(stdout);
  pid_t pid;
  if (spawn_shell(command, fds[1], fds[0], &pid) != 0) {
    close(fds[0]);
    close(fds[1]);
    release_child_signal();
    return -1;
  }
  close(fds[1]);
  stream_from_pipe(out, fds[0], pid);
  return 0;
}

int RealHost::close_command(CommandStream& out) {
  if (stream_fd(out) < 0) return -1;
  close(stream_fd(out));
  int status = -1;
  if (wait_child(stream_pid(out), &status) < 0) status = -1;
  stream_closed(out);
  release_child_signal();
  return status;
}

void RealHost::sleep(unsigned seconds) { wait_ms(static_cast<int64_t>(seconds) * 1000); }

time_t RealHost::now() { return time(nullptr); }

long RealHost::uptime() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return info.uptime;
}

int RealHost::kill(pid_t pid, int sig) { return ::kill(pid, sig); }

pid_t RealHost::fork() {
  fflush(stdout);
  return ::fork();
}

void RealHost::out(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
}

void RealHost::err(const char* text) {
  fputs(text, stderr);
  fflush(stderr);
}

namespace {
const char* g_log_ident = nullptr;
int g_log_options = 0;
}  // namespace

void RealHost::open_log(const char* ident, int options) {
  g_log_ident = ident;
  g_log_options = options;
  // Priorities 0 to 6 only: every debug message is dropped by syslog itself.
  setlogmask(LOG_UPTO(LOG_INFO));
  openlog(ident, options, LOG_USER);
}

void RealHost::reopen_log() {
  closelog();
  if (g_log_ident) openlog(g_log_ident, g_log_options, LOG_USER);
}

void RealHost::log(int priority, const char* text) { syslog(priority, "%s", text); }

int RealHost::resolve(const char* name, Resolved& out) {
  hostent* he = gethostbyname(name);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) return he ? NO_ADDRESS : h_errno;
  memcpy(&out.addr, he->h_addr_list[0], sizeof(out.addr));
  copy_text(out.official, sizeof(out.official), he->h_name);
  return 0;
}

Host& real_host() {
  static RealHost h;
  return h;
}
