#include "controller/settings/firmware_upgrade.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "controller/config_parser.h"
#include "controller/controller_loop.h"
#include "controller/device_identity.h"
#include "controller/settings/custom_script.h"
#include "controller/testing/controller_test.h"

namespace {

using Strings = std::vector<std::string>;

const char kSum[] = "0cc175b9c0f1b6a831c399e269772661";
const char kMd5Command[] = "md5sum /tmp/.firmware/flx-pico2hp.bin | awk '{print $1}'";
const char kWget[] = "wget http://fw.example/images/flx-pico2hp.bin --directory-prefix=/tmp/.firmware";
const char kDownload[] = "/tmp/.firmware/flx-pico2hp.bin";
// Not only a version line: the copy must keep every byte.
const char kVersionBytes[] = "2.4.1\nbuilt 2026-03-01\r\n\x01\xff\0end";
const std::string kVersionFile(kVersionBytes, sizeof(kVersionBytes) - 1);

const char kScriptText[] =
    "#!/bin/sh\nsleep 10\necho Terminating Dashboard Controller\npkill fleetlink_supervisor\npkill clientscout\n"
    "pkill ifcounter\nsleep 10\nif [ -e /tmp/flx-pico2hp.bin ]; then\n\techo starting upgrade\n"
    "\t/sbin/sysupgrade -v /tmp/flx-pico2hp.bin\nelse\n\techo file not exist terminating upgrade\nfi\nexit 0\n";

class Firmware : public ControllerTest {
 protected:
  Firmware() {
    fake.write("/etc/fw_a_version", kVersionFile);
    fake.outputs[kMd5Command] = std::string(kSum) + "\n";
    // wget leaves the image in its folder, as it does on the node; the sum
    // is computed while the name the script flashes is still free.
    fake.on_command = [this](const std::string& command, std::string&) {
      if (command.rfind("wget ", 0) == 0 && image_arrives) fake.write(kDownload, "image");
      if (command == kMd5Command) flashable_while_checked = fake.exists(kFirmwareImage);
      return -1;
    };
    FirmwareSettings& fw = config.firmware;
    fw.upgrade = 1;
    fw.version.set("2.5.0");
    fw.md5sum.set(kSum);
    fw.path.set("http://fw.example/images");
    upgrade_pending = 1;
  }
  bool image_arrives = true;
  bool flashable_while_checked = false;
};

}  // namespace

TEST_F(Firmware, ImageSettingsCountOnlyOnceTheUpgradeIsEnabled) {
  config.firmware = FirmwareSettings();
  config.firmware.version.set("none");
  // Lines before the upgrade line are ignored while it is 0.
  EXPECT_EQ(0, apply_upgrade_setting("version", "2.5.0", config));
  EXPECT_EQ(0, apply_upgrade_setting("sum", kSum, config));
  EXPECT_EQ(0, apply_upgrade_setting("path", "http://fw.example/images", config));
  EXPECT_EQ("none", std::string(config.firmware.version));
  EXPECT_EQ(0, config.changes[kRowFwupgrade]);

  EXPECT_EQ(0, apply_upgrade_setting("UPGRADE", "1", config));
  EXPECT_EQ(0, apply_upgrade_setting("version", "2.5.0", config));
  EXPECT_EQ(0, apply_upgrade_setting("sum", kSum, config));
  EXPECT_EQ(0, apply_upgrade_setting("path", "http://fw.example/images", config));
  EXPECT_EQ(0, apply_upgrade_setting("path", "http://fw.example/images", config));  // unchanged
  EXPECT_EQ(4, config.changes[kRowFwupgrade]);
  EXPECT_EQ(1, config.firmware.upgrade);
  EXPECT_EQ("2.5.0", std::string(config.firmware.version));
  EXPECT_EQ(kSum, std::string(config.firmware.md5sum));
  EXPECT_EQ("http://fw.example/images", std::string(config.firmware.path));
  EXPECT_EQ("UPGRADE\nValue in strcut: 0\t received:1\nFirmware upgrade changed\n", fake.stdout_text);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Firmware, AutoAndUpgradeLinesWithTheirMessages) {
  config.firmware = FirmwareSettings();
  EXPECT_EQ(0, apply_upgrade_setting("auto", "1", config));
  EXPECT_EQ(0, apply_upgrade_setting("auto", "1", config));
  EXPECT_EQ(0, apply_upgrade_setting("upgrade", "", config));
  EXPECT_EQ(1, apply_upgrade_setting("cs_md5", "1", config));  // not a firmware row: silent
  EXPECT_EQ(1, apply_upgrade_setting("bogus", "1", config));
  EXPECT_EQ("AUTO\nFirmware auto changed\nAUTO\nUPGRADE\nValue in strcut: 0\t received:0\n", fake.stdout_text);
  EXPECT_EQ(1, config.firmware.auto_upgrade);
  EXPECT_EQ(0, config.changes[kRowFwupgrade]);  // auto raises no count
}

