#include "controller/wifi_restart.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>

#include "controller/testing/controller_test.h"

namespace {

class WifiRestart : public ControllerTest {
 protected:
  WifiRestart() {
    add_leds();
    fake.uci = {{"dhcp.mesh.ipaddr", "10.3.56.1"}, {"dhcp.pub.ipaddr", "10.3.48.1"}, {"dhcp.priv.ipaddr", "10.3.52.1"}};
    fake.write("/tmp/resolv.conf.auto", "nameserver 10.3.56.9\n");
  }
  std::vector<std::string> effects() const {
    return events({"run ", "read ", "sleep ", "kill ", "write ", "out ", "log "});
  }
  static std::string kill_line(long pid, int sig) { return "kill " + std::to_string(pid) + " " + std::to_string(sig); }
};

const char kLed[] = "write /sys/class/leds/ubnt:";

}  // namespace

TEST_F(WifiRestart, GatewaySequence) {
  fake.write("/var/run/udhcpc-br-meship.pid", "321\n");
  fake.add_process(321, "udhcpc", 'S');
  restart_wifi("gateway");
  EXPECT_EQ((std::vector<std::string>{
                std::string(kLed) + "green:link3/trigger none",
                std::string(kLed) + "green:link4/trigger none",
                std::string(kLed) + "red:link1/trigger default-on",
                "out Restarting WiFi",
                "out \n",
                kill_line(321, SIGUSR2),
                kill_line(321, SIGKILL),
                "run /etc/init.d/dnsmasq stop",
                "run /etc/init.d/vlan stop",
                "run /etc/init.d/network restart",
                "run /etc/init.d/vlan start",
                "sleep 30",
                "read uci get dhcp.mesh.ipaddr",
                "run ifconfig br-meship 10.3.56.1 netmask 255.255.252.0 up",
                "read uci get dhcp.pub.ipaddr",
                "read uci get dhcp.priv.ipaddr",
                "run ifconfig br-pub 10.3.48.1 netmask 255.255.252.0 up",
                "run ifconfig br-priv 10.3.52.1 netmask 255.255.252.0 up",
                "log 7 Permission changed for resolve.conf.auto",
                "run /etc/init.d/dnsmasq start",
                std::string(kLed) + "green:link3/trigger timer",
                "sleep 20",
                std::string(kLed) + "green:link3/delay_off 1500",
                std::string(kLed) + "green:link4/trigger timer",
                "sleep 20",
                std::string(kLed) + "green:link4/delay_off 1500",
                std::string(kLed) + "red:link1/trigger none",
            }),
            effects());
  EXPECT_FALSE(fake.exists("/var/run/udhcpc-br-meship.pid"));
  EXPECT_EQ("nameserver 10.3.56.9\n", fake.read("/tmp/resolv.conf.auto"));
}

TEST_F(WifiRestart, RepeaterTakesItsMeshAddressByDhcpAndItsNameServerFromTheGateway) {
  restart_wifi("repeater");
  std::vector<std::string> e = effects();
  std::vector<std::string> shell;
  for (const std::string& line : e) {
    if (line.rfind("run ", 0) == 0 || line.rfind("read ", 0) == 0 || line.rfind("sleep ", 0) == 0)
      shell.push_back(line);
  }
  EXPECT_EQ(
      (std::vector<std::string>{
          "run /etc/init.d/dnsmasq stop",
          "run /etc/init.d/vlan stop",
          "run /etc/init.d/network restart",
          "run /etc/init.d/vlan start",
          "sleep 30",
          "run udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship",
          "read uci get dhcp.pub.ipaddr",
          "read uci get dhcp.priv.ipaddr",
          "run ifconfig br-pub 10.3.48.1 netmask 255.255.252.0 up",
          "run ifconfig br-priv 10.3.52.1 netmask 255.255.252.0 up",
          "run /etc/init.d/dnsmasq start",
          "sleep 20",
          "sleep 20",
      }),
      shell);
  EXPECT_TRUE(fake.kills.empty());
  // The name server is written after the permission change, before dnsmasq starts.
  size_t permission = 0, nameserver = 0, dnsmasq = 0;
  for (size_t i = 0; i < e.size(); ++i) {
    if (e[i] == "log 7 Permission changed for resolve.conf.auto") permission = i;
    if (e[i].rfind("write /tmp/resolv.conf.auto nameserver ", 0) == 0) nameserver = i;
    if (e[i] == "run /etc/init.d/dnsmasq start") dnsmasq = i;
  }
  EXPECT_LT(0u, permission);
  EXPECT_LT(permission, nameserver);
  EXPECT_LT(nameserver, dnsmasq);
}

TEST_F(WifiRestart, StalePidFileNeverSignalsAnotherProcess) {
  fake.write("/var/run/udhcpc-br-meship.pid", "321\n");
  fake.add_process(321, "dropbear", 'S');
  restart_wifi("gateway");
  EXPECT_TRUE(fake.kills.empty());
  EXPECT_FALSE(fake.exists("/var/run/udhcpc-br-meship.pid"));

  for (const char* content : {"0\n", "-5\n", "abc\n"}) {
    fake.write("/var/run/udhcpc-br-meship.pid", content);
    restart_wifi("gateway");
    EXPECT_TRUE(fake.kills.empty()) << content;
    EXPECT_FALSE(fake.exists("/var/run/udhcpc-br-meship.pid")) << content;
  }
}

TEST_F(WifiRestart, UnreadableAddressesLeaveTheAddressOut) {
  fake.uci.clear();
  fake.remove("/tmp/resolv.conf.auto");
  restart_wifi("gateway");
  std::vector<std::string> r = runs();
  EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "ifconfig br-meship  netmask 255.255.252.0 up"));
  EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "ifconfig br-pub  netmask 255.255.252.0 up"));
  EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "ifconfig br-priv  netmask 255.255.252.0 up"));
  EXPECT_TRUE(logs(7).empty());  // no resolv.conf.auto to make readable
}
