#include "controller/config_parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "controller/settings/portal.h"
#include "controller/testing/controller_test.h"

namespace {

const char kReply[] = "/tmp/.received";

// The count lines of the after-apply step with every count at 0.
const char kZeroCounts[] =
    "dashboard Counter:0\n"
    "debug counter: 0\n"
    "madwifi counter: 0\n"
    "anyip counter: 0\n"
    "wireless counter: 0\n"
    "filter counter: 0\n"
    "nodes counter: 0\n"
    "management counter: 0\n"
    "reboot counter: 0\n"
    "customscript counter: 0\n"
    "s_reboot counter: 0\n"
    "fwupgrade counter: 0\n"
    "ledsign counter: 0\n";

class Parser : public ControllerTest {
 protected:
  Parser() {
    add_leds();
    config.wireless.channel = 6;
    config.wireless.pub_ssid.set("Guest");
    config.node_mode.set("gateway");
    fake.uci = {{"dhcp.mesh.ipaddr", "10.3.56.1"},
                {"dhcp.pub.ipaddr", "10.3.48.1"},
                {"dhcp.pub.netmask", "255.255.252.0"},
                {"dhcp.priv.ipaddr", "10.3.52.1"}};
  }
  int parse(const std::string& reply) {
    fake.write(kReply, reply);
    return parse_config_reply(kReply, config);
  }
  // What the parser printed before the after-apply step.
  std::string printed() const {
    std::string out = fake.stdout_text;
    size_t at = out.find("dashboard Counter:");
    return at == std::string::npos ? out : out.substr(0, at);
  }
  // Each piece appears in the text after the one before it; what the
  // appliers print in between is theirs.
  static void expect_in_order(const std::string& text, const std::vector<std::string>& pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
      size_t found = text.find(piece, at);
      ASSERT_NE(std::string::npos, found) << "missing, or out of order: " << piece << "\nin:\n" << text;
      at = found + piece.size();
    }
  }
  static std::string open_line() { return std::string("Open file ") + kReply + "\n"; }
  // What write_portal_network puts before chilli's settings.
  std::string network_lines() {
    std::string path = fake.path("/tmp/network_lines");
    FILE* f = fopen(path.c_str(), "w");
    write_portal_network(f);
    fclose(f);
    return fake.read("/tmp/network_lines");
  }
};

}  // namespace

TEST_F(Parser, MissingFileAppliesNothing) {
  EXPECT_EQ(1, parse_config_reply("/tmp/none", config));
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Parser, EmptyReplyRunsOnlyTheAfterApplyStep) {
  EXPECT_EQ(0, parse(""));
  EXPECT_EQ(open_line() + kZeroCounts, fake.stdout_text);
  EXPECT_TRUE(fake.commands.empty());

  fake.stdout_text.clear();
  config.reboot_token = 1;
  EXPECT_EQ(0, parse(""));
  EXPECT_EQ(open_line() + kZeroCounts + "Rebooting System\n", fake.stdout_text);
  EXPECT_EQ((std::vector<std::string>{"/sbin/reboot"}), runs());
}

TEST_F(Parser, HeadersSelectSectionsWhateverTheirCaseOrMarkEnd) {
  EXPECT_EQ(0, parse("#@#config WIRELESS\n"
                     "radio0.channel 11\n"
                     "#@#confiXYZ radio\n"
                     "channel 6\n"
                     "#@#config debug\n"
                     "level 3\n"
                     "#@#config Nodes\n"
                     "count 2\n"
                     "#@#config madwifi\n"
                     "a b\n"
                     "#@#config anyip\n"
                     "c\n"));
  EXPECT_EQ(open_line() +
                "WIRELESS:\n"
                "Found changes for Wireless Channel\n"
                "RADIO:\n"
                "Key:channel, Value:6, counter 0\n"
                "DEBUG:\n"
                "key level, value : 3, counter 0\n"
                "NODE:\n"
                "key count, value: 2, counter 0\n"
                "MADWIFI:\n"
                "key a, value: b, counter 0\n"
                "ANYIP:\n"
                "key c, value: , counter 0\n",
            printed());
  EXPECT_EQ(11, config.wireless.channel);
}

TEST_F(Parser, SettingKeyAsSectionTakesThatRowsCode) {
  EXPECT_EQ(0, parse("#@#config lan_block\n"
                     "one 1\n"
                     "two 2\n"
                     "#@#config wifi0.58_channel\n"  // code 20: no section behind it
                     "three 3\n"));
  EXPECT_EQ(open_line() +
                "DASHBOARD:\n"
                "key one, value: 1, counter 0\n"
                "key two, value: 2, counter 1\n"
                "Bad Option\n",
            printed());
}

