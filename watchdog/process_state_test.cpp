// process_state on a fake /proc: the state letters, a missing process and a
// stat file that does not parse.
#include "watchdog/process_state.h"

#include <gtest/gtest.h>

#include "watchdog/testing/watchdog_test.h"

namespace {
using ProcessStates = WatchdogTest;
}  // namespace

TEST_F(ProcessStates, StateLettersAndAbsence) {
  const struct {
    char letter;
    int state;
    const char* printed;
  } cases[] = {
      {'S', kSleeping, " OK\n"}, {'R', kRunning, " OK\n"}, {'Z', kZombie, ""}, {'D', kOther, ""}, {'T', kOther, ""},
  };
  fake.add_process(7, "lonely", 'S');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.letter);
    fake.add_process(300, "clientscout", c.letter);
    fake.stdout_text.clear();
    EXPECT_EQ(c.state, process_state("clientscout"));
    EXPECT_EQ(c.printed, fake.stdout_text);
    EXPECT_TRUE(process_exists("clientscout"));
  }
  // Names are compared whole: the kernel's 15 characters of the controller.
  fake.add_process(301, "fleetlink_super", 'R');
  EXPECT_EQ(kRunning, process_state("fleetlink_super"));
  EXPECT_EQ(kAbsent, process_state("fleetlink_supervisor"));
  EXPECT_EQ(kAbsent, process_state("client"));
  EXPECT_FALSE(process_exists("portsense"));
  EXPECT_TRUE(fake.logs.empty());
}

TEST_F(ProcessStates, AStatThatDoesNotParseIsOtherAndNoProcess) {
  fake.add_process(300, "clientscout", 'S');
  fake.write("/proc/12/stat", "garbage\n");
  fake.write("/proc/13/stat", "13 () S\n");  // a process without a name
  // No portsense anywhere, so the walk always reaches a bad stat file.
  EXPECT_EQ(kOther, process_state("portsense"));
  EXPECT_FALSE(process_exists("portsense"));
  EXPECT_EQ("fscanf failed", logs().front());
}

TEST_F(ProcessStates, AnUnreadableProcFolderMeansAbsent) {
  rmdir(fake.path("/proc").c_str());
  EXPECT_EQ(kAbsent, process_state("fleetlink_super"));
  EXPECT_FALSE(process_exists("lonely"));
  EXPECT_EQ((std::vector<std::string>{"can't open /proc", "can't open /proc"}), logs());
}
