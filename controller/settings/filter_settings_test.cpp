#include "controller/settings/filter_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "controller/config_record.h"
#include "controller/controller_loop.h"
#include "controller/settings/lan_block.h"
#include "controller/testing/controller_test.h"
#include "controller/testing/lan.h"

namespace {

using Lines = std::vector<std::string>;

const char kPublicRuleAdd[] = "iptables -A FORWARD -s 10.1.0.0/22 -d 192.168.1.0/24 -j DROP";
const char kPrivateRuleAdd[] = "iptables -A FORWARD -s 10.1.4.0/22 -d 192.168.1.0/24 -j DROP";
const char kPublicRuleDelete[] = "iptables -D FORWARD -s 10.1.0.0/22 -d 192.168.1.0/24 -j DROP";
const char kPrivateRuleDelete[] = "iptables -D FORWARD -s 10.1.4.0/22 -d 192.168.1.0/24 -j DROP";
// Each add takes out a copy that a controller killed before its clean-up left.
const std::vector<std::string> kLanBlockAdds = {kPublicRuleDelete, kPublicRuleAdd, kPrivateRuleDelete, kPrivateRuleAdd};

class Filter : public ControllerTest {
 protected:
  Filter() {
    fake.uci["dhcp.pub.ipaddr"] = "10.1.2.3";
    fake.uci["dhcp.pub.netmask"] = "255.255.252.0";
    fake.uci["dhcp.priv.ipaddr"] = "10.1.6.1";
    fake.uci["dhcp.priv.netmask"] = "22";
    set_lan(kernel, 1);
  }
  void filter(const char* key, const char* value = "") { apply_filter_setting(key, value, config); }
  void service(const char* key, const char* value = "") { apply_service_setting(key, value, config); }
  void forget() {
    fake.events.clear();
    fake.stdout_text.clear();
    fake.stderr_text.clear();
  }
};

}  // namespace

TEST_F(Filter, LanBlockRulesComeFromTheSidesInUciAndTheLanOfBrLan) {
  EXPECT_EQ(0, apply_lan_block(1));
  EXPECT_EQ("LAN 192.168.1.0/24\nPublic 10.1.0.0/22\nPrivate 10.1.4.0/22\n", fake.stdout_text);
  EXPECT_EQ((Lines{"uci get dhcp.pub.ipaddr", "uci get dhcp.pub.netmask", "uci get dhcp.priv.ipaddr",
                   "uci get dhcp.priv.netmask"}),
            reads());
  EXPECT_EQ(kLanBlockAdds, runs());
  EXPECT_EQ((Lines{"eth0", "br-lan", "br-lan"}), asked_interfaces(kernel));

  forget();
  EXPECT_EQ(0, apply_lan_block(0));
  EXPECT_EQ((Lines{kPublicRuleDelete, kPrivateRuleDelete}), runs());

  // Any other action only prints.
  forget();
  EXPECT_EQ(0, apply_lan_block(7));
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("LAN 192.168.1.0/24\nPublic 10.1.0.0/22\nPrivate 10.1.4.0/22\n", fake.stdout_text);
}

TEST_F(Filter, LanBlockDoesNothingWithoutARunningEth0) {
  for (auto [status, said] : {std::pair{0, ""}, {-1, "out Ioctl failed. Errno = 19\n"}}) {
    forget();
    set_lan(kernel, status);
    EXPECT_EQ(1, apply_lan_block(1));
    EXPECT_EQ(std::string(said).empty() ? Lines{} : Lines{said}, fake.events);
  }
}

TEST_F(Filter, BadSideAddressStillFormsTheRuleWithPrefixOne) {
  fake.uci["dhcp.priv.netmask"] = "0.0.0.0";
  fake.uci.erase("dhcp.pub.ipaddr");
  apply_lan_block(1);
  EXPECT_EQ((Lines{"iptables -D FORWARD -s /1 -d 192.168.1.0/24 -j DROP",
                   "iptables -A FORWARD -s /1 -d 192.168.1.0/24 -j DROP",
                   "iptables -D FORWARD -s /1 -d 192.168.1.0/24 -j DROP",
                   "iptables -A FORWARD -s /1 -d 192.168.1.0/24 -j DROP"}),
            runs());
  EXPECT_EQ(
      " is not a valid IP address\n is not a valid IP address\n"
      "0.0.0.0 is not a valid netmask, in hex:0\n0.0.0.0 is not a valid netmask, in hex:0\n",
      fake.stderr_text);
}