// A value cut to its field would name another image, or a version that the
// flashed image never reports (a flash at every start): the offer goes.
TEST_F(Firmware, OverlongImageSettingsWithdrawTheOfferInsteadOfBeingCut) {
  const std::string long_version = "2.5.0-rc1-20260301";  // 18 characters fit the 20-byte field
  EXPECT_EQ(0, apply_upgrade_setting("version", (long_version + "-b7").c_str(), config));
  EXPECT_EQ("none", std::string(config.firmware.version));
  EXPECT_EQ(0, config.changes[kRowFwupgrade]);
  EXPECT_EQ(0, run_firmware_upgrade(config.firmware));
  EXPECT_EQ(
      "Firmware version refused: longer than 19 characters\n"
      "Firmware upgrade enable from dashboard\nReceived NULL firmware version\n",
      fake.stdout_text);
  EXPECT_TRUE(fake.commands.empty());

  apply_upgrade_setting("version", long_version.c_str(), config);
  EXPECT_EQ(long_version, std::string(config.firmware.version));
  std::string long_path = "http://fw.example/" + std::string(240, 'd');
  apply_upgrade_setting("path", long_path.c_str(), config);
  EXPECT_EQ("", std::string(config.firmware.path));
  apply_upgrade_setting("sum", std::string(300, 'a').c_str(), config);
  EXPECT_EQ("refused", std::string(config.firmware.md5sum));  // passes no image
  EXPECT_FALSE(firmware_sum_matches(config.firmware.md5sum, kSum));
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Firmware, NoDownloadWhileTheUpgradeScriptRuns) {
  fake.write(kFirmwareImage, "checked image");
  fake.write(kUpgradeScript, kScriptText);
  fake.add_process(612, "sh", 'S');
  fake.write("/proc/612/cmdline", std::string("sh\0-x\0/tmp/upgrade.sh\0", 22));
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Firmware upgrade already under way: nothing downloaded\n"));
  EXPECT_TRUE(runs().empty());
  EXPECT_EQ("checked image", fake.read(kFirmwareImage));

  // A script whose run has ended (its flash failed) no longer holds it back.
  fake.remove("/proc/612/cmdline");
  fake.remove("/proc/612/stat");
  EXPECT_EQ(0, run_firmware_upgrade(config.firmware));
  EXPECT_EQ((Strings{kWget, "sh -x /tmp/upgrade.sh"}), runs());
}

TEST_F(Firmware, NewVersionIsDownloadedCheckedAndFlashedByTheScript) {
  EXPECT_EQ(0, run_firmware_upgrade(config.firmware));
  EXPECT_EQ((Strings{std::string("run ") + kWget, std::string("read ") + kMd5Command, "run sh -x /tmp/upgrade.sh"}),
            events({"run ", "read "}));
  EXPECT_EQ(
      "Firmware upgrade enable from dashboard\n"
      "2.4.1\n"
      "current:2.4.1\t New:2.5.0\n"
      "Received SUM: 0cc175b9c0f1b6a831c399e269772661\n"
      "Generated SUM: 0cc175b9c0f1b6a831c399e269772661\n"
      "MD5 MATCH: Success\n",
      fake.stdout_text);
  EXPECT_EQ(kVersionFile, fake.read("/etc/fw_a_version.old"));
  EXPECT_EQ(kScriptText, fake.read(kUpgradeScript));
  // Only the checked image takes the name the script flashes.
  EXPECT_FALSE(flashable_while_checked);
  EXPECT_EQ("image", fake.read(kFirmwareImage));
  EXPECT_FALSE(fake.exists(kDownload));
  EXPECT_EQ(1, upgrade_pending);
}

