// A test that installs no host or kernel reaches nothing of this machine.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/host.h"
#include "common/netif.h"
#include "common/profile.h"
#include "common/runner.h"

TEST(RefusingHost, EveryEffectFailsTheTestAndNamesTheCall) {
  static const ProgramProfile row = {.name = "test"};
  set_profile(row);
  std::string marker = "/tmp/refused." + std::to_string(getpid());
  std::string touch = "touch " + marker;
  EXPECT_NONFATAL_FAILURE(set_uci_config(touch.c_str()), "refused run(\"" + touch + "\")");
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(nullptr, host_fopen(marker.c_str(), "w")),
                          "refused open_file(\"" + marker + "\", \"w\")");
  EXPECT_NE(0, access(marker.c_str(), F_OK)) << "the command or the write reached the machine";

  EXPECT_NONFATAL_FAILURE(host_unlink("/etc/passwd"), "refused unlink(\"/etc/passwd\")");
  EXPECT_NONFATAL_FAILURE(host().kill(1, SIGTERM), "refused kill(\"1\", \"" + std::to_string(SIGTERM) + "\")");
  EXPECT_NONFATAL_FAILURE(host().sleep(180), "refused sleep(\"180\")");
  EXPECT_NONFATAL_FAILURE(host().fork(), "refused fork(\"\")");
  char line[64] = "kept";
  EXPECT_NONFATAL_FAILURE(get_config("uci get node.status.mode", line, sizeof(line)),
                          "refused open_command(\"uci get node.status.mode\")");
  EXPECT_STREQ("kept", line);
  // The kernel refuses too: no interface is asked about.
  FixedText<18> mac;
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(EPERM, get_mac("eth0", mac)), "refused interface_socket(\"\")");
}

// A library call before the program chose its row: a failed test here, the
// end of the program on the node.
TEST(ProgramRow, AskingBeforeOneWasChosenIsCaught) {
  EXPECT_NONFATAL_FAILURE(profile(), "asked for the program's row before the test chose one");
  EXPECT_DEATH(
      {
        set_missing_profile_handler(nullptr);
        profile();
      },
      "no program row chosen");
}
