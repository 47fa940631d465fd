// The password script run by a real shell, with a stand-in passwd that
// records what it was given.
#include "controller/settings/root_password.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "common/testing/fake_host.h"
#include "common/testing/test_files.h"

namespace {

void spit(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
}

class RootPassword : public ::testing::Test {
 protected:
  RootPassword() {
    bin = fake.path("/bin");
    out = fake.path("/out");
    cwd = fake.path("/cwd");
    sh("mkdir -p '" + bin + "' '" + out + "' '" + cwd + "' && touch '" + cwd + "/f1' '" + cwd + "/f2' '" + cwd +
       "/f3'");
    spit(bin + "/passwd", "#!/bin/sh\necho \"$*\" > \"$OUT/args\"\ncat > \"$OUT/input\"\n[ ! -e \"$OUT/fail\" ]\n");
    // Runs only if a password's ";b" ever reached the shell as a command.
    spit(bin + "/b", "#!/bin/sh\ntouch \"$OUT/ran-b\"\n");
    sh("chmod +x '" + bin + "/passwd' '" + bin + "/b'");
    // The command runs as it is, in a folder with files (for * in a
    // password), with the stand-ins first on PATH and the script where the
    // fake root keeps /tmp.
    fake.on_command = [this](const std::string& command, std::string&) {
      std::string text = command;
      const std::string script = "/tmp/chgpasswd";
      size_t at = text.find(script);
      if (at != std::string::npos) text.replace(at, script.size(), fake.path(script));
      return run_shell(text);
    };
  }
  void sh(const std::string& command) { ASSERT_EQ(0, system(command.c_str())) << command; }
  int run_shell(const std::string& command) {
    spit(out + "/cmd.sh", command + "\n");
    std::string wrapped = "cd '" + cwd + "' && unset c; PATH='" + bin + "':\"$PATH\" OUT='" + out + "' sh '" + out +
                          "/cmd.sh' 2>/dev/null";
    int status = system(wrapped.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
  }
  bool ran_b() const { return access((out + "/ran-b").c_str(), F_OK) == 0; }

  FakeHost fake;
  ScopedHost scope{fake};
  std::string bin, out, cwd;
};

}  // namespace

TEST_F(RootPassword, ShellCharactersAreThePasswordAndRunNothing) {
  // The stand-in b is seen when something runs it.
  ASSERT_EQ(0, run_shell("b"));
  ASSERT_TRUE(ran_b());
  unlink((out + "/ran-b").c_str());
  const char* passwords[] = {"a;b$c", "*", "it's", "$(b)", "`b`", "p@ss-w0rd"};
  for (const char* password : passwords) {
    SCOPED_TRACE(password);
    spit(out + "/input", "");
    EXPECT_EQ(0, change_root_password(password));
    EXPECT_EQ("root\n", slurp(out + "/args"));
    EXPECT_EQ(std::string(password) + "\n" + password + "\n", slurp(out + "/input"));
    EXPECT_FALSE(ran_b());
    EXPECT_FALSE(fake.exists("/tmp/chgpasswd"));
  }
}

TEST_F(RootPassword, FailingPasswdIsAFailure) {
  spit(out + "/fail", "");
  EXPECT_EQ(1, change_root_password("n3w-r00t"));
  EXPECT_EQ("n3w-r00t\nn3w-r00t\n", slurp(out + "/input"));
  EXPECT_FALSE(fake.exists("/tmp/chgpasswd"));
}
