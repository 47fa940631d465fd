// A process that has used up its file descriptors (RLIMIT_NOFILE): reading
// a command's output, reading and replacing files fail cleanly with their
// messages, and the old content of a file stays; a plain command still runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/atomic_file.h"
#include "common/host.h"
#include "common/runner.h"
#include "common/testing/fake_host.h"
#include "controller/program.h"

namespace {

// Takes every free descriptor below a lowered limit for the scope.
class NoDescriptorLeft {
 public:
  NoDescriptorLeft() {
    getrlimit(RLIMIT_NOFILE, &old_);
    rlimit low = {64, old_.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
  }
  ~NoDescriptorLeft() {
    for (int fd : taken_) close(fd);
    setrlimit(RLIMIT_NOFILE, &old_);
  }
  bool none_left() const { return open("/dev/null", O_RDONLY) < 0 && errno == EMFILE; }

 private:
  rlimit old_;
  std::vector<int> taken_;
};

}  // namespace

TEST(DescriptorFault, CommandOutputAndFilesFailCleanlyWithoutDescriptors) {
  set_profile(kControllerProfile);
  FakeHost fake;
  fake.real_commands = true;  // a real pipe for the command's output
  ScopedHost scope(fake);
  fake.write("/tmp/.received", "#@#config radio\nchannel 6\n");
  fake.write("/etc/fw_a_version", "2.4.1\n");
  FixedText<32> out("untouched");
  FixedText<32> version("untouched");
  int read_result, file_result, replace_result, run_status;
  {
    NoDescriptorLeft exhausted;
    ASSERT_TRUE(exhausted.none_left());
    read_result = get_config("echo 11", out);
    file_result = read_file("/etc/fw_a_version", version);
    replace_result = replace_file_text("/tmp/.received", "#@#config radio\nchannel 1\n");
    run_status = host().run("exit 3");
  }
  EXPECT_EQ(1, read_result);
  EXPECT_EQ("untouched", std::string(out.c_str()));
  EXPECT_EQ(1, file_result);
  EXPECT_EQ("untouched", std::string(version.c_str()));
  EXPECT_EQ(-1, replace_result);
  EXPECT_EQ("#@#config radio\nchannel 6\n", fake.read("/tmp/.received"));
  EXPECT_FALSE(fake.exists("/tmp/.received.tmp"));
  // Starting a shell needs no descriptor of ours: the command runs.
  EXPECT_EQ(3 << 8, run_status);
  EXPECT_EQ("Failed to open Process\n", fake.stdout_text);

  // With descriptors back, the same calls work.
  EXPECT_EQ(0, get_config("echo 11", out));
  EXPECT_EQ("11", std::string(out.c_str()));
}
