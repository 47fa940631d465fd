// The daemon frame with real processes: test_daemon (common/testing) runs
// the frame; this test is its subreaper, so it collects the daemon's status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/testing/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

class DaemonFrame : public ::testing::Test {
 protected:
  DaemonFrame() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    char tmpl[] = "/tmp/daemontest.XXXXXX";
    dir = mkdtemp(tmpl);
    pid_file = dir + "/test.pid";
    marker = dir + "/marker";
  }
  ~DaemonFrame() override {
    if (daemon_pid > 0) {
      kill(daemon_pid, SIGKILL);
      waitpid(daemon_pid, nullptr, 0);
    }
    std::string cmd = "rm -rf " + dir;
    EXPECT_EQ(0, system(cmd.c_str()));
  }

  // Starts the daemon; returns the exit status of the process started.
  int start(const std::string& mode) {
    pid_t pid = fork();
    if (pid == 0) {
      execl(TEST_DAEMON, "test_daemon", pid_file.c_str(), mode.c_str(), marker.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }

  // Reads the daemon's pid from its file once the marker says it is ready.
  void await_ready() {
    for (int i = 0; i < 500 && slurp(marker).find("ready") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(std::string::npos, slurp(marker).find("ready"));
    daemon_pid = std::stoi(slurp(pid_file));
  }

  // Waits for the daemon to end; its exit status, and the time it took.
  int collect(double* seconds = nullptr) {
    auto t0 = Clock::now();
    int status = 0;
    EXPECT_EQ(daemon_pid, waitpid(daemon_pid, &status, 0));
    daemon_pid = -1;
    if (seconds) *seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return status;
  }

  std::string dir, pid_file, marker;
  pid_t daemon_pid = -1;
};

}  // namespace

TEST_F(DaemonFrame, PidFileHoldsTheDaemonsPidAndALineFeedWithMode0600) {
  ASSERT_EQ(0, start("sleep"));
  await_ready();
  std::string text = slurp(pid_file);
  EXPECT_EQ(std::to_string(daemon_pid) + "\n", text);
  struct stat st;
  ASSERT_EQ(0, stat(pid_file.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  // The daemon is the child, detached into a session of its own.
  EXPECT_EQ(daemon_pid, getsid(daemon_pid));
}

TEST_F(DaemonFrame, SecondStartAndStalePidFileBothEndWithStatusOne) {
  ASSERT_EQ(0, start("sleep"));
  await_ready();
  int second = start("sleep");
  EXPECT_TRUE(WIFEXITED(second));
  EXPECT_EQ(1, WEXITSTATUS(second));
  kill(daemon_pid, SIGKILL);
  collect();
  ASSERT_TRUE(exists(pid_file));  // left behind by SIGKILL
  int stale = start("sleep");
  EXPECT_EQ(1, WEXITSTATUS(stale));
}

TEST_F(DaemonFrame, TermAndIntRemoveThePidFileInOrderAndExitZero) {
  for (int sig : {SIGTERM, SIGINT}) {
    ASSERT_EQ(0, start("sleep"));
    await_ready();
    kill(daemon_pid, sig);
    int status = collect();
    EXPECT_TRUE(WIFEXITED(status)) << sig;
    EXPECT_EQ(0, WEXITSTATUS(status)) << sig;
    EXPECT_FALSE(exists(pid_file)) << sig;
    EXPECT_EQ("ready\nbefore: pid file closed\nafter: pid file removed\n", slurp(marker)) << sig;
    unlink(marker.c_str());
  }
}

TEST_F(DaemonFrame, QuitExitsZeroAndSegvExitsOneBothLeavingThePidFile) {
  ASSERT_EQ(0, start("sleep"));
  await_ready();
  kill(daemon_pid, SIGQUIT);
  int status = collect();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(exists(pid_file));
  EXPECT_EQ("ready\n", slurp(marker));

  unlink(pid_file.c_str());
  unlink(marker.c_str());
  ASSERT_EQ(0, start("sleep"));
  await_ready();
  kill(daemon_pid, SIGSEGV);
  status = collect();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_TRUE(exists(pid_file));
}

TEST_F(DaemonFrame, PidFileThatCannotBeWrittenEndsTheDaemonAndGoesWithStatusOne) {
  int out[2];
  ASSERT_EQ(0, pipe(out));
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    // No byte fits in any file: the pid's write fails (EFBIG, SIGXFSZ ignored).
    signal(SIGXFSZ, SIG_IGN);
    rlimit none = {0, 0};
    setrlimit(RLIMIT_FSIZE, &none);
    execl(TEST_DAEMON, "test_daemon", pid_file.c_str(), "sleep", marker.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string printed;
  char buf[64];
  for (ssize_t n; (n = read(out[0], buf, sizeof(buf))) > 0;) printed.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_FALSE(exists(pid_file));
  // The daemon it had started is gone with it.
  ASSERT_EQ(0u, printed.rfind("Child process created: ", 0)) << printed;
  pid_t child = atoi(printed.c_str() + 23);
  ASSERT_GT(child, 0);
  EXPECT_EQ(-1, kill(child, 0));
  EXPECT_EQ(ESRCH, errno);
}

TEST_F(DaemonFrame, TermEndsEveryKindOfWaitWithinASecond) {
  for (const char* mode : {"sleep", "command", "socket"}) {
    unlink(marker.c_str());
    ASSERT_EQ(0, start(mode));
    await_ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(daemon_pid, SIGTERM);
    double seconds = 0;
    int status = collect(&seconds);
    EXPECT_EQ(0, WEXITSTATUS(status)) << mode;
    EXPECT_LT(seconds, 1.0) << mode;
    EXPECT_FALSE(exists(pid_file)) << mode;
  }
}

TEST_F(DaemonFrame, CommandStatusesAreRightWithTheReaperInstalled) {
  ASSERT_EQ(0, start("status"));
  await_ready();
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += std::to_string(7 << 8) + "\nread ok\n";
  EXPECT_EQ(expected + "ready\n", slurp(marker));
}

TEST_F(DaemonFrame, StartedByInitItStaysInTheForegroundWithDefaultSignals) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a pid namespace (unshare)";
  std::string cmd = "unshare --pid --fork sh -c '\"$0\" \"$1\" hold \"$2\"; echo \"status=$?\" >> \"$2\"' " +
                    std::string(TEST_DAEMON) + " " + pid_file + " " + marker;
  int rc = system(cmd.c_str());
  if (WEXITSTATUS(rc) != 0 && slurp(marker).empty()) GTEST_SKIP() << "unshare --pid is not available here";
  // The shell is pid 1 of the namespace: no fork, the pid file stays empty
  // and locked, and SIGTERM ends the process by its default action.
  EXPECT_EQ("ppid=1\nlocked\nstatus=143\n", slurp(marker));
  EXPECT_EQ("", slurp(pid_file));
}

TEST_F(DaemonFrame, APidFileThatIsALinkIsNeverFollowedNorWrittenThrough) {
  // A link to a file that exists, and one to a file that does not yet.
  std::string victim = dir + "/victim";
  std::string absent = dir + "/absent";
  { std::ofstream(victim) << "keep me\n"; }
  for (const std::string& target : {victim, absent}) {
    SCOPED_TRACE(target);
    unlink(pid_file.c_str());
    ASSERT_EQ(0, symlink(target.c_str(), pid_file.c_str()));
    int status = start("sleep");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));  // as for a daemon that already runs
    char link[512] = {0};
    EXPECT_EQ(static_cast<ssize_t>(target.size()), readlink(pid_file.c_str(), link, sizeof(link) - 1));
    EXPECT_EQ(target, link);
  }
  EXPECT_EQ("keep me\n", slurp(victim));
  EXPECT_FALSE(exists(absent));
  EXPECT_EQ("", slurp(marker));  // no daemon came up
}

// What the frame says, at which level, and the state it leaves the daemon in.
TEST_F(DaemonFrame, FrameMessagesAndTheStateAfterDetaching) {
  ASSERT_EQ(0, start("state"));
  await_ready();
  EXPECT_EQ("umask=027 cwd=/tmp fd0=/dev/null fd1=/dev/null fd2=/dev/null sigpipe=ignored\nready\n", slurp(marker));
  kill(daemon_pid, SIGTERM);
  collect();
  EXPECT_EQ(
      "6 Initializing signal handlers\n6 Handler for termination caught signal 15\n6 Resource cleared\n"
      "6 Exiting...\n",
      slurp(marker + ".log"));

  // The watchdog's frame is quiet: the same messages at debug level, the
  // child's pid logged instead of printed.
  unlink((marker + ".log").c_str());
  unlink(marker.c_str());
  ASSERT_EQ(0, start("quiet"));
  await_ready();
  kill(daemon_pid, SIGTERM);
  pid_t was = daemon_pid;
  collect();
  EXPECT_EQ("7 Initializing signal handlers\n7 Child process created: " + std::to_string(was) +
                "\n\n7 Handler for termination caught signal 15\n7 Resource cleared\n6 Exiting...\n",
            slurp(marker + ".log"));
}
