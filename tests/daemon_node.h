// The simulated node of the daemons' program tests: clientscout, ifcounter
// and the watchdog as real daemons. The test takes pid, mount and network
// namespaces of its own: a private /proc (the watchdog sees only this
// test's processes), /tmp on a tmpfs (the daemons' pid files and lists),
// veth pairs named eth0 (MAC 02:00:00:00:00:01) and mesh0 with their sysfs
// counters, /etc/hosts naming the dashboard 127.0.0.1, where the scripted
// dashboard listens on port 80, and stand-ins for uci, batctl, iptables,
// do_reboot and the daemons the watchdog starts, laid over /usr/bin and
// /usr/sbin with overlay mounts. This process is the namespace's
// subreaper, so it collects each daemon's exit status. Needs root.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/testing/test_files.h"

namespace daemon_node {

using Clock = std::chrono::steady_clock;

extern const std::string kNode;  // the stand-ins' answers and what they were asked
// Why the node could not be made ("" once it is ready).
extern std::string g_skip_reason;

int exit_code(int status);

// Collects the exit status of every child and orphan of this process.
class Reaper {
 public:
  void start();
  // The exit code of pid (128 + signal when killed), waiting up to `wait`;
  // -1 when it has not ended by then.
  int status(pid_t pid, Millis wait);

 private:
  void loop();
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<pid_t, int> codes_;
};
extern Reaper g_reaper;

// Runs every test in pid 2 of a pid namespace of its own: pid 1 only reaps
// and ends with the tests' status; the first process waits for it. Each
// test program registers it (::testing::AddGlobalTestEnvironment).
class Node : public ::testing::Environment {
 public:
  void SetUp() override;
};

// Peak resident memory of a process in kB, from its status file.
long vm_hwm(const std::string& status_text);

struct ProgramRun {
  int status = -1;
  std::string out;
};

// Runs a program with the node's PATH and the given extra environment,
// reading its standard output until it and everything holding the pipe
// have let go (a daemon's frame closes it at once).
ProgramRun run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

class Daemons : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
    for (const char* f : {"/tmp/clientscout.pid", "/tmp/netstat.pid", "/tmp/.watchdog.pid", "/tmp/.clients"}) {
      unlink(f);
    }
    unlink((kNode + "/started").c_str());
    unlink((kNode + "/nat").c_str());
    unlink((kNode + "/batctl_gw").c_str());
    ASSERT_EQ("", dashboard.error());
  }
  void TearDown() override {
    for (pid_t pid : daemons_) {
      if (pid > 1 && kill(pid, SIGKILL) == 0) g_reaper.status(pid, Millis(5000));
    }
  }

  void uci(const std::string& key, const std::string& value) { write_file(kNode + "/uci/" + key, value + "\n"); }

  // Starts a daemon; checks that the frame's parent ended well, said the
  // daemon's pid (the watchdog logs it instead) and wrote it into the pid
  // file, and returns that pid (0 when there is none).
  pid_t start(const std::string& binary, const std::string& pid_file, const std::vector<std::string>& env = {}) {
    ProgramRun r = run_program({binary}, env);
    EXPECT_EQ(0, r.status);
    std::string written = slurp(pid_file);
    pid_t pid = atoi(written.c_str());
    EXPECT_GT(pid, 1) << written;
    EXPECT_EQ(std::to_string(pid) + "\n", written);
    bool quiet = pid_file == "/tmp/.watchdog.pid";
    EXPECT_EQ(quiet ? "" : "Child process created: " + std::to_string(pid) + "\n", r.out);
    if (pid <= 1) return 0;
    daemons_.push_back(pid);
    return pid;
  }
  // SIGTERM, then the daemon's exit code (-1: still running after 5 s).
  int terminate(pid_t pid) {
    if (pid <= 1) return -1;  // never the process group, never init
    kill(pid, SIGTERM);
    return g_reaper.status(pid, Millis(5000));
  }
  static std::vector<std::string> started() {
    std::vector<std::string> lines;
    std::istringstream in(slurp(kNode + "/started"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static int count(const std::vector<std::string>& lines, const std::string& line) {
    int n = 0;
    for (const std::string& l : lines) n += l == line;
    return n;
  }
  // Runs a fast build for ten cycles and returns the peak memory it reported.
  long ten_cycles(const std::string& binary, const std::string& pid_file) {
    const std::string report = kNode + "/memory";
    unlink(report.c_str());
    pid_t pid = start(binary, pid_file, {"NODE_FAST_CYCLES=10", "NODE_FAST_REPORT=" + report});
    // The tenth pause ends the daemon through its own SIGTERM clean-up.
    if (pid > 0) {
      EXPECT_EQ(0, g_reaper.status(pid, Millis(60000)));
    }
    EXPECT_FALSE(exists(pid_file));
    long kb = vm_hwm(slurp(report));
    EXPECT_GT(kb, 0) << slurp(report);
    return kb;
  }

  ScriptedServer dashboard{"127.0.0.1", 80};

 private:
  std::vector<pid_t> daemons_;
};

}  // namespace daemon_node