TEST_F(Filter, LanBlockSwitchesTheRulesAndIsKeptInUci) {
  filter("lan_block", "1");
  Lines adds = kLanBlockAdds;
  adds.insert(adds.end(), {"uci set node.security.lan_block=1\n", "uci commit node"});
  EXPECT_EQ(adds, runs());
  EXPECT_EQ(1, config.filter.lan_block);
  EXPECT_EQ("1", fake.uci["node.security.lan_block"]);

  forget();
  filter("LAN_BLOCK", "1");  // unchanged
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("Received LANBLock: 1\n", fake.stdout_text);

  forget();
  filter("lan_block");  // no value: the message only
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("Received LANBLock: \n", fake.stdout_text);

  forget();
  filter("lan_block", "0");
  EXPECT_EQ((Lines{kPublicRuleDelete, kPrivateRuleDelete, "uci set node.security.lan_block=0\n", "uci commit node"}),
            runs());
  EXPECT_EQ(0, config.filter.lan_block);
  // The filter row has no change count: the commit above is the only one.
  for (int count : config.changes.rows) EXPECT_EQ(0, count);
}

TEST_F(Filter, LanBlockWithEth0DownIsStoredAndWrittenWithoutARule) {
  set_lan(kernel, 0);
  filter("lan_block", "1");
  EXPECT_EQ((Lines{"uci set node.security.lan_block=1\n", "uci commit node"}), runs());
  EXPECT_EQ("Received LANBLock: 1\n", fake.stdout_text);
  EXPECT_EQ(1, config.filter.lan_block);
  EXPECT_EQ("1", fake.uci["node.security.lan_block"]);
}

TEST_F(Filter, IsolationIsAWirelessChange) {
  struct Case {
    const char* key;
    const char* value;
    const char* printed;
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {"public.AP_isolate",
       "1",
       "Received PubApIsolate: 1\nEnable Public AP Isolation\n",
       {"uci set wireless.pub.isolate=1\n"}},
      {"public.ap_isolate", "1", "Received PubApIsolate: 1\n", {}},
      {"public.AP_isolate",
       "0",
       "Received PubApIsolate: 0\nDisable Public AP Isolateion\n",
       {"uci set wireless.pub.isolate=0\n"}},
      {"private.AP_isolate", "1", "Received PrivApIsolate: 1\n", {"uci set wireless.priv.isolate=1\n"}},
      {"private.AP_isolate",
       "0",
       "Received PrivApIsolate: 0\nDisable Private AP Isolation\n",
       {"uci set wireless.priv.isolate=0\n"}},
      // Neither 0 nor 1: stored without a message.
      {"private.AP_isolate", "3", "Received PrivApIsolate: 3\n", {"uci set wireless.priv.isolate=3\n"}},
      {"public.AP_isolate", "", "", {}},
      // A key of a later group that takes code 1 of its own group.
      {"reboot_date",
       "1",
       "Received PubApIsolate: 1\nEnable Public AP Isolation\n",
       {"uci set wireless.pub.isolate=1\n"}},
      {"isolate", "1", "Filter: Received bad option\n", {}},
      {"network", "1", "Filter: Received bad option\n", {}},  // code 3: not a filter code
  };
  int expected_count = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.value);
    forget();
    filter(c.key, c.value);
    EXPECT_EQ(c.printed, fake.stdout_text);
    EXPECT_EQ(c.commands, runs());
    expected_count += static_cast<int>(c.commands.size());
    EXPECT_EQ(expected_count, config.changes[kRowWireless]);
  }
  EXPECT_EQ(1, config.filter.pub_isolate);
  EXPECT_EQ(3, config.filter.priv_isolate);
}

