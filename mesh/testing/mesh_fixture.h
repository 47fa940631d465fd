// The node as the mesh bring-up tests see it: a fake host whose dashboard
// name resolves to loopback (on a port where nothing listens unless a test
// starts the scripted dashboard there), the four status LEDs and helpers to
// read the trace.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/build_config.h"
#include "common/profile.h"
#include "common/state_flags.h"
#include "common/testing/fake_host.h"
#include "common/testing/fake_kernel.h"
#include "common/testing/http_server.h"
#include "common/transport.h"
#include "lonely/program.h"
#include "portsense/program.h"

inline const char* const kLedNames[] = {"orange:link2", "red:link1", "green:link3", "green:link4"};

// The trace with each printed line in one piece: puts prints the text and
// its line end separately.
inline std::vector<std::string> joined_lines(const std::vector<std::string>& events) {
  std::vector<std::string> out;
  for (const std::string& e : events) {
    if (e == "out \n" && !out.empty() && out.back().rfind("out ", 0) == 0 && out.back().back() != '\n') {
      out.back() += "\n";
    } else {
      out.push_back(e);
    }
  }
  return out;
}

class MeshFixture : public ::testing::Test {
 protected:
  MeshFixture() {
    set_profile(kLonelyProfile);
    fake.hosts[DASHBOARD_HOST] = "127.0.0.1";
    dashboard_link().port = closed_port();
    for (const char* led : kLedNames) fake.write(std::string("/sys/class/leds/ubnt:") + led + "/trigger", "none");
    elink = mesh = vlan = boot = 0;
  }
  void use(const ProgramProfile& p) { set_profile(p); }
  // The trace lines of these kinds ("run", "read", "sleep", "write"...), in
  // order; LED writes are shortened to "led <name> <text>", and the name
  // server file written by set_nameserver (with the gateway it prints) to
  // "set_nameserver".
  std::vector<std::string> effects(const std::vector<std::string>& kinds) const {
    const std::string led_prefix = "write /sys/class/leds/ubnt:";
    std::vector<std::string> out;
    for (const std::string& e : joined_lines(fake.events)) {
      std::string kind = e.substr(0, e.find(' '));
      bool wanted = false;
      for (const std::string& k : kinds) wanted = wanted || k == kind;
      if (!wanted) continue;
      // The name server is this machine's default gateway: printed, then written.
      const std::string nameserver = "write /tmp/resolv.conf.auto nameserver ";
      if (e.rfind(nameserver, 0) == 0) {
        if (!out.empty() && out.back() == "out " + e.substr(nameserver.size()) + "\n") out.pop_back();
        out.push_back("set_nameserver");
        continue;
      }
      if (e.rfind(led_prefix, 0) == 0) {
        std::string rest = e.substr(led_prefix.size());  // "red:link1/trigger default-on"
        size_t slash = rest.find('/');
        std::string file = rest.substr(slash + 1, rest.find(' ') - slash - 1);
        std::string text = rest.substr(rest.find(' ') + 1);
        out.push_back("led " + rest.substr(0, slash) + (file == "trigger" ? " " : " " + file + " ") + text);
      } else {
        out.push_back(e);
      }
    }
    return out;
  }
  std::vector<std::string> runs() const { return fake.runs(); }

  FakeHost fake;
  ScopedHost scope{fake};
  FakeKernel kernel;  // no interfaces, routes or radios unless a test adds them
  ScopedKernel kernel_scope{kernel};
};

// A gateway table with one gateway, and the batman ping that checks it.
inline const std::string kOneGatewayTable =
    "      Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth ...\n"
    "=> 02:ca:fe:ca:ca:01 (255) 02:ca:fe:ca:ca:01 [     mesh0]: 41 - 2048kbit/512kbit\n";
inline const std::string kGatewayPing = "/usr/sbin/batctl ping -c 4 02:ca:fe:ca:ca:01 >> /dev/null";

// The commands that bring the planned bridges up.
inline const std::string kIfconfigPub = "ifconfig br-pub `uci get dhcp.pub.ipaddr` netmask 255.255.252.0 up";
inline const std::string kIfconfigPriv = "ifconfig br-priv `uci get dhcp.priv.ipaddr` netmask 255.255.252.0 up";
inline const std::string kIfconfigMesh = "ifconfig br-meship `uci get dhcp.mesh.ipaddr` netmask 255.255.252.0 up";
inline const std::string kUdhcpc =
    "udhcpc -p /var/run/udhcpc-br-meship.pid -s /usr/share/udhcpc/default.script -S -t 3 -n -i br-meship";
inline const std::string kBatmanMode = "batctl gw | awk '{print $1}'";
inline const std::vector<std::string> kMasquerade = {"/usr/sbin/iptables -t nat -F",
                                                     "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"};

// What config_batman_mode does, as effects({"run", "read", "write", "out"})
// shows it, for a node whose id is stored; `batman_change` is the "batctl
// gw" command it runs, or "" for none.
inline std::vector<std::string> role_switch(int role, const std::string& batman_change) {
  std::vector<std::string> out = {"read " + kBatmanMode, "run /etc/init.d/dnsmasq stop"};
  if (role == 0) {
    out.insert(out.end(),
               {"read uci get node.status.id", "run " + kIfconfigPub, "run " + kIfconfigPriv, "run " + kIfconfigMesh});
  } else {
    out.insert(out.end(), {"run " + kUdhcpc, "set_nameserver", "read uci get node.status.id", "run " + kIfconfigPub,
                           "run " + kIfconfigPriv});
  }
  out.push_back("run /etc/init.d/dnsmasq start");
  if (!batman_change.empty()) out.push_back("run " + batman_change);
  out.push_back(std::string("run uci set node.status.mode=") + (role == 0 ? "gateway" : "repeater"));
  out.push_back("run uci commit node");
  for (const std::string& m : kMasquerade) out.push_back("run " + m);
  return out;
}

// The green pair blinking, each step with the program's pause.
inline std::vector<std::string> green_blink(unsigned pause) {
  std::string s = "sleep " + std::to_string(pause);
  return {"led green:link3 timer", s, "led green:link3 delay_off 1500",
          "led green:link4 timer", s, "led green:link4 delay_off 1500"};
}

inline std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