TEST_F(Firmware, VersionTestsBeforeAnyDownload) {
  struct Case {
    const char* what;
    int upgrade;
    int auto_upgrade;
    const char* version;
    int result;
    int pending_after;
    const char* printed;
  };
  const Case cases[] = {
      {"neither upgrade nor auto", 0, 0, "2.5.0", 1, 1, ""},
      {"the version none", 1, 0, "none", 0, 1,
       "Firmware upgrade enable from dashboard\nReceived NULL firmware version\n"},
      {"the installed version", 0, 1, "2.4.1", 1, 0,
       "Firmware upgrade enable from dashboard\n2.4.1\nSame firmware version\n"},
  };
  for (const Case& c : cases) {
    fake.stdout_text.clear();
    upgrade_pending = 1;
    config.firmware.upgrade = c.upgrade;
    config.firmware.auto_upgrade = c.auto_upgrade;
    config.firmware.version.set(c.version);
    EXPECT_EQ(c.result, run_firmware_upgrade(config.firmware)) << c.what;
    EXPECT_EQ(c.pending_after, upgrade_pending) << c.what;
    EXPECT_EQ(c.printed, fake.stdout_text) << c.what;
  }
  // No version file: nothing to compare with.
  fake.remove("/etc/fw_a_version");
  config.firmware.upgrade = 1;
  config.firmware.version.set("2.5.0");
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(Firmware, SumMustMatchInFullUnlessNoneIsGiven) {
  struct Case {
    const char* given;
    const char* computed;
    bool passes;
  };
  const Case cases[] = {
      {kSum, kSum, true},
      {"0CC175B9C0F1B6A831C399E269772661", kSum, true},
      {"", kSum, true},  // no sum given: no check
      {"", "", true},
      {"0", kSum, false},  // a prefix no longer passes
      {"0cc175b9c0f1b6a831c399e26977266", kSum, false},
      {"0cc175b9c0f1b6a831c399e2697726610", "0cc175b9c0f1b6a831c399e2697726610", false},
      {kSum, "", false},
      {kSum, "0cc175b9c0f1b6a831c399e269772662", false},
      {"zcc175b9c0f1b6a831c399e269772661", "zcc175b9c0f1b6a831c399e269772661", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.passes, firmware_sum_matches(c.given, c.computed)) << c.given << " / " << c.computed;
  }

  // Through the whole flow: a truncated sum stops before the copy and the script.
  config.firmware.md5sum.set("0");
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Received SUM: 0\n"));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("MD5 NOT valid for downloaded file\n"));
  EXPECT_FALSE(fake.exists("/etc/fw_a_version.old"));
  EXPECT_FALSE(fake.exists(kUpgradeScript));
  EXPECT_FALSE(fake.exists(kFirmwareImage));  // a bad image does not stay in RAM
  EXPECT_FALSE(fake.exists(kDownload));
  EXPECT_EQ((Strings{kWget}), runs());

  // An empty sum passes any image.
  config.firmware.md5sum.set("");
  fake.outputs[kMd5Command] = "d41d8cd98f00b204e9800998ecf8427e\n";
  EXPECT_EQ(0, run_firmware_upgrade(config.firmware));
  EXPECT_EQ("sh -x /tmp/upgrade.sh", runs().back());
}

TEST_F(Firmware, DownloadThatFailsOrLeavesAnOldImageIsNotFlashed) {
  // Nothing arrives, but an image of an earlier attempt lies in /tmp.
  image_arrives = false;
  fake.write(kFirmwareImage, "old image");
  config.firmware.md5sum.set("");
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Unable to download the firmware file\n"));
  EXPECT_EQ((Strings{kWget}), runs());

  // wget fails after part of the image.
  image_arrives = true;
  fake.exit_codes[kWget] = 1;
  fake.events.clear();
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_FALSE(fake.exists(kFirmwareImage));
  EXPECT_EQ((Strings{kWget}), runs());
  EXPECT_FALSE(fake.exists(kUpgradeScript));
}

TEST_F(Firmware, PathsReachWgetQuotedAndNeverAsAnOption) {
  config.firmware.path.set("http://fw.example/a b");
  run_firmware_upgrade(config.firmware);
  EXPECT_EQ("wget 'http://fw.example/a b'/flx-pico2hp.bin --directory-prefix=/tmp/.firmware", runs().at(0));

  fake.events.clear();
  fake.stdout_text.clear();
  config.firmware.path.set("-e/robots=off");
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_TRUE(runs().empty());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Firmware path refused: \"-e/robots=off\" starts with '-'\n"));

  fake.stdout_text.clear();
  config.firmware.path.set("");
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_TRUE(runs().empty());
}

