// The watchdog's checks on the fake host: memory, the mesh interface, the
// NAT rule, the zombie sweep, the Internet check against the scripted
// dashboard, and a whole pass in its order.
#include "watchdog/checks.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "common/testing/http_server.h"
#include "common/transport.h"
#include "watchdog/testing/watchdog_test.h"

namespace {

const char kReboot[] = "/sbin/do_reboot";
const char kMasquerade[] = "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE";
const char kNatList[] = "iptables -t nat -L";

class Checks : public WatchdogTest {
 protected:
  // mesh0 listed (1), missing (0), or the interfaces unreadable (-1).
  void set_mesh_link(int state) {
    kernel.links.erase("mesh0");
    if (state == 1) kernel.links["mesh0"] = FakeLink{};
    kernel.links_unreadable = state < 0;
  }
  void SetUp() override {
    fake.hosts[DASHBOARD_HOST] = "127.0.0.1";
    dashboard_link().port = dashboard.port();
  }
  ScriptedServer dashboard;
};

// A loopback port on which nobody listens: connections are refused at once.
class RefusedPort {
 public:
  RefusedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~RefusedPort() { close(fd_); }
  unsigned short port() const { return port_; }

 private:
  int fd_;
  unsigned short port_;
};

}  // namespace

TEST_F(Checks, LowMemoryIsOneToFiveHundredKilobytes) {
  const struct {
    const char* meminfo;  // nullptr: unreadable
    bool reboot;
  } cases[] = {
      {"MemTotal: 28000 kB\nMemFree: 500 kB\n", true},
      {"MemTotal: 28000 kB\nMemFree: 501 kB\n", false},
      {"MemFree: 1 kB\n", true},
      {"MemFree: 0 kB\n", false},
      {"MemTotal: 28000 kB\n", false},
      {nullptr, false},
  };
  idle_daemons();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.meminfo ? c.meminfo : "<none>");
    fake.events.clear();
    fake.logs.clear();
    fake.remove("/proc/meminfo");
    if (c.meminfo) fake.write("/proc/meminfo", c.meminfo);
    memory_test();
    EXPECT_EQ(c.reboot ? std::vector<std::string>{kReboot} : std::vector<std::string>{}, runs());
    EXPECT_EQ((std::vector<std::string>{"Running Memory Test...",
                                        c.reboot ? "Running on low memory- Reboot the device" : "  OK"}),
              logs());
  }
}

