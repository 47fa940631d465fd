#include "controller/settings/management_settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <string>
#include <vector>

#include "controller/settings/portal.h"
#include "controller/testing/controller_test.h"

namespace {

using Lines = std::vector<std::string>;

class Management : public ControllerTest {
 protected:
  Management() {
    config.management.network.set("old-mesh");
    config.management.root_password.set("s3cret");
    config.management.timezone.set("UTC0");
    fake.add_process(1, "procd", 'S');  // /proc exists; no syslogd yet
  }
  void manage(const char* key, const char* value = "") { apply_management_setting(key, value, config); }
  void general(const char* key, const char* value = "") { apply_general_setting(key, value, config); }
  void forget() {
    fake.events.clear();
    fake.stdout_text.clear();
    fake.logs.clear();
    fake.kills.clear();
  }
};

}  // namespace

TEST_F(Management, EachKeyPrintsAndOnlyChangesRunCommands) {
  struct Case {
    const char* key;
    const char* value;
    const char* printed;
    Lines commands;
  };
  const Case cases[] = {
      {"network",
       "cafe-mesh",
       "Received Network name: cafe-mesh\n",
       {"uci set node.status.network=cafe-mesh", "uci commit node"}},
      {"NETWORK", "cafe-mesh", "Received Network name: cafe-mesh\n", {}},
      {"network", "", "Received Network name: \n", {}},
      {"network",
       "mesh;reboot",
       "Received Network name: mesh;reboot\n",
       {"uci set node.status.network='mesh;reboot'", "uci commit node"}},
      {"dns_alt_srv", "8.8.4.4", "Received DNS alt server: 8.8.4.4\n", {}},
      {"sm", "1", "Received Strict Mesh: 1\n", {}},
      {"gmt_offset", "1", "Received GMT offset: 1\n", {}},
      {"node_id", "7", "Received Node ID: 7\n", {}},
      {"no_inet_check", "1", "Received Intrnet check: 1\n", {}},
      {"reboot_enable", "1", "Management: Received bad configuration\n", {}},
      {"reboot_date", "w", "Management: Received bad configuration\n", {}},
      {"reboot_time", "3", "Management: Received bad configuration\n", {}},
      {"cs_url", "http://x", "Management: Received bad configuration\n", {}},
      {"dns", "1.1.1.1", "Management: Received bad configuration\n", {}},
      // A later group's code 4 is the DNS line.
      {"path", "/fw", "Received DNS alt server: /fw\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.value);
    forget();
    manage(c.key, c.value);
    EXPECT_EQ(c.printed, fake.stdout_text);
    EXPECT_EQ(c.commands, runs());
  }
  EXPECT_EQ("mesh;reboot", std::string(config.management.network));
  for (int count : config.changes.rows) EXPECT_EQ(0, count);
}

TEST_F(Management, RootPasswordIsKeptOnlyOnceTheScriptSucceeded) {
  manage("rootpwd");
  EXPECT_EQ("No Root password changes\n", fake.stdout_text);
  EXPECT_TRUE(runs().empty());

  // The first try fails: nothing is stored, so the same value tries again.
  std::string script;
  int exit_code = 1;
  fake.on_command = [&](const std::string& command, std::string&) {
    if (command.rfind("sh /tmp/chgpasswd", 0) != 0) return -1;
    script = fake.read("/tmp/chgpasswd");
    return exit_code;
  };
  forget();
  manage("rootpwd", "n3w-r00t");
  EXPECT_EQ("Received Root password: n3w-r00t\n", fake.stdout_text);
  EXPECT_EQ((Lines{"sh /tmp/chgpasswd n3w-r00t"}), runs());
  EXPECT_EQ("s3cret", std::string(config.management.root_password));
  EXPECT_FALSE(fake.exists("/tmp/chgpasswd"));
  EXPECT_EQ("#!/bin/sh\nif [ \"$1\" ]; then\npasswd root << EOF\n$1\n$1\nEOF\nfi\n", script);

  exit_code = 0;
  forget();
  manage("rootpwd", "n3w-r00t");
  EXPECT_EQ((Lines{"sh /tmp/chgpasswd n3w-r00t", "uci set node.setting.rootpwd=n3w-r00t", "uci commit node"}), runs());
  EXPECT_EQ("n3w-r00t", std::string(config.management.root_password));
  EXPECT_FALSE(fake.exists("/tmp/chgpasswd"));

  forget();
  manage("rootpwd", "n3w-r00t");
  EXPECT_EQ("Received Root password: n3w-r00t\n", fake.stdout_text);
  EXPECT_TRUE(runs().empty());

  // Shell characters reach both commands as one quoted word.
  forget();
  manage("rootpwd", "a;b$c");
  EXPECT_EQ((Lines{"sh /tmp/chgpasswd 'a;b$c'", "uci set node.setting.rootpwd='a;b$c'", "uci commit node"}), runs());
  EXPECT_EQ("a;b$c", std::string(config.management.root_password));

  // One character beyond the field: cut, it would lock out whoever set it.
  forget();
  std::string overlong(50, 'p');
  manage("rootpwd", overlong.c_str());
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("Received Root password: " + overlong + "\nRoot password refused: longer than 49 characters\n",
            fake.stdout_text);
  EXPECT_EQ("a;b$c", std::string(config.management.root_password));
}

TEST_F(Management, PasswordScriptThatCannotBeWrittenChangesNothing) {
  // /tmp is a file: the script cannot be written.
  std::string tmp = fake.path("/tmp");
  ASSERT_EQ(0, system(("rm -rf '" + tmp + "' && touch '" + tmp + "'").c_str()));
  manage("rootpwd", "n3w-r00t");
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("s3cret", std::string(config.management.root_password));
}

TEST_F(Management, TimeZoneChangesOnceAndReachesTmpTz) {
  manage("tz_offset", "CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ("Received TZ offset: CET-1CEST,M3.5.0,M10.5.0/3\nChanging Timezone\n", fake.stdout_text);
  EXPECT_EQ((Lines{"uci set system.@system[0].timezone=CET-1CEST,M3.5.0,M10.5.0/3", "uci commit system"}), runs());
  EXPECT_EQ("CET-1CEST,M3.5.0,M10.5.0/3\n", fake.read("/tmp/TZ"));

  forget();
  manage("tz_offset", "CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ("Received TZ offset: CET-1CEST,M3.5.0,M10.5.0/3\n", fake.stdout_text);
  EXPECT_TRUE(runs().empty());

  forget();
  manage("tz_offset");
  EXPECT_TRUE(fake.events.empty());

  // A zone without a name has <...>, which the shell would take as redirections.
  forget();
  manage("tz_offset", "<+03>-3");
  EXPECT_EQ((Lines{"uci set system.@system[0].timezone='<+03>-3'", "uci commit system"}), runs());
  EXPECT_EQ("<+03>-3\n", fake.read("/tmp/TZ"));
  EXPECT_EQ("<+03>-3", std::string(config.management.timezone));

  // Without /tmp/TZ the zone is still stored and kept in uci.
  forget();
  fake.remove("/tmp/TZ");
  ASSERT_EQ(0, mkdir(fake.path("/tmp/TZ").c_str(), 0755));
  manage("tz_offset", "EST5EDT");
  EXPECT_EQ("Received TZ offset: EST5EDT\n", fake.stdout_text);
  EXPECT_EQ("EST5EDT", std::string(config.management.timezone));
  EXPECT_EQ("EST5EDT", fake.uci["system.@system[0].timezone"]);
}

TEST(PortalName, OffStopsTheStoredPortalEveryTimeOnStopsItOnlyForANewName) {
  struct Case {
    int enable;
    bool differs;
    bool stop;
    bool store;
  };
  const Case cases[] = {
      {0, true, true, false}, {0, false, true, false},  {2, true, true, false},
      {1, true, true, true},  {1, false, false, false},
  };
  for (const Case& c : cases) {
    PortalNameStep step = portal_name_step(c.enable, c.differs);
    EXPECT_EQ(c.stop, step.stop_stored) << c.enable << c.differs;
    EXPECT_EQ(c.store, step.store_received) << c.enable << c.differs;
  }
}

TEST_F(Management, PortalNameIsKeptOnlyWhileThePortalIsOn) {
  manage("cp_name", "chilli");
  EXPECT_EQ("Received Captive Portal name: chilli\n", fake.stdout_text);
  EXPECT_EQ("", std::string(config.management.portal_name));

  forget();
  manage("cp_enable", "1");
  manage("cp_name", "chilli");
  EXPECT_EQ("Received Captive portale Enable: 1\nReceived Captive Portal name: chilli\n", fake.stdout_text);
  EXPECT_EQ(1, config.management.portal_enable);
  EXPECT_EQ("chilli", std::string(config.management.portal_name));

  // Lines without a value change nothing.
  forget();
  manage("cp_enable");
  manage("cp_name");
  EXPECT_EQ("Received Captive portale Enable: 0\nReceived Captive Portal name: \n", fake.stdout_text);
  EXPECT_EQ(1, config.management.portal_enable);
  EXPECT_EQ("chilli", std::string(config.management.portal_name));

  // cp_enable is stored without comparison; off keeps the old name.
  manage("cp_enable", "0");
  manage("cp_name", "nodogsplash");
  EXPECT_EQ(0, config.management.portal_enable);
  EXPECT_EQ("chilli", std::string(config.management.portal_name));
  for (int count : config.changes.rows) EXPECT_EQ(0, count);
}

TEST_F(Management, PortalNameStopsTheOldPortalThroughItsInitScript) {
  fake.uci["dhcp.pub.ipaddr"] = "10.3.48.1";
  config.management.portal_name.set("chilli");
  auto stops = [&] {
    int n = 0;
    for (const std::string& r : runs()) n += r == "/etc/init.d/chilli stop" ? 1 : 0;
    return n;
  };
  // Off: every cp_name line stops the stored portal again.
  manage("cp_name", "chilli");
  manage("cp_name", "nodogsplash");
  EXPECT_EQ(2, stops());
  // On: the same name stops nothing, a new one stops the old portal.
  forget();
  manage("cp_enable", "1");
  manage("cp_name", "chilli");
  EXPECT_EQ(0, stops());
  manage("cp_name", "nodogsplash");
  EXPECT_EQ(1, stops());
  EXPECT_EQ("nodogsplash", std::string(config.management.portal_name));
  forget();
  manage("cp_name", "chilli");
  Lines r = runs();
  EXPECT_NE(r.end(), std::find(r.begin(), r.end(), "/etc/init.d/nodogsplash stop"));
}

TEST_F(Management, HostNameReachesUciAndTheKernel) {
  fake.write("/proc/sys/kernel/hostname", "OpenWrt");
  general("hostname", "cafe-node-7");
  EXPECT_EQ("Hostname: cafe-node-7\nChanging hostname\n", fake.stdout_text);
  EXPECT_EQ((Lines{"uci set system.@system[0].hostname=cafe-node-7", "uci commit system"}), runs());
  EXPECT_EQ("cafe-node-7", fake.read("/proc/sys/kernel/hostname"));

  forget();
  general("HOSTNAME", "cafe-node-7");
  EXPECT_EQ("Hostname: cafe-node-7\n", fake.stdout_text);
  EXPECT_TRUE(runs().empty());

  forget();
  general("hostname");
  EXPECT_EQ("Hostname: \n", fake.stdout_text);
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("cafe-node-7", std::string(config.general.hostname));

  // Stored even when the kernel file cannot be written.
  forget();
  fake.remove("/proc/sys/kernel/hostname");
  ASSERT_EQ(0, mkdir(fake.path("/proc/sys/kernel/hostname").c_str(), 0755));
  general("hostname", "node$(id)");
  EXPECT_EQ("Hostname: node$(id)\n", fake.stdout_text);
  EXPECT_EQ((Lines{"uci set system.@system[0].hostname='node$(id)'", "uci commit system"}), runs());
  EXPECT_EQ("node$(id)", std::string(config.general.hostname));
}

TEST_F(Management, RemoteSyslogNeedsTheEnableFirstAndRestartsSyslogd) {
  fake.add_process(300, "syslogd", 'S');
  // Disabled: the server line is ignored.
  general("syslog_server", "10.9.9.10");
  EXPECT_TRUE(fake.events.empty());
  EXPECT_EQ("", std::string(config.general.syslog_server));

  general("syslog", "1");
  EXPECT_EQ("Syslog Server Enable/Disable: 1\n", fake.stdout_text);
  EXPECT_EQ((Lines{"Syslog process id 300", "Remote log server enable"}), logs(LOG_INFO));
  EXPECT_TRUE(fake.kills.empty());
  EXPECT_TRUE(runs().empty());

  forget();
  general("syslog_server", "10.9.9.10");
  EXPECT_EQ((Lines{"syslogd pid:300", "New remote server:10.9.9.10"}), logs(LOG_INFO));
  EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{300, SIGKILL}}), fake.kills);
  EXPECT_EQ((Lines{"/sbin/syslogd -R 10.9.9.10 -C16"}), runs());
  EXPECT_EQ("", fake.stdout_text);

  forget();
  general("syslog_server", "10.9.9.10");
  general("syslog_server");
  general("syslog", "1");
  EXPECT_TRUE(runs().empty());
  EXPECT_TRUE(fake.kills.empty());

  forget();
  general("syslog", "0");
  EXPECT_EQ((Lines{"Syslogd process id 300", "Disable Syslog server"}), logs(LOG_INFO));
  EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{300, SIGKILL}}), fake.kills);
  EXPECT_EQ((Lines{"/sbin/syslogd -C16"}), runs());
  EXPECT_EQ("none", std::string(config.general.syslog_server));

  // Enabled again, the same server counts as new.
  forget();
  general("syslog", "1");
  general("syslog_server", "log.example;reboot");
  EXPECT_EQ((Lines{"/sbin/syslogd -R 'log.example;reboot' -C16"}), runs());
}

