#include "common/runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/profile.h"
#include "common/testing/fake_host.h"
#include "controller/program.h"
#include "watchdog/program.h"

namespace {

// The real shell, with standard output kept for the test.
class RealShell : public ::testing::Test {
 protected:
  RealShell() {
    set_profile(kControllerProfile);
    shell.real_commands = true;
  }
  FakeHost shell;
  ScopedHost scope{shell};
};

}  // namespace

TEST_F(RealShell, FirstLineLosesItsLineEndAndOnlyAPrecedingCarriageReturn) {
  FixedText<256> out;
  EXPECT_EQ(0, get_config("printf 'abc\\r\\n'", out));
  EXPECT_STREQ("abc", out.c_str());
  EXPECT_EQ(0, get_config("printf 'abc\\r'", out));
  EXPECT_STREQ("abc\r", out.c_str());
  EXPECT_EQ(0, get_config("printf 'one\\ntwo\\n'", out));
  EXPECT_STREQ("one", out.c_str());
  EXPECT_EQ(0, get_config("echo printed; exit 3", out));
  EXPECT_STREQ("printed", out.c_str());
  EXPECT_EQ("", shell.stdout_text);
}

TEST_F(RealShell, LongFirstLineIsCutTo254Characters) {
  FixedText<256> out;
  EXPECT_EQ(0, get_config("head -c 300 /dev/zero | tr '\\0' x; echo", out));
  EXPECT_EQ(254u, out.size());
  FixedText<4> small;
  EXPECT_EQ(0, get_config("echo abcdef", small));
  EXPECT_STREQ("abc", small.c_str());
}

TEST_F(RealShell, NoOutputLineLeavesTheCallersBufferAlone) {
  FixedText<64> out("previous");
  EXPECT_EQ(1, get_config("echo complaint >&2", out));
  EXPECT_STREQ("previous", out.c_str());
  EXPECT_EQ("Failed to get the output\n", shell.stdout_text);
}

TEST_F(RealShell, CommandStatusComesBackRaw) {
  EXPECT_EQ(3 << 8, set_uci_config("exit 3"));
  EXPECT_EQ(0, set_uci_config("true"));
}

TEST(ReadFile, FirstLineOfAtMost48Characters) {
  set_profile(kControllerProfile);
  FakeHost fake;
  ScopedHost scope(fake);
  FixedText<64> out;
  fake.write("/var/run/x.pid", std::string(60, '7') + "\n");
  EXPECT_EQ(0, read_file("/var/run/x.pid", out));
  EXPECT_EQ(std::string(48, '7'), out.c_str());
  fake.write("/var/run/x.pid", "1234\r\nmore\n");
  EXPECT_EQ(0, read_file("/var/run/x.pid", out));
  EXPECT_STREQ("1234", out.c_str());

  out.set("kept");
  EXPECT_EQ(1, read_file("/var/run/missing.pid", out));
  EXPECT_STREQ("kept", out.c_str());
  EXPECT_EQ("", fake.stdout_text);

  fake.write("/var/run/empty.pid", "");
  EXPECT_EQ(1, read_file("/var/run/empty.pid", out));
  EXPECT_EQ("Failed to get the output\n", fake.stdout_text);
  EXPECT_STREQ("kept", out.c_str());
}

TEST(ReadFile, WatchdogSaysNothingAboutAnEmptyFile) {
  FakeHost fake;
  ScopedHost scope(fake);
  set_profile(kWatchdogProfile);
  fake.write("/tmp/empty", "");
  FixedText<50> out;
  EXPECT_EQ(1, read_file("/tmp/empty", out));
  EXPECT_EQ("", fake.stdout_text);
  set_profile(kControllerProfile);
}

TEST(FileWrappers, ExistenceDirectoryAndPermissions) {
  FakeHost fake;
  ScopedHost scope(fake);
  EXPECT_EQ(-1, path_exists("/tmp/ndsplash"));
  mode_t old = umask(0);
  fake.write("/tmp/keep", "");
  EXPECT_EQ(0, make_directory("/tmp/ndsplash"));
  EXPECT_EQ(-1, make_directory("/tmp/ndsplash"));
  EXPECT_EQ(0, path_exists("/tmp/ndsplash"));
  struct stat st;
  ASSERT_EQ(0, stat(fake.path("/tmp/ndsplash").c_str(), &st));
  EXPECT_EQ(0775u, st.st_mode & 0777);
  chmod(fake.path("/tmp/keep").c_str(), 0600);
  EXPECT_EQ(0, make_world_readable("/tmp/keep"));
  ASSERT_EQ(0, stat(fake.path("/tmp/keep").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);
  EXPECT_NE(0, make_world_readable("/tmp/none"));
  umask(old);
}

TEST(Commit, FormatsTheUciCommitCommand) {
  FakeHost fake;
  ScopedHost scope(fake);
  commit_uci_config("wireless");
  ASSERT_EQ(1u, fake.commands.size());
  EXPECT_EQ("uci commit wireless", fake.commands[0]);
}
