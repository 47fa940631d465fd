#include "controller/settings/wireless_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "controller/testing/controller_test.h"

namespace {

class Wireless : public ControllerTest {
 protected:
  Wireless() {
    WirelessSettings& w = config.wireless;
    w.channel = 6;
    w.country.set("DE");
    w.pub_disabled.set("0");
    w.pub_hidden.set("0");
    w.priv_disabled.set("0");
    w.priv_hidden.set("0");
    w.pub_ssid.set("Guest");
    w.pub_key.set("guestkey");
    w.priv_ssid.set("Office");
    w.priv_key.set("officekey");
    fake.uci["wireless.pub.encryption"] = "psk-mixed";
    fake.uci["wireless.priv.encryption"] = "psk-mixed";
  }
  void apply(const char* key, const char* value = "") { apply_wireless_setting(key, value, config); }
  int changes() const { return config.changes[kRowWireless]; }
};

}  // namespace

TEST_F(Wireless, EachCodeWritesItsOwnCommandWhenTheValueDiffers) {
  struct Case {
    const char* key;
    const char* value;
    const char* printed;
    const char* command;
  };
  const Case cases[] = {
      {"radio0.channel", "11", "Found changes for Wireless Channel\n", "uci set wireless.radio0.channel=11"},
      {"radio0.country", "US", "Found changes for Wireless Country Code\n", "uci set wireless.radio0.country=US"},
      {"public.enabled", "1", "Found changes for public enablen", "uci set wireless.pub.disabled=1"},
      {"public.hidden", "1", "Found changes for public hidden\n", "uci set wireless.pub.hidden=1"},
      {"public.ssid", "Lobby", "Found changes for public ssid\n", "uci set wireless.pub.ssid=Lobby"},
      {"private.enabled", "1", "", "uci set wireless.priv.disabled=1"},
      {"private.hidden", "1", "", "uci set wireless.priv.hidden=1"},
      {"private.ssid", "Back", "Found chanes for Private ssid\n", "uci set wireless.priv.ssid=Back"},
      {"private.key", "newofficekey", "Found changes for Private key\n", "uci set wireless.priv.key=newofficekey\n"},
      {"RADIO0.CHANNEL", "auto", "Found changes for Wireless Channel\n", "uci set wireless.radio0.channel=0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    fake.events.clear();
    fake.stdout_text.clear();
    config.changes = ChangeCounts{};
    apply(c.key, c.value);
    EXPECT_EQ(c.printed, fake.stdout_text);
    EXPECT_EQ((std::vector<std::string>{c.command}), runs());
    EXPECT_EQ(1, changes());
    // The same value again changes nothing.
    apply(c.key, c.value);
    EXPECT_EQ(1u, runs().size());
    EXPECT_EQ(1, changes());
  }
  const WirelessSettings& w = config.wireless;
  EXPECT_EQ(0, w.channel);
  EXPECT_EQ("US", std::string(w.country));
  EXPECT_EQ("1", std::string(w.pub_disabled));
  EXPECT_EQ("Lobby", std::string(w.pub_ssid));
  EXPECT_EQ("newofficekey", std::string(w.priv_key));
  EXPECT_EQ("Back", fake.uci["wireless.priv.ssid"]);
}

TEST_F(Wireless, UnchangedOrAbsentValuesDoNothing) {
  apply("radio0.channel", "6");
  apply("radio0.channel", "06");
  apply("radio0.country", "DE");
  apply("public.ssid", "Guest");
  for (const char* key :
       {"radio0.channel", "radio0.country", "public.enabled", "public.hidden", "public.ssid", "private.enabled",
        "private.hidden", "private.ssid", "private.key", "enterprise", "server", "port"}) {
    apply(key, "");
  }
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_EQ(0, changes());
}

TEST_F(Wireless, PublicKeyAndItsEncryption) {
  // No key while encrypted: open network.
  apply("public.key");
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.pub.encryption=none"}), runs());
  EXPECT_EQ(1, changes());
  // New key while open: the key, then WPA-PSK.
  fake.events.clear();
  config.changes = ChangeCounts{};
  apply("public.key", "newguestkey");
  EXPECT_EQ(
      (std::vector<std::string>{"uci set wireless.pub.key=newguestkey", "uci set wireless.pub.encryption=psk-mixed"}),
      runs());
  EXPECT_EQ(2, changes());
  EXPECT_EQ("Found changes for public key\n", fake.stdout_text);
  // Same key while open again: only the encryption.
  fake.uci["wireless.pub.encryption"] = "none";
  fake.events.clear();
  config.changes = ChangeCounts{};
  apply("public.key", "newguestkey");
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.pub.encryption=psk-mixed"}), runs());
  EXPECT_EQ(1, changes());
  // Same key while encrypted, and no key while open: nothing.
  fake.events.clear();
  config.changes = ChangeCounts{};
  apply("public.key", "newguestkey");
  fake.uci["wireless.pub.encryption"] = "none";
  apply("public.key");
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ(0, changes());
  // An unreadable encryption counts as on.
  fake.uci.erase("wireless.pub.encryption");
  apply("public.key");
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.pub.encryption=none"}), runs());
}

TEST_F(Wireless, EnterpriseWritesServerAndPortOnlyAfterTheSwitch) {
  apply("server", "10.0.0.5");  // enterprise still 0: not even stored
  EXPECT_EQ("", std::string(config.wireless.radius_server));
  config.wireless.enterprise = 1;
  fake.uci["wireless.priv.encryption"] = "psk-mixed";  // uci says otherwise: switch again
  apply("server", "10.0.0.5");                         // before the enterprise line: stored, not written
  apply("port", "1812");
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("10.0.0.5", std::string(config.wireless.radius_server));
  EXPECT_EQ(1812, config.wireless.auth_port);
  apply("enterprise", "1");
  apply("server", "10.0.0.5");  // unchanged, but after the switch: written
  apply("port", "1813");
  EXPECT_EQ(
      (std::vector<std::string>{"uci set wireless.priv.encryption=mixed-wpa", "uci commit wireless",
                                "uci set wireless.priv.server=10.0.0.5\n", "uci set wireless.priv.auth_port=1813\n"}),
      runs());
  EXPECT_EQ(
      "Found changes for WPA Enterprise server\n"
      "Found changes for WPA Enterprise Port\n"
      "Configuring Priv: WPA Enterprise\n"
      "Found changes for WPA Enterprise Port\n",
      fake.stdout_text);
  EXPECT_EQ(1, config.wireless.enterprise_reconfigured);
  EXPECT_EQ(1, config.wireless.enterprise);
  EXPECT_EQ(2, changes());  // the switch itself counts nothing
}

TEST_F(Wireless, EnterpriseFromPskAndBack) {
  apply("enterprise", "1");  // stored 0: no uci read needed
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.priv.encryption=mixed-wpa", "uci commit wireless"}), runs());
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.priv.encryption=mixed-wpa", "uci commit wireless"}),
            fake.commands);
  EXPECT_EQ(1, changes());  // the stored setting went from 0 to 1
  EXPECT_EQ(1, config.wireless.enterprise);

  // Already enterprise in uci too: nothing.
  fake.events.clear();
  fake.commands.clear();
  config.changes = ChangeCounts{};
  apply("enterprise", "1");
  EXPECT_EQ((std::vector<std::string>{"uci get wireless.priv.encryption"}), fake.commands);
  EXPECT_EQ(0, changes());

  // Back to WPA-PSK.
  fake.events.clear();
  fake.stdout_text.clear();
  apply("enterprise", "0");
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.priv.server=", "uci set wireless.priv.auth_port=",
                                      "uci set wireless.priv.encryption=psk-mixed", "uci commit wireless"}),
            runs());
  EXPECT_EQ("Configuring Priv: WPA PSK\n", fake.stdout_text);
  EXPECT_EQ(2, changes());
  EXPECT_EQ(0, config.wireless.enterprise);

  // Stored 0 but uci still enterprise: back to PSK as well.
  fake.uci["wireless.priv.encryption"] = "mixed-wpa";
  fake.events.clear();
  config.changes = ChangeCounts{};
  apply("enterprise", "0");
  EXPECT_EQ(4u, runs().size());
  EXPECT_EQ(1, changes());
}