TEST_F(Parser, UnknownSectionsAndLedsignPrintBadOption) {
  EXPECT_EQ(0, parse("#@#config nosuch\n"
                     "a 1\n"
                     "b 2\n"
                     "#@#config ledsign\n"
                     "c 3\n"
                     "#@#config\n"
                     "d 4\n"
                     "#@#config dashboard\n"
                     "e 5\n"));
  EXPECT_EQ(open_line() +
                "received:line 1: Bad configuration option: nosuch"
                "Bad Option\n"
                "Bad Option\n"
                "Bad Option\n"
                "received:line 6: Bad configuration option: "
                "Bad Option\n"
                "DASHBOARD:\n"
                "key e, value: 5, counter 0\n",
            printed());
}

TEST_F(Parser, LinesAreSplitAtBlanksAndReadInPiecesOf1023) {
  EXPECT_EQ(0, parse("ignored before any header\n"
                     "#@#config wireless\r\n"
                     "public.ssid Cafe Lobby\r\n"
                     "\n"
                     "   \t \n"
                     "#@#config dashboard\n" +
                     std::string(1023, 'k') + "tail value\n" + "#@#config line5\n"));
  EXPECT_EQ("Cafe", std::string(config.wireless.pub_ssid));
  EXPECT_EQ(open_line() +
                "WIRELESS:\n"
                "Found changes for public ssid\n"
                "DASHBOARD:\n"
                "key " +
                std::string(1023, 'k') +
                ", value: , counter 0\n"
                "key tail, value: value, counter 1\n"
                "received:line 9: Bad configuration option: line5",
            printed());
  std::vector<std::string> r = runs();
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ("uci set wireless.pub.ssid=Cafe", r[0]);
  EXPECT_EQ("uci commit wireless", r[1]);
}

TEST_F(Parser, TwoWirelessChangesCommitOnceAndRestartOnceAfterTheWholeReply) {
  EXPECT_EQ(0, parse("#@#config wireless\n"
                     "radio0.channel 1\n"
                     "public.ssid Lobby\n"
                     "#@#config dashboard\n"
                     "x y\n"));
  std::vector<std::string> r = runs();
  ASSERT_GE(r.size(), 4u);
  EXPECT_EQ("uci set wireless.radio0.channel=1", r[0]);
  EXPECT_EQ("uci set wireless.pub.ssid=Lobby", r[1]);
  EXPECT_EQ("uci commit wireless", r[2]);
  EXPECT_EQ("/etc/init.d/dnsmasq stop", r[3]);
  EXPECT_EQ(1, std::count(r.begin(), r.end(), "uci commit wireless"));
  EXPECT_EQ(1, count_of(fake.stdout_text, "Restarting WiFi\n"));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("wireless counter: 2\n"));
  // The restart comes after the last line of the reply.
  EXPECT_LT(fake.stdout_text.find("key x, value: y"), fake.stdout_text.find("Restarting WiFi"));
  EXPECT_EQ(r.end(), std::find(r.begin(), r.end(), "/sbin/reboot"));
}

// A REBOOT line and wireless changes in one reply: the changes are
// committed, Wi-Fi is not restarted, and the node reboots last.
TEST_F(Parser, RebootTokenSkipsTheWifiRestartAndRebootsLast) {
  EXPECT_EQ(0, parse("#@#config wireless\n"
                     "radio0.channel 1\n"
                     "public.ssid Lobby\n"
                     "#@#config reboot\n"
                     "reboot 1\n"));
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.radio0.channel=1", "uci set wireless.pub.ssid=Lobby",
                                      "uci commit wireless", "/sbin/reboot"}),
            runs());
  EXPECT_EQ(0, count_of(fake.stdout_text, "Restarting WiFi"));
  EXPECT_EQ((std::vector<std::string>{"Reboot node set, do not restart wifi"}), logs(LOG_INFO));
  EXPECT_EQ("wireless counter: 2\n", fake.stdout_text.substr(fake.stdout_text.find("wireless counter"), 20));
  EXPECT_EQ("Rebooting System\n", fake.stdout_text.substr(fake.stdout_text.size() - 17));
}

TEST_F(Parser, ChilliSectionWithNewSettings) {
  EXPECT_EQ(0, parse("#@#config chilli\n"
                     "enable 1\n"
                     "HS_DNS1 10.3.48.1\n"
                     "HS_UAMPORT 3990\n"
                     "#@#config management\n"
                     "node_id 7\n"));
  EXPECT_EQ(1, config.captive_portal.enable);
  std::string text = printed();
  EXPECT_EQ(network_lines() + "HS_DNS1=10.3.48.1\nHS_UAMPORT=3990\n", fake.read(kChilliSettingsFile));
  expect_in_order(text, {open_line(), "MANAGEMENT:\n", "Captive portal flag up so cleaning up the same\n"});
  EXPECT_EQ(1, count_of(text, "Captive portal"));
}

