// A small daemon built on the frame, for the frame's tests with real
// processes: test_daemon <pid file> <mode> <marker file>
//   sleep     sleeps for ten minutes
//   command   waits ten minutes for a shell command
//   socket    waits on a socket that never gets data
//   status    with the SIGCHLD reaper: runs commands and writes their statuses
//   hold      for the parent-is-init case: reports and then SIGTERMs itself
// The clean-up appends "before" and "after" to the marker file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/daemon.h"
#include "common/host.h"
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

void before_removal() { mark("before\n"); }
void after_removal() { mark("after\n"); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* mode = argv[2];
  g_marker = argv[3];
  static DaemonTraits traits = {argv[1], "Test Already up and Running", strcmp(mode, "status") == 0, false,
                            before_removal, after_removal, "test_daemon", 0, false};
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