TEST_F(Management, SyslogWithoutADaemonOnlyChangesTheStoredValues) {
  config.general.syslog_enable = 1;
  config.general.syslog_server.set("10.9.9.10");
  general("syslog_server", "10.9.9.11");
  EXPECT_EQ((Lines{"syslogd pid:-1", "New remote server:10.9.9.11"}), logs(LOG_INFO));
  EXPECT_EQ("10.9.9.11", std::string(config.general.syslog_server));
  EXPECT_TRUE(runs().empty());

  forget();
  general("syslog", "0");
  EXPECT_EQ((Lines{"Syslogd process id -1", "Disable Syslog server"}), logs(LOG_INFO));
  EXPECT_TRUE(runs().empty());
  EXPECT_TRUE(fake.kills.empty());
  EXPECT_EQ("none", std::string(config.general.syslog_server));
  EXPECT_EQ(0, config.general.syslog_enable);

  // No value: nothing; neither 0 nor 1: only stored, nothing killed.
  forget();
  fake.add_process(300, "syslogd", 'S');
  general("syslog", "");
  general("syslog", "7");
  general("syslog", "0");
  EXPECT_EQ(0, config.general.syslog_enable);
  EXPECT_TRUE(fake.kills.empty());
  EXPECT_TRUE(logs(LOG_INFO).empty());
  EXPECT_EQ("Syslog Server Enable/Disable: 7\nSyslog Server Enable/Disable: 0\n", fake.stdout_text);
}

TEST_F(Management, GeneralKeysOutsideTheGroupAreBadOptions) {
  for (const char* key : {"dns", "sum", "path", "cp_name"}) {
    forget();
    general(key, "1");
    EXPECT_EQ("General: Bad Option\n", fake.stdout_text) << key;
  }
  // "date" is code 1 of a later group: the syslog line.
  forget();
  general("date", "1");
  EXPECT_EQ("Syslog Server Enable/Disable: 1\n", fake.stdout_text);
}
