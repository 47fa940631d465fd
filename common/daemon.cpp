#include "common/daemon.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/signals.h"

namespace {

const DaemonTraits* g_daemon = nullptr;
int g_pid_fd = -1;
volatile sig_atomic_t g_last_reaped = 0;

int frame_priority() { return g_daemon && g_daemon->quiet ? LOG_DEBUG : LOG_INFO; }

void install(int sig, const struct sigaction& sa, int fail_priority) {
  if (sigaction(sig, &sa, nullptr) == 0) return;
  log_printf(fail_priority, "sigaction(): %s", strerror(errno));
  exit(1);
}

void install_handlers(const DaemonTraits& traits) {
  const int kAuthEmergency = LOG_AUTH | LOG_EMERG;  // priority value 32
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sigemptyset(&sa.sa_mask);
  if (traits.child_reaper) {
    sa.sa_handler = on_child_exit;
    sa.sa_flags = SA_RESTART;
    install(SIGCHLD, sa, kAuthEmergency);
  }
  sa.sa_handler = SIG_IGN;
  sa.sa_flags = traits.child_reaper ? SA_RESTART : 0;
  install(SIGPIPE, sa, kAuthEmergency);
  // No SA_RESTART: a termination signal must end the wait it interrupts.
  sa.sa_handler = on_terminate;
  sa.sa_flags = 0;
  install(SIGTERM, sa, kAuthEmergency);
  install(SIGQUIT, sa, kAuthEmergency);
  install(SIGINT, sa, kAuthEmergency);
  struct sigaction fault;
  memset(&fault, 0, sizeof(fault));
  sigemptyset(&fault.sa_mask);
  fault.sa_sigaction = on_fault;
  fault.sa_flags = SA_SIGINFO;
  install(SIGSEGV, fault, LOG_DEBUG);
}

void detach(const char* working_dir) {
  close(g_pid_fd);
  g_pid_fd = -1;  // the number may be reused; the clean-up must not close it
  umask(027);
  if (setsid() < 0) exit(1);
  // The log's socket is closed below; reconnect it later rather than let
  // log lines go into whatever descriptor takes its number.
  host().reopen_log();
  for (int fd = getdtablesize(); fd >= 0; --fd) close(fd);
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup(null_fd);
    dup(null_fd);
  }
  if (chdir(working_dir) != 0) {
    // The frame goes on; files are opened by absolute path.
  }
}

}  // namespace

void daemonize(const char* working_dir, const DaemonTraits& traits) {
  g_daemon = &traits;
  g_pid_fd = host_open(traits.pid_file, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (g_pid_fd < 0 || lockf(g_pid_fd, F_TLOCK, 0) != 0) {
    log_printf(LOG_INFO, "%s", traits.already_running);
    exit(1);
  }
  // Started by init: already a daemon. Nothing is installed, the pid file
  // stays empty, open and locked.
  if (getppid() == 1) return;

  log_printf(frame_priority(), "Initializing signal handlers");
  install_handlers(traits);
  start_termination_handling(terminate_daemon);

  pid_t pid = fork();
  if (pid < 0) exit(1);
  if (pid > 0) {
    if (traits.quiet) {
      log_printf(LOG_DEBUG, "Child process created: %d\n", pid);
    } else {
      out_printf("Child process created: %d\n", pid);
    }
    char text[16];
    int n = snprintf(text, sizeof(text), "%d\n", pid);
    if (write(g_pid_fd, text, static_cast<size_t>(n)) != n) {
      // A full /tmp: a daemon nobody can find or stop through its pid file
      // must not run, and the empty file would block every later start.
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      host_unlink(traits.pid_file);
      exit(1);
    }
    exit(0);
  }
  detach(working_dir);
}

void start_daemon(const DaemonTraits& traits) {
  if (!traits.log_after_frame) host().open_log(traits.log_ident, traits.log_options);
  daemonize("/tmp/", traits);
  if (traits.log_after_frame) host().open_log(traits.log_ident, traits.log_options);
}

void on_child_exit(int sig) {
  (void)sig;
  // The reap is all a handler may safely do; its two debug messages would be
  // dropped by the log mask anyway.
  int saved = errno;
  int status;
  g_last_reaped = waitpid(-1, &status, WNOHANG);
  errno = saved;
}

void on_terminate(int sig) { note_termination_signal(sig); }

void on_fault(int sig, siginfo_t* info, void* context) {
  (void)sig;
  (void)info;
  (void)context;
  // Logging here could deadlock if the fault hit inside the C library, and
  // its debug messages are dropped by the log mask: end at once, leaving the
  // pid file behind.
  _exit(1);
}

void release_resources() {
  if (g_pid_fd >= 0) {
    close(g_pid_fd);
    g_pid_fd = -1;
  }
  if (g_daemon && g_daemon->before_pid_removal) g_daemon->before_pid_removal();
  if (g_daemon && host_unlink(g_daemon->pid_file) != 0) {
    log_printf(frame_priority(), "Failed to clean up the resources");
  } else {
    log_printf(frame_priority(), "Resource cleared");
  }
  if (g_daemon && g_daemon->after_pid_removal) g_daemon->after_pid_removal();
}

void terminate_daemon(int sig) {
  log_printf(frame_priority(), "Handler for termination caught signal %d", sig);
  if (sig == SIGINT || sig == SIGTERM) {
    release_resources();
  } else {
    log_printf(frame_priority(), "Unhandled Signal %s", strsignal(sig));
  }
  log_printf(LOG_INFO, "Exiting...");
  exit(0);
}