TEST_F(Wireless, RejectedUnknownAndForeignKeys) {
  struct Case {
    const char* key;
    const char* printed;
  };
  const Case cases[] = {
      {"wifi0.channel", "Bad Wireless Configuration\n"},
      {"wifi0.country", "Bad Wireless Configuration\n"},
      {"ap.wide_channel", "Bad Wireless Configuration\n"},
      {"wifi0.auto_channel", "Bad Wireless Configuration\n"},
      {"wifi0.rts", "Bad Wireless Configuration\n"},
      {"wifi0.58_channel", "Bad Wireless Configuration\n"},
      {"wifi0.txpower", "Received wifi tx power: 17\n"},
      {"usenodename", "Usenode name not supported yet\n"},
      {"lan_block", "Usenode name not supported yet\n"},
      {"wireless", "Bad Wireless configuration: wireless\nBad Wireless Configuration\n"},
      {"nosuch.key", "Bad Wireless configuration: nosuch.key\nBad Wireless Configuration\n"},
  };
  for (const Case& c : cases) {
    fake.stdout_text.clear();
    apply(c.key, "17");
    EXPECT_EQ(c.printed, fake.stdout_text) << c.key;
  }
  EXPECT_TRUE(fake.commands.empty());
  EXPECT_EQ(0, changes());
  // A foreign key with a wireless code takes that code: ssh is 1, the channel.
  apply("ssh", "1");
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.radio0.channel=1"}), runs());
}

