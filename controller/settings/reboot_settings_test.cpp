#include "controller/settings/reboot_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "controller/config_parser.h"
#include "controller/testing/controller_test.h"

namespace {

using Lines = std::vector<std::string>;

const time_t kWednesday = 1704283200;  // 2024-01-03 12:00 UTC
const time_t kSunday = 1704628800;     // 2024-01-07 12:00 UTC
const char kCrontab[] = "/etc/crontabs/root";
const char kOtherJobs[] = "*/5 * * * * /usr/bin/ping-check\n0 2 * * * /usr/sbin/logrotate\n";

class Reboot : public ControllerTest {
 protected:
  Reboot() {
    const char* tz = getenv("TZ");
    if (tz) old_tz_ = tz;
    had_tz_ = tz != nullptr;
    setenv("TZ", "UTC0", 1);
    tzset();
    fake.clock = kWednesday;
  }
  ~Reboot() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  void reboot(const char* key, const char* value = "") { apply_reboot_setting(key, value, config); }
  void schedule(const char* key, const char* value = "") { apply_reboot_schedule_setting(key, value, config); }
  int changes() const { return config.changes[kRowRebootSchedule]; }
  std::string crontab() const { return fake.read(kCrontab); }
  void forget() {
    fake.events.clear();
    fake.stdout_text.clear();
    fake.logs.clear();
  }
  // Nothing is left beside the crontab, and no shell command ran.
  void expect_clean_rewrite() {
    EXPECT_FALSE(fake.exists("/etc/crontabs/root.tmp"));
    EXPECT_FALSE(fake.exists("/tmp/croot"));
    EXPECT_TRUE(runs().empty());
  }

 private:
  std::string old_tz_;
  bool had_tz_ = false;
};

}  // namespace