TEST_F(Parser, ChilliSectionWithoutNewSettingsLeavesAnEmptyFile) {
  config.captive_portal.enable = 1;
  fake.write(kChilliSettingsFile, "left from before\n");
  EXPECT_EQ(0, parse("#@#config chilli\n"
                     "enable 0\n"
                     "HS_DNS1 10.3.48.1\n"
                     "#@#config management\n"
                     "node_id 7\n"
                     "sm 1\n"));
  EXPECT_EQ(0, config.captive_portal.enable);
  EXPECT_TRUE(fake.exists(kChilliSettingsFile));
  EXPECT_EQ("", fake.read(kChilliSettingsFile));
  // The second MANAGEMENT line finds the portal flags cleared: no message.
  std::string text = printed();
  expect_in_order(text, {open_line(), "MANAGEMENT:\n", "Captive portal flag up so cleaning up the same\n"});
  EXPECT_EQ(1, count_of(text, "Captive portal"));
}

TEST_F(Parser, NodogSectionWritesSpaceSeparatedSettingsButNotTheSplashUrl) {
  EXPECT_EQ(0, parse("#@#config nodog\n"
                     "enable 1\n"
                     "GatewayName Cafe\n"
                     "splashurl http://splash.example/pages.tgz\n"
                     "MaxClients 40\n"
                     "#@#config management\n"
                     "node_id 7\n"));
  EXPECT_EQ("GatewayName Cafe\nMaxClients 40\n", fake.read(kSplashSettingsFile));
  EXPECT_FALSE(fake.exists(kChilliSettingsFile));
}

TEST_F(Parser, PortalFileLeftOpenIsCompleteBeforeTheAfterApplyStep) {
  std::string seen_at_commit;
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command == "uci commit wireless") seen_at_commit = fake.read(kChilliSettingsFile);
    return -1;
  };
  EXPECT_EQ(0, parse("#@#config wireless\n"
                     "radio0.channel 1\n"
                     "#@#config chilli\n"
                     "enable 1\n"
                     "HS_DNS1 10.3.48.1\n"
                     "HS_UAMPORT 3990\n"));
  EXPECT_EQ(network_lines() + "HS_DNS1=10.3.48.1\nHS_UAMPORT=3990\n", seen_at_commit);
}

TEST_F(Parser, PortalFileThatCannotBeCreated) {
  mkdir(fake.path(kChilliSettingsFile).c_str(), 0755);  // a directory in its place
  EXPECT_EQ(0, parse("#@#config chilli\n"
                     "enable 1\n"
                     "HS_DNS1 10.3.48.1\n"
                     "#@#config management\n"
                     "node_id 7\n"
                     "sm 1\n"));
  EXPECT_EQ(1, config.captive_portal.enable);
  std::string text = printed();
  expect_in_order(text, {open_line(), "MANAGEMENT:\n", "Captive portal not open\n", "Captive portal not open\n"});
  EXPECT_EQ(2, count_of(text, "Captive portal"));
}

TEST_F(Parser, SecondPortalSectionClosesTheFirstFile) {
  EXPECT_EQ(0, parse("#@#config nodog\n"
                     "enable 1\n"
                     "GatewayName Cafe\n"
                     "#@#config chilli\n"
                     "enable 1\n"
                     "HS_DNS1 10.3.48.1\n"
                     "HS_UAMPORT 3990\n"));
  EXPECT_EQ("GatewayName Cafe\n", fake.read(kSplashSettingsFile));
  EXPECT_EQ(network_lines() + "HS_DNS1=10.3.48.1\nHS_UAMPORT=3990\n", fake.read(kChilliSettingsFile));
}

TEST_F(Parser, EveryAppliedSectionHasItsHeadingAndFirmwareLinesArePrinted) {
  EXPECT_EQ(0, parse("#@#config fwupgrade\n"
                     "upgrade 1\n"
                     "version 2.5.0\n"
                     "#@#config s_reboot\n"
                     "enable 1\n"
                     "#@#config customscript\n"
                     "cs_enable 1\n"
                     "#@#config reboot\n"
                     "reboot 0\n"
                     "#@#config services\n"
                     "ftp 1\n"
                     "#@#config general\n"
                     "hostname node7\n"
                     "#@#config filter\n"
                     "lan_block 1\n"));
  expect_in_order(printed(), {open_line(), "FWUPGRADE\n", "key upgrade, value: 1, counter 0\n",
                              "key version, value: 2.5.0, counter 1\n", "REBOOT CRON\n", "CUSTOMSCRIPT:\n", "REBOOT:\n",
                              "SERVICES:\n", "GENERAL:\n", "FILTER:\n"});
}
