// clientscout, ifcounter and the watchdog on the simulated node of
// tests/daemon_node.h, stopped in the middle of their work (a dashboard
// that never answers, a command that never ends) and started on a /tmp
// that is read-only or full. A termination signal ends each daemon at once
// with its clean-up; a daemon whose pid file cannot be made or written does
// not run at all, since nothing could find or stop it through that file.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/program_paths.h"
#include "common/testing/private_tmp.h"
#include "tests/daemon_node.h"

using namespace daemon_node;

namespace {

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Node);

// Pids of the processes whose kernel name (15 characters at most) is comm.
std::vector<pid_t> processes_named(const std::string& comm) {
  std::vector<pid_t> out;
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  while (dirent* e = readdir(proc)) {
    pid_t pid = atoi(e->d_name);
    if (pid <= 0) continue;
    std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    size_t open = stat.find('(');
    size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    // A zombie has ended; only its parent's reaping is left.
    if (stat.substr(open + 1, close - open - 1) == comm.substr(0, 15) && stat.compare(close + 2, 1, "Z") != 0) {
      out.push_back(pid);
    }
  }
  closedir(proc);
  return out;
}

struct Daemon {
  const char* name;
  std::string binary;
  std::string pid_file;
};

const std::vector<Daemon>& all_daemons() {
  static const std::vector<Daemon> d = {{"clientscout_stand_in", CLIENTSCOUT_STAND_IN, "/tmp/clientscout.pid"},
                                        {"ifcounter", program_path(IFCOUNTER, "ifcounter"), "/tmp/netstat.pid"},
                                        {"watchdog", program_path(WATCHDOG, "watchdog"), "/tmp/.watchdog.pid"}};
  return d;
}

class DaemonFaults : public Daemons {
 protected:
  // SIGTERM; the daemon must end with status 0 within a second.
  void expect_prompt_end(pid_t pid) {
    auto t0 = Clock::now();
    EXPECT_EQ(0, terminate(pid));
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
  }
  void reporting_node() {
    uci("wireless.pub.disabled", "0");
    uci("wireless.pub.hidden", "0");
    uci("wireless.priv.disabled", "1");
    uci("dashboard.remote.host", "dash.test");
    uci("dashboard.remote.cupath", "/stats.php");
    uci("node.status.mode", "repeater");
  }
};

}  // namespace

TEST_F(DaemonFaults, ReportersStoppedWhileTheDashboardNeverAnswersEndAtOnce) {
  reporting_node();
  dashboard.script(ServerReply::never());
  size_t requests = 0;
  for (const Daemon& d : {all_daemons()[0], all_daemons()[1]}) {
    SCOPED_TRACE(d.name);
    pid_t pid = start(d.binary, d.pid_file);
    ASSERT_GT(pid, 0);
    // The request is in: the reporter waits for the reply (30 s at most).
    ASSERT_NE("", dashboard.request(requests++));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    expect_prompt_end(pid);
    EXPECT_FALSE(exists(d.pid_file));
  }
  EXPECT_FALSE(exists("/tmp/.clients"));
}

TEST_F(DaemonFaults, WatchdogStoppedWhileTheNatListingNeverEndsEndsAtOnce) {
  // "iptables -t nat -L" reads the listing from a pipe that nobody writes.
  const std::string nat = kNode + "/nat";
  ASSERT_EQ(0, mkfifo(nat.c_str(), 0644));
  pid_t pid = start(WATCHDOG_FAST, "/tmp/.watchdog.pid", {"NODE_FAST_CYCLES=100"});
  ASSERT_GT(pid, 0);
  // The three daemons are started just before the listing is read.
  ASSERT_TRUE(await([] { return count(started(), "/usr/bin/ifcounter ") == 1; })) << slurp(kNode + "/started");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  expect_prompt_end(pid);
  EXPECT_FALSE(exists("/tmp/.watchdog.pid"));

  // The listing command was left to itself; let it end.
  int writer = open(nat.c_str(), O_WRONLY | O_NONBLOCK);
  EXPECT_GE(writer, 0);
  if (writer >= 0) close(writer);
  EXPECT_TRUE(await([] { return processes_named("iptables").empty(); }));
  EXPECT_EQ(0, count(started(), "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"));
  unlink(nat.c_str());
}

TEST_F(DaemonFaults, WatchdogStoppedWhileTheDashboardNeverAnswersEndsAtOnce) {
  reporting_node();
  write_file(kNode + "/nat", "Chain POSTROUTING (policy ACCEPT)\nMASQUERADE  all  --  anywhere  anywhere\n");
  dashboard.script(ServerReply::never());
  pid_t pid = start(WATCHDOG_FAST, "/tmp/.watchdog.pid", {"NODE_FAST_CYCLES=100"});
  ASSERT_GT(pid, 0);
  ASSERT_EQ(0u, dashboard.request(0).find("POST /serverping.php?fw=QX HTTP/1.0\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  expect_prompt_end(pid);
  EXPECT_FALSE(exists("/tmp/.watchdog.pid"));
  EXPECT_EQ(0, count(started(), "/usr/bin/lonely "));
}

TEST_F(DaemonFaults, OnAReadOnlyTmpNoDaemonRuns) {
  ASSERT_EQ(0, mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr));
  for (const Daemon& d : all_daemons()) {
    SCOPED_TRACE(d.name);
    ProgramRun r = run_program({d.binary});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(exists(d.pid_file));
    EXPECT_TRUE(processes_named(d.name).empty());
  }
  ASSERT_EQ(0, mount(nullptr, "/tmp", nullptr, MS_REMOUNT, nullptr));
}

TEST_F(DaemonFaults, OnAFullTmpNoDaemonRunsAndNoPidFileIsLeft) {
  for (const Daemon& d : all_daemons()) {
    SCOPED_TRACE(d.name);
    // A small /tmp of its own over the node's, filled to the last byte.
    ASSERT_TRUE(mount_private_tmp("size=16k,mode=1777"));
    int fd = open("/tmp/filler", O_WRONLY | O_CREAT, 0644);
    std::string block(4096, 'f');
    while (fd >= 0 && write(fd, block.data(), block.size()) > 0) {
    }
    while (fd >= 0 && write(fd, "f", 1) > 0) {
    }
    if (fd >= 0) close(fd);

    ProgramRun r = run_program({d.binary});
    EXPECT_EQ(1, r.status);
    EXPECT_FALSE(exists(d.pid_file));
    EXPECT_TRUE(await([&] { return processes_named(d.name).empty(); }, 5)) << d.name << " runs on";
    for (pid_t pid : processes_named(d.name)) kill(pid, SIGKILL);
    ASSERT_EQ(0, umount2("/tmp", MNT_DETACH));
  }
}
