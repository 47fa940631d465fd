#include "common/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include "common/profile.h"
#include "common/testing/fake_host.h"
#include "controller/program.h"
#include "lonely/program.h"
#include "watchdog/program.h"

namespace {

class FakeProc : public ::testing::Test {
 protected:
  FakeProc() {
    set_profile(kControllerProfile);
    fake.add_process(1, "init", 'S');
    fake.add_process(200, "fleetlink_super", 'S');
    fake.add_process(300, "clientscout", 'Z');
    fake.add_process(400, "ifcounter", 'D');
    fake.write("/proc/self/stat", "999 (self) R\n");
    fake.write("/proc/net/dev", "");
  }
  ~FakeProc() override { set_profile(kControllerProfile); }
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

TEST_F(FakeProc, FindsByWholeNameAndGivesTheState) {
  fake.write("/proc/150/stat", "");  // ended between its open and its read
  char state = 0;
  EXPECT_EQ(300, find_pid_by_name("clientscout", &state));
  EXPECT_EQ('Z', state);
  EXPECT_EQ(200, find_pid_by_name("fleetlink_super"));
  EXPECT_EQ(-1, find_pid_by_name("fleetlink_supervisor"));
  EXPECT_EQ(-1, find_pid_by_name("Clientscout"));
  EXPECT_EQ(-1, find_pid_by_name("lonely"));
  EXPECT_EQ("", fake.stdout_text);
}

TEST_F(FakeProc, UnparsableStatEndsTheSearchWithTheProgramsResult) {
  fake.remove("/proc/200/stat");
  fake.remove("/proc/300/stat");
  fake.remove("/proc/400/stat");
  fake.remove("/proc/1/stat");
  fake.write("/proc/77/stat", "garbage\n");
  set_profile(kLonelyProfile);
  EXPECT_EQ(-1, find_pid_by_name("lonely"));
  EXPECT_EQ("fscanf failed \n", fake.stdout_text);
  set_profile(kControllerProfile);
  EXPECT_EQ(-2, find_pid_by_name("lonely"));
  set_profile(kWatchdogProfile);
  fake.stdout_text.clear();
  EXPECT_EQ(-2, find_pid_by_name("lonely"));
  EXPECT_EQ("", fake.stdout_text);
  ASSERT_FALSE(fake.logs.empty());
  EXPECT_EQ(LOG_DEBUG, fake.logs.back().first);
  EXPECT_EQ("fscanf failed", fake.logs.back().second);
}

TEST_F(FakeProc, MissingProcIsReported) {
  fake.write("/x", "");
  std::string cmd = "rm -rf '" + fake.path("/proc") + "'";
  ASSERT_EQ(0, system(cmd.c_str()));
  EXPECT_EQ(-1, find_pid_by_name("init"));
  EXPECT_EQ("can't open /proc: No such file or directory\n", fake.stderr_text);
}

TEST_F(FakeProc, SweepVisitsEveryProcess) {
  struct Seen {
    int count = 0;
    int zombies = 0;
  } seen;
  EXPECT_EQ(0, walk_processes(
                   [](const ProcessEntry& e, void* arg) {
                     Seen* s = static_cast<Seen*>(arg);
                     ++s->count;
                     if (e.state == 'Z') ++s->zombies;
                     return false;
                   },
                   &seen));
  EXPECT_EQ(4, seen.count);  // "self" and "net" are not numbers
  EXPECT_EQ(1, seen.zombies);
}

TEST_F(FakeProc, PidFromAFileIsSignalledOnlyWhenItsNameMatches) {
  EXPECT_TRUE(process_has_name(200, "fleetlink_supervisor"));  // the kernel's 15 characters
  EXPECT_FALSE(process_has_name(200, "clientscout"));
  EXPECT_FALSE(process_has_name(0, "init"));
  EXPECT_FALSE(process_has_name(555, "udhcpc"));
  EXPECT_EQ(-1, signal_named_process(400, "udhcpc", SIGKILL));
  EXPECT_EQ(ESRCH, errno);
  EXPECT_EQ(-1, signal_named_process(-3, "udhcpc", SIGKILL));
  EXPECT_EQ(0, signal_named_process(300, "clientscout", SIGTERM));
  EXPECT_EQ((std::vector<std::pair<pid_t, int>>{{300, SIGTERM}}), fake.kills);
}

TEST(RealProc, FindsThisProcessAndMissesAnUnknownName) {
  ScopedRealHost real;  // this machine's /proc
  EXPECT_TRUE(process_has_name(getpid(), program_invocation_short_name));
  EXPECT_GT(find_pid_by_name("no-such-process"), -2);
  EXPECT_EQ(-1, find_pid_by_name("no-such-process"));
}

TEST_F(FakeProc, ANameHoldingAClosingParenthesisNeverPassesForAnother) {
  // A process may name itself "chilli) S 1" (15 characters); its stat line
  // then reads "500 (chilli) S 1) R 1 ...", and only the last ")" ends the name.
  fake.add_process(500, "chilli) S 1", 'R');
  EXPECT_EQ(-1, find_pid_by_name("chilli"));
  EXPECT_FALSE(process_has_name(500, "chilli"));
  char state = 0;
  EXPECT_EQ(500, find_pid_by_name("chilli) S 1", &state));
  EXPECT_EQ('R', state);
  // Names with blanks and parentheses of their own, as the kernel prints them.
  fake.add_process(600, "(sd-pam)", 'S');
  fake.add_process(700, "kworker/0:1 (x)", 'I');
  EXPECT_TRUE(process_has_name(600, "(sd-pam)"));
  EXPECT_EQ(700, find_pid_by_name("kworker/0:1 (x)", &state));
  EXPECT_EQ('I', state);
  // A line without its closing parenthesis or state does not parse.
  for (const char* broken : {"800 (lonely S 1\n", "800 (lonely)\n", "800 () S\n", "(lonely) S\n"}) {
    fake.write("/proc/800/stat", broken);
    EXPECT_FALSE(process_has_name(800, "lonely")) << broken;
  }
}
