#include "common/shell_quote.h"

#include <gtest/gtest.h>

#include <string>

#include "common/real_host.h"
#include "common/runner.h"
#include "common/testing/fake_host.h"

TEST(ShellValue, SafeValuesStayAsTheyAre) {
  EXPECT_STREQ("MyNet-5_G.1,a:b/c@d%e+f=g", ShellValue("MyNet-5_G.1,a:b/c@d%e+f=g").c_str());
  EXPECT_STREQ("", ShellValue("").c_str());
}

TEST(ShellValue, OtherValuesAreQuoted) {
  EXPECT_STREQ("'pa$$word;x'", ShellValue("pa$$word;x").c_str());
  EXPECT_STREQ("'it'\\''s'", ShellValue("it's").c_str());
  EXPECT_STREQ("'two words'", ShellValue("two words").c_str());
}

TEST(ShellValue, CutValuesKeepTheirClosingQuote) {
  char out[8];
  shell_value("a b c d e f", out, sizeof(out));
  EXPECT_STREQ("'a b c'", out);
  shell_value("''''", out, sizeof(out));
  EXPECT_STREQ("''\\'''", out);
}

// The shell must see exactly the value and run nothing else.
TEST(ShellValue, HostileValuesReachTheCommandLiterally) {
  ScopedRealHost real;  // the machine's own /bin/sh
  const char* values[] = {"a;touch /tmp/pwned", "$(id)", "`id`",   "x && y", "a|b", "it's", "\"q\"", "*",
                          "line\nend",          " lead", "trail ", "$HOME",  "\\"};
  for (const char* v : values) {
    FixedText<2048> cmd;
    cmd.format("printf '%%s' %s", ShellValue(v).c_str());
    FixedText<256> got;
    ASSERT_EQ(0, get_config(cmd, got)) << v;
    std::string expect(v);
    expect = expect.substr(0, expect.find('\n'));  // first line only
    EXPECT_EQ(expect, got.c_str()) << v;
  }
}
