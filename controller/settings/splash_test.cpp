#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/settings/portal.h"
#include "controller/testing/controller_test.h"

namespace {

using Strings = std::vector<std::string>;

const char kUrl[] = "http://splash.example/pages.tgz";
const char kWget[] = "wget --no-cache http://splash.example/pages.tgz -O /tmp/splash.tar.gz";

class Splash : public ControllerTest {
 protected:
  Splash() {
    config.captive_portal.splash_url.set("none");  // as loaded at start-up
    // wget leaves the archive behind, as it does on the node.
    fake.on_command = [this](const std::string& command, std::string&) {
      if (command.rfind("wget ", 0) == 0 && download_arrives) fake.write("/tmp/splash.tar.gz", "archive");
      return -1;
    };
  }
  bool download_arrives = true;
};

}  // namespace

TEST_F(Splash, OnlyTheSplashKeyIsTaken) {
  EXPECT_EQ(1, apply_splash_setting("GatewayName", kUrl, config));
  EXPECT_EQ(0, apply_splash_setting("SPLASHURL", "", config));
  EXPECT_EQ("none", std::string(config.captive_portal.splash_url));
  EXPECT_EQ(0, config.captive_portal.enable);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Splash, NoneIsStoredAndNothingIsDownloaded) {
  // Unchanged "none": no restart either.
  EXPECT_EQ(0, apply_splash_setting("SplashURl", "none", config));
  EXPECT_EQ(0, config.captive_portal.enable);
  config.captive_portal.splash_url.set(kUrl);
  EXPECT_EQ(0, apply_splash_setting("SplashURl", "none", config));
  EXPECT_EQ("none", std::string(config.captive_portal.splash_url));
  EXPECT_EQ(1, config.captive_portal.enable);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Splash, EveryUrlLineInstallsThePagesAndOnlyAChangeAsksForARestart) {
  EXPECT_EQ(0, apply_splash_setting("splashurl", kUrl, config));
  EXPECT_EQ(1, config.captive_portal.enable);
  EXPECT_EQ(kUrl, std::string(config.captive_portal.splash_url));
  const Strings install = {std::string("run ") + kWget,
                           "run tar xzvf /tmp/splash.tar.gz -C /tmp/ndsplash",
                           "run rm -rf /etc/nodogsplash/htdocs/images",
                           "run cp -r /tmp/ndsplash/* /etc/nodogsplash/htdocs/",
                           "sleep 1",
                           "run rm -rf /tmp/ndsplash",
                           "sleep 1"};
  EXPECT_EQ(install, events({"run ", "sleep "}));
  EXPECT_FALSE(fake.exists("/tmp/splash.tar.gz"));

  // The same URL again: installed again, no restart asked for.
  fake.events.clear();
  config.captive_portal.enable = 0;
  rmdir(fake.path("/tmp/ndsplash").c_str());  // the fake's rm -rf removes nothing
  EXPECT_EQ(0, apply_splash_setting("SplashURl", kUrl, config));
  EXPECT_EQ(0, config.captive_portal.enable);
  EXPECT_EQ(install, events({"run ", "sleep "}));
}

TEST_F(Splash, FailedDownloadOrUnpackKeepsThePagesInPlace) {
  download_arrives = false;
  install_splash_page(kUrl);
  EXPECT_EQ((Strings{kWget}), runs());

  // An archive that does not unpack: the images stay, the leftovers go.
  download_arrives = true;
  fake.events.clear();
  fake.exit_codes["tar xzvf /tmp/splash.tar.gz -C /tmp/ndsplash"] = 2;
  install_splash_page(kUrl);
  EXPECT_EQ((Strings{kWget, "tar xzvf /tmp/splash.tar.gz -C /tmp/ndsplash", "rm -rf /tmp/ndsplash"}), runs());
  EXPECT_NE(std::string::npos,
            fake.stdout_text.find("Unable to unpack the splash pages: the pages in place are kept\n"));
  EXPECT_FALSE(fake.exists("/tmp/splash.tar.gz"));

  // The unpack folder is still there (left by an earlier install): stop.
  fake.events.clear();
  install_splash_page(kUrl);
  EXPECT_EQ((Strings{kWget}), runs());
}

TEST_F(Splash, UrlsReachWgetAsOneWordAndNeverAsAnOption) {
  install_splash_page("http://splash.example/a b;reboot");
  EXPECT_EQ("wget --no-cache 'http://splash.example/a b;reboot' -O /tmp/splash.tar.gz", runs().at(0));

  fake.events.clear();
  fake.stdout_text.clear();
  config.captive_portal.splash_url.set("none");
  EXPECT_EQ(0, apply_splash_setting("SplashURl", "--output-document=/etc/passwd", config));
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("Splash URL refused: \"--output-document=/etc/passwd\" starts with '-'\n", fake.stdout_text);
}

TEST_F(Splash, UrlBeyondItsFieldIsRefusedNotCut) {
  std::string url = "http://splash.example/" + std::string(400, 'p');
  config.captive_portal.splash_url.set("none");
  EXPECT_EQ(0, apply_splash_setting("SplashURl", url.c_str(), config));
  EXPECT_EQ("none", std::string(config.captive_portal.splash_url));
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("Splash URL refused: longer than 255 characters\n", fake.stdout_text);
}
