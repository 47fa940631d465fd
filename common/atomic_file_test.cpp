#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/testing/fake_host.h"

namespace {

// Lowers the file size limit for a scope, so that writes beyond it fail
// (EFBIG) as they would on a full file system.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit lower = {bytes, old_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_;
  sighandler_t old_handler_;
};

class AtomicFileTest : public ::testing::Test {
 protected:
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

TEST_F(AtomicFileTest, ReplacesTheWholeFileAndLeavesNoTemporary) {
  fake.write("/tmp/.received", "old text that is longer than the new one\n");
  EXPECT_EQ(0, replace_file_text("/tmp/.received", "#@#config wireless\n"));
  EXPECT_EQ("#@#config wireless\n", fake.read("/tmp/.received"));
  EXPECT_FALSE(fake.exists("/tmp/.received.tmp"));
  EXPECT_EQ(std::vector<std::string>{"write /tmp/.received #@#config wireless\n"}, fake.trace("write "));

  EXPECT_EQ(0, replace_file_text("/tmp/.received", ""));
  EXPECT_TRUE(fake.exists("/tmp/.received"));
  EXPECT_EQ("", fake.read("/tmp/.received"));
}

TEST_F(AtomicFileTest, FullFileSystemKeepsTheOldContent) {
  fake.write("/tmp/.received", "old\n");
  {
    // Writes beyond 10 bytes fail, as they do on a full /tmp.
    FileSizeLimit full(10);
    EXPECT_EQ(-1, replace_file_text("/tmp/.received", std::string(100, 'x').c_str()));
  }
  EXPECT_EQ("old\n", fake.read("/tmp/.received"));
  EXPECT_FALSE(fake.exists("/tmp/.received.tmp"));
  EXPECT_TRUE(fake.trace("write ").empty());
}

TEST_F(AtomicFileTest, ALinkPlantedAtTheTemporaryNameIsNeverWrittenThrough) {
  fake.write("/etc/shadow", "root:x:0:0\n");
  ASSERT_EQ(0, symlink(fake.path("/etc/shadow").c_str(), fake.path("/tmp/.received.tmp").c_str()));
  EXPECT_EQ(0, replace_file_text("/tmp/.received", "#@#config radio\n"));
  EXPECT_EQ("root:x:0:0\n", fake.read("/etc/shadow"));
  EXPECT_EQ("#@#config radio\n", fake.read("/tmp/.received"));
  struct stat st;
  ASSERT_EQ(0, lstat(fake.path("/tmp/.received").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_NE(0, lstat(fake.path("/tmp/.received.tmp").c_str(), &st));
}

TEST_F(AtomicFileTest, StreamedReplacementKeepsTheModeAndIsDiscardedUnlessCommitted) {
  fake.write("/etc/crontabs/root", "old jobs\n");
  ASSERT_EQ(0, chmod(fake.path("/etc/crontabs/root").c_str(), 0640));
  {
    AtomicFile out;
    ASSERT_TRUE(out.open("/etc/crontabs/root", 0600));
    fputs("half of the new jobs", out.file());
    EXPECT_TRUE(fake.exists("/etc/crontabs/root.tmp"));
  }  // never committed
  EXPECT_EQ("old jobs\n", fake.read("/etc/crontabs/root"));
  EXPECT_FALSE(fake.exists("/etc/crontabs/root.tmp"));

  AtomicFile out;
  ASSERT_TRUE(out.open("/etc/crontabs/root", 0600));
  fputs("new jobs\n", out.file());
  EXPECT_EQ(0, out.commit());
  EXPECT_EQ("new jobs\n", fake.read("/etc/crontabs/root"));
  struct stat st;
  ASSERT_EQ(0, stat(fake.path("/etc/crontabs/root").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(-1, out.commit());  // once only
}

TEST_F(AtomicFileTest, UncreatableTemporaryOrMissingFolderFails) {
  ASSERT_EQ(0, mkdir(fake.path("/tmp/.received.tmp").c_str(), 0755));
  EXPECT_EQ(-1, replace_file_text("/tmp/.received", "text"));
  EXPECT_FALSE(fake.exists("/tmp/.received"));
  EXPECT_EQ(-1, replace_file_text("/nowhere/file", "text"));
}
