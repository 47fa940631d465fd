// A small daemon built on the frame, for the frame's tests with real
// processes: test_daemon <pid file> <mode> <marker file>
//   sleep     sleeps for ten minutes
//   command   waits ten minutes for a shell command
//   socket    waits on a socket that never gets data
//   status    with the SIGCHLD reaper: runs commands and writes their statuses
//   hold      for the parent-is-init case: reports and then SIGTERMs itself
//   state     notes the state the frame left it in (umask, working folder,
//             descriptors 0 to 2, SIGPIPE), then sleeps
//   quiet     sleeps, with the frame's messages at debug level
// The clean-up notes, before and after the pid file's removal, where the
// pid file stands (closed, removed) in the marker file; every log line goes
// to "<marker file>.log" as "<priority> <text>".
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/daemon.h"
#include "common/host.h"
#include "common/profile.h"
#include "common/real_host.h"
#include "common/runner.h"
#include "common/signals.h"

namespace {

const char* g_marker = nullptr;
std::string g_log_file;

// The node's host, its log lines noted in a file.
class LogFileHost : public RealHost {
 public:
  void log(int priority, const char* text) override {
    FILE* f = fopen(g_log_file.c_str(), "a");
    if (!f) return;
    fprintf(f, "%d %s\n", priority, text);
    fclose(f);
  }
};

std::string link_of(const char* path) {
  char target[256];
  ssize_t n = readlink(path, target, sizeof(target) - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
}

// What the frame left the daemon with.
std::string frame_state() {
  mode_t mask = umask(0);
  umask(mask);
  char cwd[256] = "?";
  if (!getcwd(cwd, sizeof(cwd))) cwd[0] = '?';
  struct sigaction pipe_action;
  sigaction(SIGPIPE, nullptr, &pipe_action);
  char text[512];
  snprintf(text, sizeof(text), "umask=%03o cwd=%s fd0=%s fd1=%s fd2=%s sigpipe=%s\n", static_cast<unsigned>(mask), cwd,
           link_of("/proc/self/fd/0").c_str(), link_of("/proc/self/fd/1").c_str(), link_of("/proc/self/fd/2").c_str(),
           pipe_action.sa_handler == SIG_IGN ? "ignored" : "not ignored");
  return text;
}

void mark(const char* text) {
  FILE* f = fopen(g_marker, "a");
  if (!f) return;
  fputs(text, f);
  fclose(f);
}

const char* g_pid_file = nullptr;

// Where the clean-up stands: the pid file removed, present and still held
// open by this process, or present and closed.
const char* pid_file_state() {
  if (access(g_pid_file, F_OK) != 0) return "removed";
  char real[512];
  if (!realpath(g_pid_file, real)) return "unreadable";
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64];
    char target[512];
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof(target) - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (strcmp(target, real) == 0) return "open";
  }
  return "closed";
}

void before_removal() {
  mark("before: pid file ");
  mark(pid_file_state());
  mark("\n");
}
void after_removal() {
  mark("after: pid file ");
  mark(pid_file_state());
  mark("\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* mode = argv[2];
  g_marker = argv[3];
  g_log_file = std::string(argv[3]) + ".log";
  static LogFileHost log_host;
  set_host(&log_host);
  g_pid_file = argv[1];
  static const ProgramProfile row = {.name = "test_daemon"};
  set_profile(row);
  static DaemonTraits traits = {
      .pid_file = argv[1],
      .already_running = "Test Already up and Running",
      .child_reaper = strcmp(mode, "status") == 0,
      .quiet = strcmp(mode, "quiet") == 0,
      .before_pid_removal = before_removal,
      .after_pid_removal = after_removal,
      .log_ident = "test_daemon",
      .log_options = 0,
  };
  daemonize("/tmp/", traits);

  if (strcmp(mode, "sleep") == 0 || strcmp(mode, "quiet") == 0) {
    mark("ready\n");
    host().sleep(600);
  } else if (strcmp(mode, "state") == 0) {
    mark(frame_state().c_str());
    mark("ready\n");
    host().sleep(600);
  } else if (strcmp(mode, "command") == 0) {
    mark("ready\n");
    host().run("sleep 600");
  } else if (strcmp(mode, "socket") == 0) {
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    mark("ready\n");
    wait_fd(fds[0], POLLIN, -1);
  } else if (strcmp(mode, "status") == 0) {
    // Each status must be the command's own, with the reaper installed.
    for (int i = 0; i < 20; ++i) {
      char line[32];
      snprintf(line, sizeof(line), "%d\n", host().run("exit 7"));
      mark(line);
      FixedText<32> out;
      if (get_config("echo output", out) == 0) mark("read ok\n");
    }
    mark("ready\n");
    host().sleep(600);
  } else if (strcmp(mode, "hold") == 0) {
    char line[64];
    snprintf(line, sizeof(line), "ppid=%d\n", getppid());
    mark(line);
    pid_t child = fork();
    if (child == 0) {
      int fd = open(argv[1], O_RDWR);
      mark(lockf(fd, F_TEST, 0) != 0 ? "locked\n" : "unlocked\n");
      _exit(0);
    }
    int st;
    waitpid(child, &st, 0);
    kill(getpid(), SIGTERM);  // default disposition: ends the process
    pause();
  }
  return 0;
}
