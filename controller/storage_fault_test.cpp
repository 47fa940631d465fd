// Writes on a full or read-only file system: the configuration the check-in
// keeps in /tmp/.received, the client list in /tmp/.clients, the crontab
// rewrite and the portal merge. Each fails cleanly and loses nothing that
// was there before. The file systems are small tmpfs mounts over the fake
// root's folders, in a mount namespace of this test's own. Needs root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/route.h"
#include "common/station_format.h"
#include "controller/config_parser.h"
#include "controller/settings/portal.h"
#include "controller/settings/reboot_settings.h"
#include "controller/testing/checkin_fixture.h"

using checkin_test::config_reply;

namespace {

std::string g_skip_reason;

class OwnMounts : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      g_skip_reason = "full and read-only file systems need root (mount namespaces)";
    } else if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      g_skip_reason = "cannot make a mount namespace here";
    }
  }
};
const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new OwnMounts);

enum class Storage { kFull, kReadOnly };

const char* name_of(Storage s) { return s == Storage::kFull ? "full" : "read-only"; }

// A 64 KiB tmpfs over one folder of the fake root: `files` are laid in it,
// then it is filled up or made read-only.
class SmallFolder {
 public:
  SmallFolder(FakeHost& fake, const std::string& folder, Storage storage,
              const std::vector<std::pair<std::string, std::string>>& files)
      : dir_(fake.path(folder)) {
    fake.write(folder + "/.keep", "");
    ok_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
    if (!ok_) return;
    for (const auto& [file, text] : files) fake.write(file, text);
    if (storage == Storage::kReadOnly) {
      ok_ = mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
      return;
    }
    int fd = open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    std::string block(4096, 'f');
    while (fd >= 0 && write(fd, block.data(), block.size()) > 0) {
    }
    // Even the last few bytes: nothing more fits.
    while (fd >= 0 && write(fd, "f", 1) > 0) {
    }
    if (fd >= 0) close(fd);
  }
  ~SmallFolder() {
    if (ok_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }

 private:
  std::string dir_;
  bool ok_ = false;
};

class StorageFault : public Checkin {
 protected:
  void SetUp() override {
    if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
    Checkin::SetUp();
  }
};

}  // namespace

TEST_F(StorageFault, TheReceivedConfigurationKeepsTheLastOneAndNothingIsApplied) {
  const std::string old = "#@#config radio\nchannel 6\n";
  for (Storage s : {Storage::kFull, Storage::kReadOnly}) {
    SCOPED_TRACE(name_of(s));
    fake.stdout_text.clear();
    fake.commands.clear();
    SmallFolder tmp(fake, "/tmp", s, {{"/tmp/.received", old}});
    ASSERT_TRUE(tmp.ok());
    server.script(ServerReply::text(config_reply("#@#config wireless\nradio0.channel 11\n")));
    checkin(0);
    EXPECT_EQ(old, fake.read("/tmp/.received"));
    EXPECT_FALSE(fake.exists("/tmp/.received.tmp"));
    EXPECT_TRUE(printed("Unable to open  Kestrel received file\n"));
    EXPECT_FALSE(printed("Running set config"));
    for (const std::string& c : fake.commands) EXPECT_EQ(std::string::npos, c.find("radio0.channel")) << c;
  }
}

TEST_F(StorageFault, TheClientListKeepsItsWholeRecords) {
  const std::string old = "mac=00:11:22:33:44:55;ctime=5\n";
  for (Storage s : {Storage::kFull, Storage::kReadOnly}) {
    SCOPED_TRACE(name_of(s));
    SmallFolder tmp(fake, "/tmp", s, {{"/tmp/.clients", old}});
    ASSERT_TRUE(tmp.ok());
    std::string record = "mac=66:77:88:99:aa:bb;ctime=7;" + std::string(5000, 'r');  // beyond the page it fills
    EXPECT_EQ(1, append_client_record(record.c_str()));
    EXPECT_EQ(old, fake.read("/tmp/.clients"));
  }
}

