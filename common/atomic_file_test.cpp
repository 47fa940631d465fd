#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/testing/fake_host.h"

namespace {

class AtomicFile : public ::testing::Test {
 protected:
  FakeHost fake;
  ScopedHost scope{fake};
};

}  // namespace

TEST_F(AtomicFile, ReplacesTheWholeFileAndLeavesNoTemporary) {
  fake.write("/tmp/.received", "old text that is longer than the new one\n");
  EXPECT_EQ(0, replace_file_text("/tmp/.received", "#@#config wireless\n"));
  EXPECT_EQ("#@#config wireless\n", fake.read("/tmp/.received"));
  EXPECT_FALSE(fake.exists("/tmp/.received.tmp"));
  EXPECT_EQ(std::vector<std::string>{"write /tmp/.received #@#config wireless\n"}, fake.trace("write "));

  EXPECT_EQ(0, replace_file_text("/tmp/.received", ""));
  EXPECT_TRUE(fake.exists("/tmp/.received"));
  EXPECT_EQ("", fake.read("/tmp/.received"));
}

TEST_F(AtomicFile, FullFileSystemKeepsTheOldContent) {
  fake.write("/tmp/.received", "old\n");
  // Every write to /dev/full fails with ENOSPC, as on a full /tmp.
  ASSERT_EQ(0, symlink("/dev/full", fake.path("/tmp/.received.tmp").c_str()));
  EXPECT_EQ(-1, replace_file_text("/tmp/.received", std::string(100, 'x').c_str()));
  EXPECT_EQ("old\n", fake.read("/tmp/.received"));
  struct stat st;
  EXPECT_NE(0, lstat(fake.path("/tmp/.received.tmp").c_str(), &st));
  EXPECT_TRUE(fake.trace("write ").empty());
}

TEST_F(AtomicFile, UncreatableTemporaryOrMissingFolderFails) {
  ASSERT_EQ(0, mkdir(fake.path("/tmp/.received.tmp").c_str(), 0755));
  EXPECT_EQ(-1, replace_file_text("/tmp/.received", "text"));
  EXPECT_FALSE(fake.exists("/tmp/.received"));
  EXPECT_EQ(-1, replace_file_text("/nowhere/file", "text"));
}