TEST_F(Wireless, OverlongNamesAreCutAndCountOnceButKeysAndTheRadiusServerAreRefused) {
  std::string ssid(80, 'S');
  apply("public.ssid", ssid.c_str());
  apply("public.ssid", ssid.c_str());
  EXPECT_EQ((std::vector<std::string>{"uci set wireless.pub.ssid=" + std::string(49, 'S')}), runs());
  EXPECT_EQ(1, changes());
  // A key cut short is one no client can use: the stored key stays.
  fake.events.clear();
  fake.stdout_text.clear();
  config.wireless.priv_key.set("kept-key");
  config.wireless.pub_key.set("kept-key");
  apply("private.key", std::string(60, 'k').c_str());
  apply("public.key", std::string(50, 'k').c_str());
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("kept-key", std::string(config.wireless.priv_key));
  EXPECT_EQ("kept-key", std::string(config.wireless.pub_key));
  EXPECT_EQ("Private key refused: longer than 49 characters\nPublic key refused: longer than 49 characters\n",
            fake.stdout_text);
  // So is a RADIUS server name, even in the parse that writes it.
  fake.stdout_text.clear();
  config.wireless.enterprise = config.wireless.enterprise_reconfigured = 1;
  config.wireless.radius_server.set("10.0.0.5");
  apply("server", "radius.example.com");
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("10.0.0.5", std::string(config.wireless.radius_server));
  EXPECT_EQ("RADIUS server refused: longer than 16 characters\n", fake.stdout_text);
  // Every character a quote: the whole quoted key still reaches the command.
  std::string quotes(49, '\'');
  apply("private.key", quotes.c_str());
  std::string expected = "uci set wireless.priv.key='";
  for (int i = 0; i < 49; ++i) expected += "'\\''";
  expected += "'\n";
  EXPECT_EQ(expected, runs().back());
}

// The real shell, with a stand-in uci that records its arguments and a
// stand-in x that would show that a value ran as a command.
class WirelessShell : public Wireless {
 protected:
  WirelessShell() {
    fake.real_commands = true;
    bin = fake.path("/bin");
    mkdir(bin.c_str(), 0755);
    script("uci", "printf '%s|' \"$@\" >> " + bin + "/uci.log; echo >> " + bin + "/uci.log");
    script("x", "touch " + bin + "/x.ran");
    old_path = getenv("PATH");
    setenv("PATH", (bin + ":" + old_path).c_str(), 1);
  }
  ~WirelessShell() override { setenv("PATH", old_path.c_str(), 1); }
  void script(const std::string& name, const std::string& body) {
    std::ofstream f(bin + "/" + name);
    f << "#!/bin/sh\n" << body << "\n";
    f.close();
    chmod((bin + "/" + name).c_str(), 0755);
  }
  std::string uci_log() const {
    std::ifstream f(bin + "/uci.log");
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  std::string bin;
  std::string old_path;
};

TEST_F(WirelessShell, KeysReachUciUnchangedAndRunNothingElse) {
  apply("private.key", "pa$$word;x");
  apply("public.key", "it's`x`$(x)");
  apply("private.ssid", "Cafe&x|x");
  EXPECT_EQ(
      "set|wireless.priv.key=pa$$word;x|\n"
      "set|wireless.pub.key=it's`x`$(x)|\n"
      "get|wireless.pub.encryption|\n"
      "set|wireless.priv.ssid=Cafe&x|x|\n",
      uci_log());
  EXPECT_NE(0, access((bin + "/x.ran").c_str(), F_OK));
}
