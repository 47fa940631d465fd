// Values that the mesh bring-up, the reporters and the watchdog read from
// the node (the gateway table, the dashboard's node id reply, uci, command
// output, pid files) on their way into shell commands. Where a value goes
// into a command, the command runs through the real /bin/sh on the sandbox
// of common/testing/sandbox_shell.h and the value must reach its stand-in
// as exactly its text, with nothing else run; the commands that carry no
// value must stay the same whatever the node holds. The sandboxed cases
// need root (or unprivileged user namespaces).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/profile.h"
#include "common/testing/fake_kernel.h"
#include "common/testing/sandbox_shell.h"
#include "controller/program.h"
#include "controller/wifi_restart.h"
#include "lonely/channel_search.h"
#include "lonely/program.h"
#include "mesh/bridge_addresses.h"
#include "mesh/gateway_check.h"
#include "mesh/gateway_table.h"
#include "mesh/node_identity.h"
#include "mesh/role.h"
#include "reporters/clientscout.h"
#include "reporters/ifcounter.h"
#include "watchdog/checks.h"
#include "watchdog/service_check.h"

namespace {

// Gateway addresses as the table can hold them: one field without blanks,
// longer than 16 characters, with exactly five ":".
const std::vector<std::string> kTableAddresses = {
    "0:1:2:3:4:;touch$IFS/tmp/pwned", "$(touch$IFS/tmp/pwned):a:b:c:d:",
    "`touch$IFS/tmp/pwned`:1:2:3:4:", "'\":*:?:[x]:&&|:;#~",
    "a\tb:c:d:e:f:\\$HOME\\'\"",      "x:y:z:w:v:$0!%s>/tmp/pwned<",
};

class SandboxedValues : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error = node.sandbox_error();
    if (!error.empty()) GTEST_SKIP() << "commands cannot run sandboxed here: " << error;
    set_profile(kLonelyProfile);
  }
  void TearDown() override { set_profile(kControllerProfile); }
  void fresh() {
    node.forget_calls();
    node.remove("/tmp/pwned");
  }
  // Nothing beyond the expected calls ran, and nothing complained.
  void expect_only(const ShellCalls& expected) {
    EXPECT_EQ(printable(expected), printable(node.calls()));
    EXPECT_EQ("", node.errors());
    EXPECT_FALSE(node.exists("/tmp/pwned"));
  }

  SandboxShell node;
  ScopedHost scope{node};
};

}  // namespace

TEST_F(SandboxedValues, EveryGatewayOfTheTableIsPingedByExactlyItsAddress) {
  for (const std::string& address : kTableAddresses) {
    SCOPED_TRACE(address);
    // First field (a line that starts with the address) and second field
    // (after the selection mark).
    for (const std::string& line : {address + " (255) 02:00:00:00:00:02 [  mesh0]: 10.0/2.0 MBit\n",
                                    "=> " + address + " (255) 02:00:00:00:00:02 [  mesh0]\n"}) {
      if (line[0] == '=' && address.find('\t') != std::string::npos) continue;  // a tab ends the second field
      fresh();
      node.write(kGatewayTable,
                 "  Gateway      (#/255)           Nexthop [outgoingIF]: advertised uplink bandwidth\n" + line);
      EXPECT_EQ(1, bat_ping(1));
      expect_only({{"/usr/sbin/batctl", "ping", "-c", "4", address}});
    }
  }
}

TEST_F(SandboxedValues, ANodeIdReplyRunsOnlyItsNumbers) {
  std::vector<std::string> replies = hostile_values();
  for (const std::string& v : hostile_values()) replies.push_back("5:3:17" + v);
  for (const std::string& reply : replies) {
    SCOPED_TRACE(reply);
    fresh();
    set_nodeid(reply.c_str());
    expect_only({});
  }
  fresh();
  set_nodeid("5:3:17");
  ShellCalls plan = {uci_set_call("node.status.id", "5"), uci_set_call("node.status.switch", "3"),
                     uci_set_call("node.status.nodeid", "17"), uci_commit_call("node")};
  for (const auto& [section, address] :
       {std::pair<std::string, std::string>{"pub", "10.3.48.1"}, {"priv", "10.3.52.1"}, {"mesh", "10.3.56.1"}}) {
    plan.push_back(uci_set_call("dhcp." + section + ".ipaddr", address));
    plan.push_back(uci_set_call("dhcp." + section + ".netmask", "255.255.252.0"));
  }
  plan.push_back(uci_commit_call("dhcp"));
  expect_only(plan);

  // The stored plan is what the bridges come up with.
  fresh();
  EXPECT_EQ(0, config_ipaddr(kRoleGateway));
  expect_only({uci_get_call("node.status.id"),
               uci_get_call("dhcp.pub.ipaddr"),
               {"ifconfig", "br-pub", "10.3.48.1", "netmask", "255.255.252.0", "up"},
               uci_get_call("dhcp.priv.ipaddr"),
               {"ifconfig", "br-priv", "10.3.52.1", "netmask", "255.255.252.0", "up"},
               uci_get_call("dhcp.mesh.ipaddr"),
               {"ifconfig", "br-meship", "10.3.56.1", "netmask", "255.255.252.0", "up"}});
}