TEST_F(Firmware, ScriptThatCannotBeWrittenIsNotRun) {
  mkdir(fake.path(kUpgradeScript).c_str(), 0755);
  EXPECT_EQ(1, write_upgrade_script());
  EXPECT_EQ(1, run_firmware_upgrade(config.firmware));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("MD5 MATCH: Success\nFailed to create upgrade script\n"));
  EXPECT_EQ((Strings{kWget}), runs());
  EXPECT_FALSE(fake.exists("/etc/fw_a_version.old"));  // no upgrade=1 for an upgrade never started
  rmdir(fake.path(kUpgradeScript).c_str());
  EXPECT_EQ(0, write_upgrade_script());
  EXPECT_EQ(kScriptText, fake.read(kUpgradeScript));
}

namespace {

// A stand-in for send_checkin from its parse on: each check-in applies the
// next reply, then runs the custom script and firmware steps.
std::vector<std::string> g_replies;
size_t g_checkins = 0;
NodeConfig* g_config = nullptr;

int checkin_with_reply(const DeviceIdentity&) {
  FILE* f = host_fopen("/tmp/.received", "w");
  fputs(g_replies.at(g_checkins++).c_str(), f);
  fclose(f);
  parse_config_reply("/tmp/.received", *g_config);
  run_pending_custom_script(*g_config);
  run_pending_firmware_upgrade(*g_config);
  return 0;
}

class FirmwareCheckin : public Firmware {
 protected:
  FirmwareCheckin() {
    config.firmware = FirmwareSettings();
    config.firmware.version.set("none");
    upgrade_pending = 0;
    g_checkins = 0;
    g_config = &config;
  }
  int loop() { return run_checkin_loop(checkin_with_reply, identity, 300); }
  // Events from the upgrade script's start on.
  Strings ending() const {
    Strings all = events({"run ", "kill ", "sleep "});
    auto at = std::find(all.begin(), all.end(), "run sh -x /tmp/upgrade.sh");
    return at == all.end() ? Strings{} : Strings(at, all.end());
  }
  DeviceIdentity identity;
};

}  // namespace

TEST_F(FirmwareCheckin, ReplyOfferingNewFirmwareEndsTheControllerAfterStartingTheScript) {
  g_replies = {std::string("#@#config fwupgrade\nupgrade 1\nversion 2.5.0\nsum ") + kSum +
               "\npath http://fw.example/images\n"};
  EXPECT_EQ(0, loop());
  EXPECT_EQ(1u, g_checkins);
  EXPECT_EQ((Strings{"run sh -x /tmp/upgrade.sh", "kill " + std::to_string(getpid()) + " " + std::to_string(SIGTERM)}),
            ending());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("fwupgrade counter: 4\nledsign counter: 0\n"
                                                     "CHECKIN:Firmware upgrade enabled from dashboard\n"
                                                     "Firmware upgrade enable from dashboard\n"));
  EXPECT_EQ(kVersionFile, fake.read("/etc/fw_a_version.old"));
}

TEST_F(FirmwareCheckin, SameVersionGoesOnAndUpgradeZeroStopsAfterTheCheckin) {
  g_replies = {"#@#config fwupgrade\nupgrade 1\nversion 2.4.1\n",  // already installed
               "#@#config fwupgrade\nupgrade 1\nversion 2.4.1\n",  // nothing changed
               "#@#config fwupgrade\nupgrade 0\n"};
  EXPECT_EQ(0, loop());
  EXPECT_EQ(3u, g_checkins);
  EXPECT_EQ(1, count_of(fake.stdout_text, "Same firmware version\n"));
  // Two pauses between three check-ins, then the end without a script.
  EXPECT_EQ((Strings{"sleep 300", "sleep 300", "kill " + std::to_string(getpid()) + " " + std::to_string(SIGTERM)}),
            events({"run ", "kill ", "sleep "}));
  EXPECT_EQ((Strings{"System upgrade is running\n"}), Strings(1, logs(LOG_INFO).back()));
}
