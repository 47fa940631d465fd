#include "common/signals.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

namespace {

volatile sig_atomic_t g_signal = 0;
TerminationAction g_action = nullptr;
bool g_terminating = false;
int g_child_blocks = 0;

// The mask to wait with: the current one with the termination signals let in.
sigset_t wait_mask() {
  sigset_t m;
  sigprocmask(SIG_SETMASK, nullptr, &m);
  sigdelset(&m, SIGTERM);
  sigdelset(&m, SIGINT);
  sigdelset(&m, SIGQUIT);
  return m;
}

timespec to_timespec(int64_t ms) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ms / 1000);
  ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
  return ts;
}

}  // namespace

void start_termination_handling(TerminationAction action) {
  g_action = action;
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGQUIT);
  sigprocmask(SIG_BLOCK, &block, nullptr);
}

void note_termination_signal(int sig) {
  if (g_signal == 0) g_signal = sig;
}

bool terminating() { return g_terminating; }

void termination_point() {
  if (!g_action || g_terminating) return;
  // Let a pending signal in so that its handler records it.
  sigset_t m = wait_mask();
  timespec zero = {0, 0};
  ppoll(nullptr, 0, &zero, &m);
  int sig = g_signal;
  if (sig == 0) return;
  g_terminating = true;
  g_action(sig);
}

// 64 bits: a 32-bit long of milliseconds overflows after 24.8 days of uptime.
int64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int wait_fd(int fd, short events, int timeout_ms) {
  int64_t deadline = timeout_ms < 0 ? 0 : monotonic_ms() + timeout_ms;
  for (;;) {
    termination_point();
    pollfd p = {fd, events, 0};
    timespec ts;
    timespec* limit = nullptr;
    if (timeout_ms >= 0) {
      int64_t left = deadline - monotonic_ms();
      ts = to_timespec(left > 0 ? left : 0);
      limit = &ts;
    }
    sigset_t m = wait_mask();
    int r = ppoll(&p, 1, limit, &m);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

void wait_ms(int64_t ms) {
  int64_t deadline = monotonic_ms() + ms;
  for (;;) {
    termination_point();
    int64_t left = deadline - monotonic_ms();
    if (left <= 0) return;
    timespec ts = to_timespec(left);
    sigset_t m = wait_mask();
    ppoll(nullptr, 0, &ts, &m);
  }
}

pid_t wait_child(pid_t pid, int* status) {
  long pause = 1;
  for (;;) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) return r;
    if (r < 0 && errno != EINTR) return -1;
    termination_point();
    timespec ts = to_timespec(pause);
    sigset_t m = wait_mask();
    ppoll(nullptr, 0, &ts, &m);
    if (pause < 50) pause *= 2;
  }
}

ssize_t read_command_pipe(int fd, void* buf, size_t len) {
  for (;;) {
    if (wait_fd(fd, POLLIN, -1) < 0 && errno != EINTR) return -1;
    ssize_t r = read(fd, buf, len);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

void hold_child_signal() {
  if (g_child_blocks++ == 0) {
    sigset_t m;
    sigemptyset(&m);
    sigaddset(&m, SIGCHLD);
    sigprocmask(SIG_BLOCK, &m, nullptr);
  }
}

void release_child_signal() {
  if (g_child_blocks > 0 && --g_child_blocks == 0) {
    sigset_t m;
    sigemptyset(&m);
    sigaddset(&m, SIGCHLD);
    sigprocmask(SIG_UNBLOCK, &m, nullptr);
  }
}