TEST_F(Checks, NoMeshInterfaceRequestsAReboot) {
  idle_daemons();
  const struct {
    int link;
    std::vector<std::string> logged;
    bool reboot;
  } cases[] = {
      {1, {"Running WiFi test...", " OK"}, false},
      {0, {"Running WiFi test...", "WiFi mesh is not enabled - Reboot device"}, true},
      {-1, {"getifaddrs"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    fake.events.clear();
    fake.logs.clear();
    set_mesh_link(c.link);
    wifi_test();
    EXPECT_EQ(c.logged, logs());
    EXPECT_EQ(c.reboot ? std::vector<std::string>{kReboot} : std::vector<std::string>{}, runs());
  }
  EXPECT_EQ(std::vector<std::string>(3, "listed mesh0"), kernel.asked);
}

TEST_F(Checks, TheMasqueradeRuleIsAddedUntilItShows) {
  const std::string head = "Chain POSTROUTING (policy ACCEPT)\ntarget     prot opt source               destination\n";
  const struct {
    std::string listing;
    bool added;
  } cases[] = {
      {head + "MASQUERADE  all  --  anywhere             anywhere\n", false},
      {head + "  MASQUERADE  all  --  anywhere\n", false},  // the first word after blanks
      {head, true},
      {"", true},
      {head + "MASQUERADEX all\nSNAT all -- MASQUERADE\n", true},
      // 510 characters and more of one line: its rest is no line of its own.
      {head + std::string(510, 'x') + "MASQUERADE all\n", true},
      {head + std::string(509, 'x') + "\nMASQUERADE all\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.listing.substr(head.size() < c.listing.size() ? head.size() : 0, 40));
    fake.events.clear();
    fake.logs.clear();
    fake.outputs[kNatList] = c.listing;
    check_masquerade();
    EXPECT_EQ(std::vector<std::string>{std::string("read ") + kNatList}, fake.trace("read "));
    EXPECT_EQ(c.added ? std::vector<std::string>{kMasquerade} : std::vector<std::string>{}, runs());
    EXPECT_EQ(std::vector<std::string>{c.added ? "setting upt MASQUERADING rule" : "MASQUERADING enabled"}, logs());
  }
}

TEST_F(Checks, EveryZombieGetsSigterm) {
  fake.add_process(10, "a", 'Z');
  fake.add_process(11, "b", 'S');
  fake.add_process(12, "sh", 'Z');
  fake.add_process(13, "c", 'D');
  clear_zombies();
  std::vector<std::pair<pid_t, int>> kills = fake.kills;
  std::sort(kills.begin(), kills.end());
  EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{10, SIGTERM}, {12, SIGTERM}}), kills);
  std::vector<std::string> logged = logs();
  ASSERT_EQ(5u, logged.size());
  EXPECT_EQ("Checking for Zombie process ....", logged[0]);
  std::vector<std::string> cleared = {logged[1], logged[2]};
  std::sort(cleared.begin(), cleared.end());
  EXPECT_EQ((std::vector<std::string>{"Clearing process: 10", "Clearing process: 12"}), cleared);
  EXPECT_EQ("2 zombie cleared", logged[3]);
  EXPECT_EQ(" OK", logged[4]);

  // None: no count.
  end_process(10);
  end_process(12);
  fake.logs.clear();
  clear_zombies();
  EXPECT_EQ((std::vector<std::string>{"Checking for Zombie process ....", " OK"}), logs());
}

TEST_F(Checks, AStatFileNamingAnotherPidGetsNoSignal) {
  // Fuzzing: a sweep took the pid from the stat text, and 0, -1 or a number
  // that wraps to -1 would signal the watchdog's group or every process.
  for (const char* pid : {"0", "-1", "4294967295", "18446744073709551615", "21"}) {
    SCOPED_TRACE(pid);
    fake.kills.clear();
    fake.logs.clear();
    fake.write("/proc/20/stat", std::string(pid) + " (defunct) Z 1 20 20 0 -1 4194560\n");
    clear_zombies();
    EXPECT_TRUE(fake.kills.empty());
    EXPECT_EQ((std::vector<std::string>{"Checking for Zombie process ....", "fscanf failed", " OK"}), logs());
  }
}

TEST_F(Checks, ARepeaterThatCannotReachTheDashboardStartsLonely) {
  const struct {
    const char* reply;
    const char* mode;  // nullptr: not set
    bool lonely;
    bool mode_read;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\n#@#Succeed\n", "repeater", false, false},
      {"HTTP/1.0 200 OK\r\n\r\n#@#Failed\n", "repeater", true, true},
      {"HTTP/1.0 200 OK\r\n\r\n#@#Failed\n", "gateway", false, true},
      {"HTTP/1.0 200 OK\r\n\r\n#@#Failed\n", nullptr, false, true},
      {"", "repeater", true, true},  // an empty reply is no "Succeed"
  };
  size_t i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(i);
    fake.events.clear();
    fake.logs.clear();
    fake.uci.clear();
    if (c.mode) fake.uci["node.status.mode"] = c.mode;
    dashboard.script(ServerReply::text(c.reply));
    internet_test();
    EXPECT_EQ(std::string("POST /serverping.php?fw=QX HTTP/1.0\r\nHost: ") + DASHBOARD_HOST +
                  "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n",
              dashboard.request(i++));
    EXPECT_EQ(c.lonely ? std::vector<std::string>{"/usr/bin/lonely &"} : std::vector<std::string>{}, runs());
    EXPECT_EQ(c.mode_read ? std::vector<std::string>{"read uci get node.status.mode"} : std::vector<std::string>{},
              fake.trace("read "));
    std::vector<std::string> logged = logs();
    EXPECT_EQ(std::string("Resolving Host: ") + DASHBOARD_HOST, logged.front());
    EXPECT_EQ(c.mode_read ? "Running failure check issue" : "Internet connection:ok", logged.back());
  }
}