// The bridges' commands take their address from `uci get` inside the
// command itself. Only set_nodeid writes those settings, always as four
// numbers; were anything else stored there, the shell would still run
// nothing of it (output of a substitution is never parsed as a command), it
// would only split it into words.
TEST_F(SandboxedValues, ABridgeAddressStoredInUciRunsNothing) {
  for (const std::string& value : hostile_values()) {
    SCOPED_TRACE(value);
    fresh();
    node.set_uci("node.status.id", "5");
    node.set_uci("dhcp.pub.ipaddr", value);
    node.set_uci("dhcp.priv.ipaddr", "10.3.52.1");
    config_ipaddr(kRoleRepeater);
    ShellCalls calls = node.calls();
    ASSERT_EQ(5u, calls.size()) << printable(calls);
    EXPECT_EQ(uci_get_call("dhcp.pub.ipaddr"), calls[1]);
    const ShellCall& pub = calls[2];
    ASSERT_GE(pub.size(), 5u) << printable(calls);
    EXPECT_EQ((ShellCall{"ifconfig", "br-pub"}), ShellCall(pub.begin(), pub.begin() + 2));
    EXPECT_EQ((ShellCall{"netmask", "255.255.252.0", "up"}), ShellCall(pub.end() - 3, pub.end()));
    EXPECT_EQ((ShellCall{"ifconfig", "br-priv", "10.3.52.1", "netmask", "255.255.252.0", "up"}), calls[4]);
    EXPECT_EQ("", node.errors());
    EXPECT_FALSE(node.exists("/tmp/pwned"));
  }
}

TEST_F(SandboxedValues, TheWifiRestartBringsTheBridgesUpWithExactlyTheStoredAddresses) {
  for (const std::string& value : hostile_values_for(64)) {
    SCOPED_TRACE(value);
    fresh();
    for (const char* section : {"pub", "priv", "mesh"}) node.set_uci(std::string("dhcp.") + section + ".ipaddr", value);
    restart_wifi("gateway");
    // uci keeps one line; its reader drops a final "\r".
    std::string stored = value.substr(0, value.find('\n'));
    if (!stored.empty() && stored.back() == '\r') stored.pop_back();
    // An empty address is left out of the command.
    auto ifconfig = [&](const std::string& bridge) {
      ShellCall call = {"ifconfig", bridge, stored, "netmask", "255.255.252.0", "up"};
      if (stored.empty()) call.erase(call.begin() + 2);
      return call;
    };
    expect_only({{"/etc/init.d/dnsmasq", "stop"},
                 {"/etc/init.d/vlan", "stop"},
                 {"/etc/init.d/network", "restart"},
                 {"/etc/init.d/vlan", "start"},
                 uci_get_call("dhcp.mesh.ipaddr"),
                 ifconfig("br-meship"),
                 uci_get_call("dhcp.pub.ipaddr"),
                 uci_get_call("dhcp.priv.ipaddr"),
                 ifconfig("br-pub"),
                 ifconfig("br-priv"),
                 {"/etc/init.d/dnsmasq", "start"}});
  }
}

// The commands of lonely, the reporters and the watchdog carry no value
// read from the node: whatever uci, the tools' output and the files hold,
// each step runs exactly its fixed commands.
TEST(FixedCommands, StayTheSameWhateverTheNodeHolds) {
  struct Step {
    const char* what;
    std::function<void(FakeHost& node, const std::string& value)> plant;
    std::function<void()> run;
    std::vector<std::string> commands;
  };
  const std::string kMode = "batctl gw | awk '{print $1}'";
  const std::vector<Step> steps = {
      {"repeater role, batman mode read",
       [&](FakeHost& n, const std::string& v) { n.outputs[kMode] = v; },
       [] { config_batman_mode(7); },
       {kMode, "/usr/sbin/iptables -t nat -F", "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"}},
      {"ifcounter's interface",
       [&](FakeHost& n, const std::string& v) { n.outputs[kMode] = v; },
       [] { EXPECT_STREQ("mesh0", select_stats_interface()); },
       {kMode}},
      {"ifcounter's settings",
       [](FakeHost& n, const std::string& v) {
         for (const char* key : {"dashboard.remote.host", "dashboard.remote.cupath", "dashboard.remote.fallback_ip",
                                 "dashboard.remote.cinterval", "node.status.mode"}) {
           n.uci[key] = v;
         }
       },
       [] { load_stats_config(); },
       {"uci get dashboard.remote.host", "uci get dashboard.remote.cupath", "uci get dashboard.remote.fallback_ip",
        "uci get dashboard.remote.cinterval", "uci get node.status.mode"}},
      {"clientscout's sections",
       [](FakeHost& n, const std::string& v) {
         n.uci["wireless.pub.disabled"] = "0" + v;
         n.uci["wireless.pub.hidden"] = v;
       },
       [] { interface_selected("pub"); },
       {"uci get wireless.pub.disabled", "uci get wireless.pub.hidden"}},
      {"watchdog's NAT listing",
       [](FakeHost& n, const std::string& v) { n.outputs["iptables -t nat -L"] = v; },
       [] { check_masquerade(); },
       {"iptables -t nat -L", "/usr/sbin/iptables -t nat -A POSTROUTING -j MASQUERADE"}},
      {"watchdog's zombie daemon and its pid file",
       [](FakeHost& n, const std::string& v) {
         n.add_process(600, "ifcounter", 'Z');
         n.write("/tmp/netstat.pid", v);
       },
       [] { check_service(kWatchedDaemons[2]); },
       {"/usr/bin/ifcounter"}},
      {"lonely's channel",
       [](FakeHost& n, const std::string& v) { n.uci["wireless.radio0.channel"] = v; },
       [] { search_cycle(0); },  // mesh0 without a radio: the scan fails
       {"uci get wireless.radio0.channel"}},
  };
  for (const Step& step : steps) {
    for (const std::string& value : hostile_values()) {
      SCOPED_TRACE(std::string(step.what) + " <" + value + ">");
      FakeHost node;
      ScopedHost scope(node);
      FakeKernel no_interfaces;
      ScopedKernel kernel_scope(no_interfaces);
      step.plant(node, value);
      step.run();
      EXPECT_EQ(step.commands, node.commands);
      EXPECT_TRUE(node.kills.empty());
    }
  }
}