TEST_F(Reboot, AnyKeyFromTheRebootRowOnCarriesTheFlag) {
  struct Case {
    const char* key;
    const char* value;
    const char* printed;
    int token;
  };
  const Case cases[] = {
      {"reboot", "1", "Received Reboot configuration: 1\n", 1},
      {"REBOOT", "1", "Received Reboot configuration: 1\n", 1},
      {"cs_url", "0", "Received Reboot configuration: 0\n", 0},
      {"path", "1", "Received Reboot configuration: 1\n", 1},
      {"reboot", "", "Received Reboot configuration: 0\n", 1},  // no value: kept
      {"network", "0", "Reboot: Received Badconfiguration\n", 1},
      {"now", "0", "Reboot: Received Badconfiguration\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.value);
    forget();
    reboot(c.key, c.value);
    EXPECT_EQ(c.printed, fake.stdout_text);
    EXPECT_EQ(c.token, config.reboot_token);
  }
  EXPECT_TRUE(runs().empty());
  for (int count : config.changes.rows) EXPECT_EQ(0, count);
}

TEST_F(Reboot, ScheduleLinesAreRecordedAndCounted) {
  schedule("enable", "1");
  schedule("date", "w");
  schedule("time", "3");
  EXPECT_EQ(3, changes());
  schedule("ENABLE", "1");
  schedule("date", "w");
  schedule("time", "3");
  schedule("time");
  schedule("date");
  EXPECT_EQ(3, changes());
  EXPECT_EQ(1, config.reboot_schedule.enable);
  EXPECT_EQ("w", std::string(config.reboot_schedule.date));
  EXPECT_EQ(3, config.reboot_schedule.time);

  // Later rows count too: auto is code 0, upgrade 1, version 2.
  schedule("auto", "0");
  schedule("upgrade", "monthly");  // cut to its field
  schedule("version", "23");
  EXPECT_EQ(6, changes());
  EXPECT_EQ(0, config.reboot_schedule.enable);
  EXPECT_EQ("mon", std::string(config.reboot_schedule.date));
  EXPECT_EQ(23, config.reboot_schedule.time);
  schedule("date", "monthly");
  EXPECT_EQ(6, changes());

  for (const char* key : {"sum", "path", "hour", "reboot"}) schedule(key, "1");
  EXPECT_EQ(Lines(4, "Bad configuration for reboot schedule"), logs(LOG_INFO));
  EXPECT_EQ(6, changes());
  EXPECT_TRUE(fake.stdout_text.empty());
  EXPECT_TRUE(runs().empty());
}

TEST_F(Reboot, CronCodesAndDays) {
  const std::pair<const char*, int> codes[] = {{"0", 0}, {"d", 1}, {"W", 2}, {"m", 3}, {"M", 3}};
  for (const auto& [text, kind] : codes) EXPECT_EQ(kind, cron_code(text)) << text;
  EXPECT_EQ("", fake.stdout_text);
  EXPECT_EQ(kCronBad, cron_code("x"));
  EXPECT_EQ(kCronBad, cron_code(""));
  EXPECT_EQ("Bad Cron code: x\nBad Cron code: \n", fake.stdout_text);

  forget();
  EXPECT_EQ(3, cron_day(kCronWeekly));
  EXPECT_EQ(3, cron_day(kCronMonthly));
  fake.clock = kSunday;
  EXPECT_EQ(7, cron_day(kCronWeekly));
  EXPECT_EQ(7, cron_day(kCronMonthly));
  fake.clock = kSunday + 25 * 86400;  // Thursday, February 1st
  EXPECT_EQ(4, cron_day(kCronWeekly));
  EXPECT_EQ(1, cron_day(kCronMonthly));
  EXPECT_EQ(
      "day of the week: 3 \nday of the week: 3 \nday of the week: 7 \nday of the week: 7 \n"
      "day of the week: 4 \nday of the week: 1 \n",
      fake.stdout_text);
}

TEST_F(Reboot, WeeklyScheduleIsAddedThenReplacedAtMinuteZero) {
  fake.write(kCrontab, kOtherJobs);
  write_reboot_schedule(1, "w", 3);
  EXPECT_EQ(std::string(kOtherJobs) + "0 3 * * 3  /sbin/do_reboot 93\n", crontab());
  EXPECT_EQ("day of the week: 3 \n", fake.stdout_text);
  expect_clean_rewrite();

  // Another hour replaces the line in place, with three blanks.
  fake.write(kCrontab, "0 3 * * 3  /sbin/do_reboot 93\n" + std::string(kOtherJobs));
  write_reboot_schedule(1, "w", 5);
  EXPECT_EQ("0 5 * * 3   /sbin/do_reboot 93\n" + std::string(kOtherJobs), crontab());
  expect_clean_rewrite();
}

TEST_F(Reboot, DailyAndMonthlyLines) {
  struct Case {
    const char* date;
    const char* added;
    const char* replacing;
  };
  const Case cases[] = {
      {"d", "0 4 * * *  /sbin/do_reboot 93\n", "0 4 * * *  /sbin/do_reboot 93\n"},
      {"D", "0 4 * * *  /sbin/do_reboot 93\n", "0 4 * * *  /sbin/do_reboot 93\n"},
      {"m", "0 4 3 * *  /sbin/do_reboot 93\n", "0 4 3 * *   /sbin/do_reboot 93\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    fake.write(kCrontab, kOtherJobs);
    write_reboot_schedule(1, c.date, 4);
    EXPECT_EQ(std::string(kOtherJobs) + c.added, crontab());
    fake.write(kCrontab, "0 1 * * *  /sbin/do_reboot 93\n" + std::string(kOtherJobs));
    write_reboot_schedule(1, c.date, 4);
    EXPECT_EQ(c.replacing + std::string(kOtherJobs), crontab());
  }
  expect_clean_rewrite();
}

TEST_F(Reboot, DisabledOrBadScheduleRemovesTheRebootLineAndKeepsTheOthersInOrder) {
  const std::string with_reboot =
      "*/5 * * * * /usr/bin/ping-check\n0 3 * * 3   /sbin/do_reboot 93\n0 2 * * * /usr/sbin/logrotate\n";
  fake.write(kCrontab, with_reboot);
  write_reboot_schedule(0, "w", 3);
  EXPECT_EQ(kOtherJobs, crontab());
  EXPECT_EQ("", fake.stdout_text);

  fake.write(kCrontab, with_reboot);
  write_reboot_schedule(1, "x", 3);
  EXPECT_EQ(kOtherJobs, crontab());
  EXPECT_EQ("Bad Cron code: x\n", fake.stdout_text);

  // No schedule ("0"): the reboot line goes, none is added.
  fake.write(kCrontab, kOtherJobs);
  write_reboot_schedule(1, "0", 3);
  EXPECT_EQ(kOtherJobs, crontab());

  // An enable other than 1 replaces a reboot line but adds none.
  fake.write(kCrontab, with_reboot);
  write_reboot_schedule(2, "d", 6);
  EXPECT_EQ("*/5 * * * * /usr/bin/ping-check\n0 6 * * *  /sbin/do_reboot 93\n0 2 * * * /usr/sbin/logrotate\n",
            crontab());
  fake.write(kCrontab, kOtherJobs);
  write_reboot_schedule(2, "d", 6);
  EXPECT_EQ(kOtherJobs, crontab());
  expect_clean_rewrite();
}

TEST_F(Reboot, MissingCrontabGetsTheScheduleLine) {
  fake.remove(kCrontab);
  write_reboot_schedule(0, "d", 4);
  EXPECT_FALSE(fake.exists(kCrontab));  // nothing to keep, nothing to add
  write_reboot_schedule(1, "w", 3);
  EXPECT_EQ("0 3 * * 3  /sbin/do_reboot 93\n", crontab());
  struct stat st;
  ASSERT_EQ(0, stat(fake.path(kCrontab).c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  expect_clean_rewrite();
}

TEST_F(Reboot, UnreadableCrontabIsLeftAsItIs) {
  // A crontab that cannot be opened (a link loop)...
  ASSERT_EQ(0, mkdir(fake.path("/etc/crontabs").c_str(), 0755));
  ASSERT_EQ(0, symlink("root", fake.path(kCrontab).c_str()));
  write_reboot_schedule(1, "w", 3);
  char target[16] = {0};
  EXPECT_EQ(4, readlink(fake.path(kCrontab).c_str(), target, sizeof(target) - 1));
  EXPECT_STREQ("root", target);
  expect_clean_rewrite();

  // ...or that opens but cannot be read (a folder).
  ASSERT_EQ(0, unlink(fake.path(kCrontab).c_str()));
  fake.write("/etc/crontabs/root/keep", "x");
  write_reboot_schedule(1, "w", 3);
  EXPECT_EQ("x", fake.read("/etc/crontabs/root/keep"));
  expect_clean_rewrite();
}

TEST_F(Reboot, LongJobsStayWholeAndALastLineWithoutLineEndStaysApart) {
  const std::string long_job = "0 1 * * * /usr/bin/backup --target /mnt/usb/" + std::string(120, 'x') + " --quiet\n";
  const std::string long_reboot =
      "30 4 * * * /usr/bin/check-reboot-needed --verbose " + std::string(120, 'y') + " --log /tmp/check.log\n";
  fake.write(kCrontab, long_job + long_reboot + "15 * * * * /usr/bin/last-job");
  write_reboot_schedule(1, "w", 3);
  EXPECT_EQ(long_job + "0 3 * * 3   /sbin/do_reboot 93\n" + "15 * * * * /usr/bin/last-job\n", crontab());

  // Beyond the read buffer: the first piece decides for the whole line.
  const std::string huge_job = "0 5 * * * /usr/bin/report " + std::string(1500, 'z') + "\n";
  const std::string huge_reboot = "0 6 * * * /sbin/do_reboot 7 " + std::string(1500, 'r') + "\n";
  fake.write(kCrontab, huge_job + huge_reboot + kOtherJobs);
  write_reboot_schedule(1, "m", 1);
  EXPECT_EQ(huge_job + "0 1 3 * *   /sbin/do_reboot 93\n" + kOtherJobs, crontab());
  fake.write(kCrontab, huge_reboot + huge_job);
  write_reboot_schedule(0, "m", 1);
  EXPECT_EQ(huge_job, crontab());

  fake.write(kCrontab, long_job + "15 * * * * /usr/bin/last-job");
  write_reboot_schedule(1, "d", 2);
  EXPECT_EQ(long_job + "15 * * * * /usr/bin/last-job\n0 2 * * *  /sbin/do_reboot 93\n", crontab());
  expect_clean_rewrite();
}

TEST_F(Reboot, RewriteKeepsTheCrontabsMode) {
  fake.write(kCrontab, kOtherJobs);
  ASSERT_EQ(0, chmod(fake.path(kCrontab).c_str(), 0640));
  write_reboot_schedule(1, "d", 2);
  struct stat st;
  ASSERT_EQ(0, stat(fake.path(kCrontab).c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST_F(Reboot, ScheduleSectionRewritesTheCrontabAfterTheParse) {
  fake.write(kCrontab, kOtherJobs);
  fake.write("/tmp/.received", "#@#config s_reboot\nenable 1\ndate w\ntime 3\n");
  EXPECT_EQ(0, parse_config_reply("/tmp/.received", config));
  EXPECT_EQ(std::string(kOtherJobs) + "0 3 * * 3  /sbin/do_reboot 93\n", crontab());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("s_reboot counter: 3\nday of the week: 3 \n"));

  // The same schedule again changes nothing, so the crontab is not touched.
  fake.write(kCrontab, kOtherJobs);
  EXPECT_EQ(0, parse_config_reply("/tmp/.received", config));
  EXPECT_EQ(kOtherJobs, crontab());
}
