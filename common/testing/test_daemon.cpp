// A small daemon built on the frame, for the frame's tests with real
// processes: test_daemon <pid file> <mode> <marker file>
//   sleep     sleeps for ten minutes
//   command   waits ten minutes for a shell command
//   socket    waits on a socket that never gets data
//   status    with the SIGCHLD reaper: runs commands and writes their statuses
//   hold      for the parent-is-init case: reports and then SIGTERMs itself
// The clean-up notes, before and after the pid file's removal, where the
// pid file stands (closed, removed) in the marker file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/daemon.h"
#include "common/host.h"
#include "common/profile.h"
#include "common/runner.h"
#include "common/signals.h"

namespace {

const char* g_marker = nullptr;

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
  g_pid_file = argv[1];
  static const ProgramProfile row = {.name = "test_daemon"};
  set_profile(row);
  static DaemonTraits traits = {
      .pid_file = argv[1],
      .already_running = "Test Already up and Running",
      .child_reaper = strcmp(mode, "status") == 0,
      .before_pid_removal = before_removal,
      .after_pid_removal = after_removal,
      .log_ident = "test_daemon",
      .log_options = 0,
  };
  daemonize("/tmp/", traits);

  if (strcmp(mode, "sleep") == 0) {
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