TEST_F(Filter, ServicesBlockOnceAndUnblockOnlyWhatTheyBlocked) {
  struct Case {
    const char* key;
    const char* value;
    const char* printed;
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {"ftp", "2", "FTP:2\n", {}},  // neither 0 nor 1: stored, no rule
      {"ftp", "0", "FTP:0\n", {}},
      {"ssh",
       "1",
       "SSH:1\n",
       {"iptables -D INPUT -p tcp --dport 22 -j DROP", "iptables -I INPUT -p tcp --dport 22 -j DROP"}},
      {"SSH", "1", "SSH:1\n", {}},
      {"smtp",
       "1",
       "SMTP:1\n",
       {"iptables -D FORWARD -p tcp --dport 25 -j DROP", "iptables -I FORWARD -p tcp --dport 25 -j DROP"}},
      {"pop",
       "1",
       "POP:1\n",
       {"iptables -D FORWARD -p tcp --dport 110 -j DROP", "iptables -I FORWARD -p tcp --dport 110 -j DROP"}},
      {"imap",
       "1",
       "IMAP:1\n",
       {"iptables -D FORWARD -p tcp --dport 143 -j DROP", "iptables -I FORWARD -p tcp --dport 143 -j DROP"}},
      {"ftp",
       "1",
       "FTP:1\n",
       {"iptables -D FORWARD -p tcp --dport 21 -j DROP", "iptables -I FORWARD -p tcp --dport 21 -j DROP"}},
      {"ftp", "0", "FTP:0\n", {"iptables -D FORWARD -p tcp --dport 21 -j DROP"}},
      {"smtp", "0", "SMTP:0\n", {"iptables -D FORWARD -p tcp --dport 25 -j DROP"}},
      {"pop", "0", "POP:0\n", {"iptables -D FORWARD -p tcp --dport 110 -j DROP"}},
      {"irc", "1", "IRC:1\n - not Supported yet", {}},
      {"imap", "", "IMAP:0\n", {}},  // no value: nothing changes
      {"telnet", "1", "Services:BadOptions\n", {}},
      {"syslog", "1", "SSH:1\n", {}},  // a later group's code 1 is ssh's
      {"version", "0", "SMTP:0\n", {}},
      {"sum",
       "1",
       "POP:1\n",
       {"iptables -D FORWARD -p tcp --dport 110 -j DROP", "iptables -I FORWARD -p tcp --dport 110 -j DROP"}},
      {"path", "1", "IMAP:1\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.value);
    forget();
    service(c.key, c.value);
    EXPECT_EQ(c.printed, fake.stdout_text);
    EXPECT_EQ(c.commands, runs());
  }
  const ServiceSettings& s = config.services;
  EXPECT_EQ(0, s.ftp);
  EXPECT_EQ(1, s.ssh);
  EXPECT_EQ(0, s.smtp);
  EXPECT_EQ(1, s.pop);
  EXPECT_EQ(1, s.imap);
  EXPECT_EQ(0, s.irc);
  for (int count : config.changes.rows) EXPECT_EQ(0, count);
}

TEST_F(Filter, StartUpAddsTheLanBlockAndShutdownRemovesItWithThisRunsServiceRules) {
  fake.uci["node.security.lan_block"] = "1";
  fake.uci["wireless.pub.isolate"] = "0";
  fake.uci["wireless.priv.isolate"] = "0";
  load_node_config();
  Lines r = reads();
  auto at = std::find(r.begin(), r.end(), "uci get node.security.lan_block");
  ASSERT_NE(r.end(), at);
  EXPECT_EQ((Lines{"uci get node.security.lan_block", "uci get dhcp.pub.ipaddr", "uci get dhcp.pub.netmask",
                   "uci get dhcp.priv.ipaddr", "uci get dhcp.priv.netmask", "uci get wireless.pub.isolate"}),
            Lines(at, at + 6));
  EXPECT_EQ(kLanBlockAdds, runs());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Filter config init ....\nLAN 192.168.1.0/24\nPublic 10.1.0.0/22\n"
                                                     "Private 10.1.4.0/22\nFilter config done\n"));

  // A rule from an earlier run is not this run's to remove: ftp stays 0.
  apply_service_setting("ssh", "1", node_config());
  apply_service_setting("imap", "1", node_config());
  apply_service_setting("imap", "0", node_config());
  apply_service_setting("pop", "1", node_config());
  forget();
  release_controller_records();  // the clean-up at SIGTERM
  EXPECT_EQ((Lines{kPublicRuleDelete, kPrivateRuleDelete, "iptables -D INPUT -p tcp --dport 22 -j DROP",
                   "iptables -D FORWARD -p tcp --dport 110 -j DROP"}),
            runs());
  EXPECT_FALSE(node_config_loaded());
}

TEST_F(Filter, ShutdownWithTheLanBlockOffLeavesTheLanRulesAlone) {
  fake.uci["node.security.lan_block"] = "0";
  load_node_config();
  EXPECT_TRUE(runs().empty());
  forget();
  apply_filter_setting("lan_block", "1", node_config());
  apply_filter_setting("lan_block", "0", node_config());
  forget();
  release_controller_records();
  EXPECT_TRUE(runs().empty());
}