// No connection is an outage of the dashboard or the uplink, which a search
// would not mend; but a repeater whose mesh DHCP client ended without a
// lease, or runs on without one, has lost its mesh, and only lonely's search
// finds it again. A client still running is ended first: lonely would end at
// once for a mesh client.
TEST_F(Checks, NoConnectionStartsLonelyOnlyOnARepeaterOffTheMesh) {
  RefusedPort refused;
  dashboard_link().port = refused.port();
  const struct {
    const char* mode;
    bool client;   // udhcpc runs, pid file 77
    bool address;  // br-meship holds its lease
    std::vector<std::string> kills;
    bool lonely;
  } cases[] = {
      {"repeater", true, true, {}, false},
      {"gateway", false, false, {}, false},
      {"repeater", false, false, {}, true},
      {"repeater", true, false, {"kill 77 " + std::to_string(SIGUSR2), "kill 77 " + std::to_string(SIGKILL)}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.client ? " with" : " without") + " client," +
                 (c.address ? " with" : " without") + " address");
    fake.events.clear();
    fake.logs.clear();
    fake.uci["node.status.mode"] = c.mode;
    fake.remove("/var/run/udhcpc-br-meship.pid");
    if (c.client) {
      fake.write("/var/run/udhcpc-br-meship.pid", "77\n");
      fake.add_process(77, "udhcpc", 'S');
    }
    kernel.links["br-meship"] = c.address ? FakeLink{.address = "10.7.8.162", .netmask = "255.255.252.0"} : FakeLink{};
    internet_test();
    EXPECT_EQ(c.lonely ? std::vector<std::string>{"/usr/bin/lonely &"} : std::vector<std::string>{}, runs());
    EXPECT_EQ(c.kills, fake.trace("kill "));
    EXPECT_EQ(c.lonely ? "Repeater without a mesh lease: searching for the mesh" : "Failed to connect to auth server",
              logs().back());
    EXPECT_EQ(c.client && !c.lonely, fake.exists("/var/run/udhcpc-br-meship.pid"));
  }
  EXPECT_EQ(0u, dashboard.connections());
}

TEST_F(Checks, APassRunsEveryCheckEvenAfterARebootRequest) {
  idle_daemons();
  set_mesh_link(0);
  fake.write("/proc/meminfo", "MemFree: 20000 kB\n");
  fake.outputs[kNatList] = "";
  dashboard.script(ServerReply::text("#@#Succeed"));
  watchdog_checks();
  // The controller and clientscout sleep; ifcounter is missing.
  EXPECT_EQ((std::vector<std::string>{kReboot, "/usr/bin/ifcounter", kMasquerade}), runs());
  std::vector<std::string> expected = {
      "Running Memory Test...",
      "  OK",
      "Running WiFi test...",
      "WiFi mesh is not enabled - Reboot device",
      "Checking controller status...",
      "Checking clientscout status...",
      "Checking ifcounter status...",
      "Starting /usr/bin/ifcounter",
      "setting upt MASQUERADING rule",
      "Checking for Zombie process ....",
      " OK",
      std::string("Resolving Host: ") + DASHBOARD_HOST,
      "Response: Succeed",
      "Internet connection:ok",
  };
  EXPECT_EQ(expected, logs());
  EXPECT_EQ(1u, dashboard.connections());
}
