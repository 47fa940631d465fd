#include "common/text.h"

#include <gtest/gtest.h>

TEST(FixedText, CopiesAndFormatsAreCutAtTheCapacity) {
  FixedText<5> t("abcdefg");
  EXPECT_STREQ("abcd", t.c_str());
  t.format("%d-%s", 12, "xyz");
  EXPECT_STREQ("12-x", t.c_str());
  t.set("ab").append("cdef");
  EXPECT_STREQ("abcd", t.c_str());
  t.set("a").appendf("%s", "bcdefg");
  EXPECT_STREQ("abcd", t.c_str());
  t.clear();
  EXPECT_TRUE(t.empty());
  t.set(nullptr);
  EXPECT_STREQ("", t.c_str());
}

TEST(FixedText, RawHelpersNeverWritePastTheCapacity) {
  char buf[8];
  memset(buf, 'Z', sizeof(buf));
  copy_text(buf, 4, "hello");
  EXPECT_STREQ("hel", buf);
  EXPECT_EQ('Z', buf[4]);
  append_text(buf, 4, "xyz");
  EXPECT_STREQ("hel", buf);
  EXPECT_EQ(0u, append_format(buf, 4, "%s", "more"));
  EXPECT_EQ('Z', buf[4]);
}
