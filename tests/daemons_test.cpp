// clientscout, ifcounter and the watchdog as real daemons on the simulated
// node of tests/daemon_node.h.
//
// The kernel here has no nl80211, so clientscout itself can only show how it
// ends without it; its cycle runs in clientscout_stand_in, the product code
// with a stand-in station dump. The *_fast builds are the products with
// instant pauses: they report their peak memory after ten cycles (the
// benchmark; the numbers are printed).
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/socket.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/program_paths.h"
#include "common/build_config.h"
#include "tests/daemon_node.h"

using namespace daemon_node;

namespace {

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Node);

const char kEncodedMac[] = "MDI6MDA6MDA6MDA6MDA6MDE=";  // 02:00:00:00:00:01

bool kernel_has_nl80211() {
  nl_sock* sock = nl_socket_alloc();
  if (!sock) return false;
  bool found = genl_connect(sock) == 0 && genl_ctrl_resolve(sock, "nl80211") >= 0;
  nl_socket_free(sock);
  return found;
}

void print_memory(const std::string& what, long kb) {
  printf("[   INFO   ] peak resident memory (VmHWM) of %s: %ld kB\n", what.c_str(), kb);
  fflush(stdout);
}

}  // namespace

TEST_F(Daemons, ClientscoutWithoutNl80211EndsWithStatusOne) {
  if (kernel_has_nl80211()) GTEST_SKIP() << "this kernel has nl80211; the stand-in tests cover the cycle";
  // As a daemon: the frame's parent ends well, the daemon itself with 1,
  // leaving its pid file (only a termination signal removes it).
  pid_t pid = start(program_path(CLIENTSCOUT, "clientscout"), "/tmp/clientscout.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(1, g_reaper.status(pid, Millis(5000)));
  EXPECT_EQ(std::to_string(pid) + "\n", slurp("/tmp/clientscout.pid"));
  EXPECT_EQ(0u, dashboard.connections());
  unlink("/tmp/clientscout.pid");

  // Started by init, it stays in the foreground and says why it ends: run
  // it as the child of pid 1 of a pid namespace of its own.
  ProgramRun r =
      run_program({"/usr/bin/unshare", "--pid", "--fork", "/bin/sh", "-c", "\"$0\"; echo \"status $?\"", program_path(CLIENTSCOUT, "clientscout")});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("Failed to initialize the nl80211\nstatus 1\n", r.out);
  EXPECT_EQ("", slurp("/tmp/clientscout.pid"));  // created, never written
}

TEST_F(Daemons, ClientscoutReportsItsClientsAndCleansUp) {
  uci("wireless.pub.disabled", "0");
  uci("wireless.pub.hidden", "0");
  uci("wireless.priv.disabled", "1");
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\nthanks"));
  pid_t pid = start(CLIENTSCOUT_STAND_IN, "/tmp/clientscout.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(std::string("POST /client.php HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 193\r\n\r\nid=" + kEncodedMac +
                "&data=bWFjPTAwOjExOjIyOjMzOjQ0OjU1O3J4PTUxMjt0eD0zMDA7Y3RpbWU9NTtyc3NpPS01Mjt0eGJpdHJhdGU9NjUuMCBNQml0"
                "L3MgTUNTIDd8Cm1hYz02Njo3Nzo4ODo5OTphYTpiYjtyeD05MDAwO3R4PTQwMDAK",
            dashboard.request(0));
  EXPECT_EQ(
      "mac=00:11:22:33:44:55;rx=512;tx=300;ctime=5;rssi=-52;txbitrate=65.0 MBit/s MCS 7|\n"
      "mac=66:77:88:99:aa:bb;rx=9000;tx=4000\n",
      slurp("/tmp/.clients"));
  print_memory("clientscout (stand-in dump) after its first cycle",
               vm_hwm(slurp("/proc/" + std::to_string(pid) + "/status")));
  EXPECT_EQ(0, terminate(pid));
  EXPECT_FALSE(exists("/tmp/clientscout.pid"));
  EXPECT_FALSE(exists("/tmp/.clients"));
}

TEST_F(Daemons, IfcounterReportsTheUplinkAndCleansUp) {
  uci("dashboard.remote.host", "dash.test");
  uci("dashboard.remote.cupath", "/stats.php");
  write_file(kNode + "/batctl_gw", "server (announced bandwidth: 10.0/2.0 MBit)\n");
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#ok"));
  pid_t pid = start(program_path(IFCOUNTER, "ifcounter"), "/tmp/netstat.pid");
  ASSERT_GT(pid, 0);
  // The first report after start-up carries zeros: it only takes the readings.
  EXPECT_EQ(std::string("POST /stats.php?mac=") + kEncodedMac +
                "&data=cnhiPTAmdHhiPTAmcnhwPTAmdHhwPTA=  HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: dash.test\r\n\r\n",
            dashboard.request(0));
  print_memory("ifcounter after its first cycle", vm_hwm(slurp("/proc/" + std::to_string(pid) + "/status")));
  EXPECT_EQ(0, terminate(pid));
  EXPECT_FALSE(exists("/tmp/netstat.pid"));
}

TEST_F(Daemons, WatchdogStartsWaitsAndStopsCleanly) {
  pid_t pid = start(program_path(WATCHDOG, "watchdog"), "/tmp/.watchdog.pid");
  ASSERT_GT(pid, 0);
  // The first minute is the start-up wait: sleeping, nothing started yet.
  usleep(300000);
  std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  EXPECT_NE(std::string::npos, stat.find("(watchdog) S ")) << stat;
  EXPECT_EQ(0, terminate(pid));
  EXPECT_FALSE(exists("/tmp/.watchdog.pid"));
  EXPECT_TRUE(started().empty());
  EXPECT_EQ(0u, dashboard.connections());
}

TEST_F(Daemons, TenCyclesOfEachDaemon) {
  uci("wireless.pub.disabled", "0");
  uci("wireless.pub.hidden", "0");
  uci("wireless.priv.disabled", "0");
  uci("wireless.priv.hidden", "0");
  uci("dashboard.remote.host", "dash.test");
  uci("dashboard.remote.cupath", "/stats.php");
  uci("node.status.mode", "repeater");
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#Failed\n"));

  long clientscout_kb = ten_cycles(CLIENTSCOUT_STAND_IN, "/tmp/clientscout.pid");
  EXPECT_EQ(10u, dashboard.connections());
  EXPECT_EQ(0u, dashboard.request(9).find("POST /client.php HTTP/1.0\r\n"));
  EXPECT_FALSE(exists("/tmp/.clients"));

  long ifcounter_kb = ten_cycles(IFCOUNTER_FAST, "/tmp/netstat.pid");
  EXPECT_EQ(20u, dashboard.connections());
  EXPECT_EQ(0u, dashboard.request(19).find("POST /stats.php?mac="));

  long watchdog_kb = ten_cycles(WATCHDOG_FAST, "/tmp/.watchdog.pid");
  EXPECT_EQ(30u, dashboard.connections());
  EXPECT_EQ(0u, dashboard.request(29).find("POST /serverping.php?fw=QX HTTP/1.0\r\n"));
  // Each pass found the three daemons missing, the NAT rule absent and the
  // dashboard saying "Failed" to a repeater; mesh0 and memory were fine.
  // The last lonely runs in the background and may still be writing.
  auto t0 = Clock::now();
  while (started().size() < 50 && Clock::now() - t0 < std::chrono::seconds(5)) usleep(10000);
  std::vector<std::string> lines = started();
  EXPECT_EQ(10, count(lines, "/usr/bin/fleetlink_supervisor "));
  EXPECT_EQ(10, count(lines, "/usr/bin/clientscout "));
  EXPECT_EQ(10, count(lines, "/usr/bin/ifcounter "));
  EXPECT_EQ(10, count(lines, "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"));
  EXPECT_EQ(10, count(lines, "/usr/bin/lonely "));
  EXPECT_EQ(0, count(lines, "/sbin/do_reboot "));
  EXPECT_EQ(50u, lines.size());

  print_memory("clientscout (stand-in dump) after ten cycles", clientscout_kb);
  print_memory("ifcounter after ten cycles", ifcounter_kb);
  print_memory("watchdog after ten passes", watchdog_kb);
}