TEST_F(StorageFault, TheCrontabStaysAsItWas) {
  const std::string old = "*/5 * * * * /usr/bin/ping-check\n0 3 * * 3  /sbin/do_reboot 93\n";
  for (Storage s : {Storage::kFull, Storage::kReadOnly}) {
    SCOPED_TRACE(name_of(s));
    SmallFolder crontabs(fake, "/etc/crontabs", s, {{"/etc/crontabs/root", old}});
    ASSERT_TRUE(crontabs.ok());
    write_reboot_schedule(1, "d", 4);
    EXPECT_EQ(old, fake.read("/etc/crontabs/root"));
    EXPECT_FALSE(fake.exists("/etc/crontabs/root.tmp"));
    write_reboot_schedule(0, "d", 4);
    EXPECT_EQ(old, fake.read("/etc/crontabs/root"));
  }
}

TEST_F(StorageFault, ThePortalConfigurationAndItsNewSettingsStay) {
  const std::string defaults = "HS_LANIF=eth1\nHS_NETWORK=10.1.0.0\nHS_UAMLISTEN=10.1.0.1\n";
  const std::string news = "HS_LANIF=br-pub\nHS_UAMLISTEN=10.3.48.1\n";
  for (Storage s : {Storage::kFull, Storage::kReadOnly}) {
    SCOPED_TRACE(name_of(s));
    fake.stdout_text.clear();
    fake.write(kChilliSettingsFile, news);
    SmallFolder chilli(fake, "/etc/chilli", s, {{"/etc/chilli/defaults", defaults}});
    ASSERT_TRUE(chilli.ok());
    int result = merge_portal_config("/etc/chilli/defaults", kChilliSettingsFile, 0);
    EXPECT_EQ(defaults, fake.read("/etc/chilli/defaults"));
    EXPECT_EQ(news, fake.read(kChilliSettingsFile));  // still there for the next merge
    EXPECT_FALSE(fake.exists("/etc/chilli/defaults.tmp"));
    if (s == Storage::kFull) {
      EXPECT_EQ(1, result);
      EXPECT_TRUE(printed("Unable to merge /etc/chilli/defaults: left as it was\n")) << fake.stdout_text;
    } else {
      EXPECT_EQ(0, result);  // the merged file cannot be made: nothing merged
      EXPECT_TRUE(printed("Unable to open temporary file!!\n")) << fake.stdout_text;
    }
  }
}

TEST_F(StorageFault, WhatCouldNotBeWrittenWholeIsNotActedOn) {
  const std::string resolv = "nameserver 192.168.1.1";
  const std::string reply = "#@#config chilli\nenable 1\nHS_DNS1 10.3.48.1\n#@#config management\nrootpwd n3w-r00t\n";
  for (Storage s : {Storage::kFull, Storage::kReadOnly}) {
    SCOPED_TRACE(name_of(s));
    fake.commands.clear();
    fake.stdout_text.clear();
    NodeConfig& c = node_config();
    c.management.root_password.set("s3cret");
    SmallFolder tmp(fake, "/tmp", s, {{"/tmp/resolv.conf.auto", resolv}, {"/tmp/.received", reply}});
    ASSERT_TRUE(tmp.ok());
    parse_config_reply("/tmp/.received", c);
    // An empty password script ends with 0 without passwd: it never runs.
    EXPECT_FALSE(ran_or_read("sh /tmp/chgpasswd n3w-r00t"));
    EXPECT_EQ("s3cret", std::string(c.management.root_password));
    // No new-settings file is left to be merged into the portal's configuration.
    EXPECT_FALSE(fake.exists(kChilliSettingsFile));
    if (s == Storage::kFull) {
      EXPECT_TRUE(printed("Unable to write /tmp/chilli_config: the portal keeps its configuration\n"));
    }
    set_nameserver();
    EXPECT_EQ(resolv, fake.read("/tmp/resolv.conf.auto"));
  }
}
