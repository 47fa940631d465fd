#include "controller/settings/portal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "controller/after_apply.h"
#include "controller/config_parser.h"
#include "controller/settings/management_settings.h"
#include "controller/testing/controller_test.h"

namespace {

const char kDefaults[] = "/etc/chilli/defaults";
const char kNodogConf[] = "/etc/nodogsplash/nodogsplash.conf";
const char kChilliRestartOut[] = "/etc/init.d/chilli start";

class Portal : public ControllerTest {
 protected:
  Portal() { fake.uci = {{"dhcp.pub.ipaddr", "10.3.48.1"}, {"dhcp.pub.netmask", "255.255.252.0"}}; }

  // What the node saw: printed lines, commands and pauses, in order.
  std::vector<std::string> steps() const {
    std::vector<std::string> out;
    for (const std::string& e : events({"out ", "run ", "sleep "})) {
      if (e != "out \n") out.push_back(e);
    }
    return out;
  }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(Portal, KindsByExactName) {
  EXPECT_EQ(0, portal_kind("chilli"));
  EXPECT_EQ(1, portal_kind("nodogsplash"));
  for (const char* other : {"Chilli", "nodog", "", "chilli "}) EXPECT_EQ(2, portal_kind(other)) << other;
  EXPECT_EQ(2, portal_kind(nullptr));
}

TEST_F(Portal, EachKindAndActionRunsItsSteps) {
  struct Row {
    int kind;
    int action;
    Strings steps;
  };
  const Row rows[] = {
      {0, 0, {"out Setting up the Chilli configuration", "out Start chilli", "run /etc/init.d/chilli start"}},
      {0,
       1,
       {"out Stop Chilli", "run /etc/init.d/chilli stop", "sleep 10",
        "run ifconfig br-pub `uci get dhcp.pub.ipaddr` netmask 255.255.252.0 up"}},
      {0,
       2,
       {"out Setting up the Chilli New configuration", "out Restart Chilli", "run /etc/init.d/chilli stop", "sleep 10",
        "run /etc/init.d/chilli start"}},
      {1,
       0,
       {"out Setting up the Nodogsplash configuraiton", "out Start Nodogsplash", "run /etc/init.d/nodogsplash start"}},
      {1, 1, {"out Stop Nodogsplash", "run /etc/init.d/nodogsplash stop"}},
      {1,
       2,
       {"out Setting up the Nodogsplash new configuration", "out Restart Nodogsplash",
        "run /etc/init.d/nodogsplash stop", "sleep 10", "run /etc/init.d/nodogsplash start"}},
      {2, 0, {}},
      {2, 1, {}},
      {0, 3, {}},
  };
  for (const Row& row : rows) {
    fake.events.clear();
    control_portal(row.kind, row.action);
    EXPECT_EQ(row.steps, steps()) << row.kind << "/" << row.action;
  }
}

TEST_F(Portal, ResultIsTheLastCommandsStatus) {
  fake.exit_codes["/etc/init.d/chilli start"] = 1;
  fake.exit_codes["/etc/init.d/nodogsplash stop"] = 3;
  EXPECT_EQ(1 << 8, control_portal(0, 0));
  EXPECT_EQ(1 << 8, control_portal(0, 2));  // the stop's 0 comes before
  EXPECT_EQ(3 << 8, control_portal(1, 1));
  EXPECT_EQ(0, control_portal(0, 1));
  EXPECT_EQ(1, control_portal(2, 0));
  EXPECT_EQ(2, control_portal(0, 3));
  EXPECT_EQ(2, control_portal(1, -1));
}

TEST_F(Portal, RestartMergesBeforeStoppingAndTheNewSettingsAreUsedUp) {
  fake.write(kDefaults, "HS_LANIF=eth1\nHS_UAMPORT=3990\n");
  fake.write(kChilliSettingsFile, "HS_LANIF=br-pub\n");
  control_portal(0, 2);
  EXPECT_EQ((Strings{"out Setting up the Chilli New configuration", "out File: /etc/chilli/defaults exist\n",
                     "out File:/tmp/chilli_config exist\n", "sleep 1", "out Restart Chilli",
                     "run /etc/init.d/chilli stop", "sleep 10", "run /etc/init.d/chilli start"}),
            steps());
  EXPECT_EQ("HS_LANIF=br-pub\nHS_UAMPORT=3990\n", fake.read(kDefaults));
  EXPECT_FALSE(fake.exists(kChilliSettingsFile));
}

TEST_F(Portal, MergeWalk) {
  struct Case {
    const char* what;
    int kind;
    std::string config;
    std::string updates;
    std::string merged;
  };
  const std::string comment_300 = "# " + std::string(280, 'x') + " HS_UAMLISTEN\n";
  const std::string plain_300 = "HS_UAMFORMAT=" + std::string(287, 'y') + "\n";
  const Case cases[] = {
      {"the two keys replaced, the rest kept", 0,
       "# chilli defaults\nHS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMLISTEN=10.1.0.1\nHS_UAMPORT=3990\n",
       "HS_LANIF=br-pub\nHS_UAMLISTEN=10.3.48.1\n",
       "# chilli defaults\nHS_LANIF=br-pub\nHS_NETWORK=10.1.0.0\nHS_UAMLISTEN=10.3.48.1\nHS_UAMPORT=3990\n"},
      {"a key the file lacks: the file from there on unchanged, later new lines lost", 0,
       "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=3990\n",
       "HS_LANIF=br-pub\nHS_RADIUS=radius.example\nHS_UAMPORT=4000\n",
       "HS_LANIF=br-pub\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=3990\n"},
      {"reverse order: only the first new line is placed", 0, "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=3990\n",
       "HS_UAMPORT=4000\nHS_NETWORK=10.3.48.0\nHS_LANIF=br-pub\n",
       "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=4000\n"},
      {"a key inside a comment or a longer name that comes first", 0,
       "# set HS_UAMPORT below\nHS_UAMPORT=3990\nHS_LANIF_2=eth2\nHS_LANIF=eth1\n",
       "HS_UAMPORT=4000\nHS_LANIF=br-pub\n", "HS_UAMPORT=4000\nHS_UAMPORT=3990\nHS_LANIF=br-pub\nHS_LANIF=eth1\n"},
      {"a blank new line takes the place of the next configuration line", 0,
       "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=3990\n", "HS_LANIF=br-pub\n\nHS_UAMPORT=4000\n",
       "HS_LANIF=br-pub\n\nHS_UAMPORT=4000\n"},
      {"a last new line without a line end keeps the rest of the file on lines of its own", 0,
       "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=3990\n", "HS_LANIF=br-pub",
       "HS_LANIF=br-pub\nHS_NETWORK=10.1.0.0\nHS_UAMPORT=3990\n"},
      {"a configuration file whose last line lacks a line end", 0, "HS_LANIF=eth1\nHS_UAMPORT=3990",
       "HS_LANIF=br-pub\n", "HS_LANIF=br-pub\nHS_UAMPORT=3990"},
      {"no new settings: the file as it was", 0, "HS_LANIF=eth1\n", "", "HS_LANIF=eth1\n"},
      {"nodogsplash keys end at a blank", 1, "GatewayInterface br-lan\nMaxClients 20\nGatewayName Node\n",
       "GatewayInterface br-pub\nGatewayName Cafe\n", "GatewayInterface br-pub\nMaxClients 20\nGatewayName Cafe\n"},
      {"lines beyond 255 characters stay whole: a long comment with the key is replaced as one line", 0,
       "HS_LANIF=eth1\n" + plain_300 + comment_300 + "HS_UAMLISTEN=10.1.0.1\n", "HS_UAMLISTEN=10.3.48.1\n",
       "HS_LANIF=eth1\n" + plain_300 + "HS_UAMLISTEN=10.3.48.1\nHS_UAMLISTEN=10.1.0.1\n"},
  };
  for (const Case& c : cases) {
    const char* file = c.kind == 0 ? kDefaults : kNodogConf;
    const char* updates = c.kind == 0 ? kChilliSettingsFile : kSplashSettingsFile;
    fake.write(file, c.config);
    fake.write(updates, c.updates);
    EXPECT_EQ(0, merge_portal_config(file, updates, c.kind)) << c.what;
    EXPECT_EQ(c.merged, fake.read(file)) << c.what;
    EXPECT_FALSE(fake.exists(updates)) << c.what;
    EXPECT_FALSE(fake.exists(std::string(file) + ".tmp")) << c.what;
  }
}

TEST_F(Portal, MergeReplacesTheFileInPlaceWithItsMode) {
  // Not what a new file gets under any common umask.
  fake.write(kDefaults, "HS_LANIF=eth1\n");
  chmod(fake.path(kDefaults).c_str(), 0604);
  struct stat before;
  ASSERT_EQ(0, stat(fake.path(kDefaults).c_str(), &before));
  fake.write(kChilliSettingsFile, "HS_LANIF=br-pub\n");
  EXPECT_EQ(0, merge_portal_config(kDefaults, kChilliSettingsFile, 0));
  struct stat after;
  ASSERT_EQ(0, stat(fake.path(kDefaults).c_str(), &after));
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over the old one
  EXPECT_EQ(0604u, after.st_mode & 07777);
  EXPECT_EQ((std::vector<unsigned>{1}), fake.sleeps);
  // No shell command takes part in the merge.
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Portal, MergeThatCannotTakePlaceKeepsBothFiles) {
  // Missing files and kind 2: nothing happens.
  EXPECT_EQ(1, merge_portal_config(kDefaults, kChilliSettingsFile, 0));
  fake.write(kDefaults, "HS_LANIF=eth1\n");
  EXPECT_EQ(1, merge_portal_config(kDefaults, kChilliSettingsFile, 0));
  EXPECT_EQ("File: /etc/chilli/defaults exist\n", fake.stdout_text);
  fake.write(kChilliSettingsFile, "HS_LANIF=br-pub\n");
  fake.stdout_text.clear();
  EXPECT_EQ(1, merge_portal_config(kDefaults, kChilliSettingsFile, 2));
  EXPECT_EQ("Bad captive portal type\n", fake.stdout_text);

  // The merged file cannot be created.
  mkdir(fake.path("/etc/chilli/defaults.tmp").c_str(), 0755);
  fake.stdout_text.clear();
  EXPECT_EQ(0, merge_portal_config(kDefaults, kChilliSettingsFile, 0));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Unable to open temporary file!!\n"));
  EXPECT_EQ("HS_LANIF=eth1\n", fake.read(kDefaults));
  EXPECT_EQ("HS_LANIF=br-pub\n", fake.read(kChilliSettingsFile));
  rmdir(fake.path("/etc/chilli/defaults.tmp").c_str());

  // A line too long to hold whole stops the merge instead of splitting it.
  std::string huge = "# " + std::string(5000, 'z') + "\nHS_LANIF=eth1\n";
  fake.write(kDefaults, huge);
  fake.stdout_text.clear();
  EXPECT_EQ(1, merge_portal_config(kDefaults, kChilliSettingsFile, 0));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Unable to merge /etc/chilli/defaults: left as it was\n"));
  EXPECT_EQ(huge, fake.read(kDefaults));
  EXPECT_EQ("HS_LANIF=br-pub\n", fake.read(kChilliSettingsFile));
  EXPECT_FALSE(fake.exists("/etc/chilli/defaults.tmp"));
}

TEST_F(Portal, NetworkLinesForChilli) {
  std::string path = fake.path("/tmp/lines");
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(nullptr, f);
  write_portal_network(f);
  fclose(f);
  EXPECT_EQ("HS_LANIF=br-pub\nHS_NETWORK=10.3.48.0\nHS_NETMASK=255.255.252.0\nHS_UAMLISTEN=10.3.48.1\n",
            fake.read("/tmp/lines"));
  EXPECT_EQ("ipaddr: 10.3.48.1\nnetmask: 255.255.252.0\nNetwork: 10.3.48.0\n", fake.stdout_text);
}

TEST_F(Portal, AfterApplyRestartsARunningPortalWithNewSettingsAndStartsOneThatIsNotRunning) {
  config.management.portal_enable = 1;
  config.management.portal_name.set("chilli");
  config.captive_portal.enable = 1;
  fake.add_process(812, "chilli", 'S');
  run_after_apply(config);
  EXPECT_EQ((Strings{"/etc/init.d/chilli stop", kChilliRestartOut}), runs());

  // Without new settings a running portal is left alone.
  fake.events.clear();
  config.captive_portal.enable = 0;
  run_after_apply(config);
  EXPECT_TRUE(runs().empty());
}

// cp_enable 1, then cp_name nodogsplash while chilli is the stored name and
// runs: the management applier stops chilli at once (action 1 of the stored
// kind, then the new name is stored), and the after-apply step starts
// nodogsplash with its merged configuration.
TEST_F(Portal, SwitchFromChilliToNodogsplash) {
  config.management.portal_enable = 1;
  config.management.portal_name.set("chilli");
  fake.add_process(812, "chilli", 'S');
  fake.write(kNodogConf, "GatewayInterface br-lan\nGatewayName Node\n");
  fake.write(kSplashSettingsFile, "GatewayInterface br-pub\n");

  apply_management_setting("cp_enable", "1", config);
  apply_management_setting("cp_name", "nodogsplash", config);
  EXPECT_EQ("nodogsplash", std::string(config.management.portal_name));
  run_after_apply(config);

  EXPECT_EQ((Strings{"/etc/init.d/chilli stop", "ifconfig br-pub `uci get dhcp.pub.ipaddr` netmask 255.255.252.0 up",
                     "/etc/init.d/nodogsplash start"}),
            runs());
  EXPECT_EQ((Strings{"sleep 10", "sleep 1"}), events({"sleep "}));
  EXPECT_EQ((Strings{"nodogsplash Not Running: Starting"}), logs(LOG_INFO));
  EXPECT_EQ("GatewayInterface br-pub\nGatewayName Node\n", fake.read(kNodogConf));
  std::string out = fake.stdout_text;
  EXPECT_LT(out.find("Stop Chilli\n"), out.find("Setting up the Nodogsplash configuraiton\n"));
  EXPECT_LT(out.find("management counter: 0\n"), out.find("Setting up the Nodogsplash configuraiton\n"));
}

// The new-settings flag outlives its parse: a portal section's first line
// sets or clears it, a changed splash URL sets it, and every parse that ends
// with it set restarts the running portal in its after-apply step.
TEST_F(Portal, NewSettingsFlagAcrossParses) {
  config.management.portal_enable = 1;
  config.management.portal_name.set("nodogsplash");
  config.captive_portal.splash_url.set("none");
  fake.add_process(813, "nodogsplash", 'S');
  const Strings restart = {"/etc/init.d/nodogsplash stop", "/etc/init.d/nodogsplash start"};
  const std::string wget = "wget --no-cache http://splash.example/b.tgz -O /tmp/splash.tar.gz";
  const std::string new_url = "#@#config nodog\nenable 0\nsplashurl http://splash.example/b.tgz\n";
  const struct {
    std::string reply;
    Strings runs;
  } parses[] = {
      {"#@#config nodog\nenable 1\nGatewayName Cafe\n", restart},
      {"", restart},  // no portal section: the flag stays
      {"#@#config nodog\nenable 0\n", {}},
      {new_url, {wget, restart[0], restart[1]}},
      {new_url, {wget}},  // the same URL: installed again, no restart
  };
  for (const auto& p : parses) {
    SCOPED_TRACE(p.reply);
    fake.events.clear();
    fake.write("/tmp/.received", p.reply);
    parse_config_reply("/tmp/.received", config);
    EXPECT_EQ(p.runs, runs());
  }
}
