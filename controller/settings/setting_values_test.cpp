#include "controller/settings/setting_values.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(SettingValues, DecimalValueOfLeadingDigits) {
  const std::pair<const char*, int> cases[] = {
      {"5", 5},
      {"abc", 0},
      {"", 0},
      {" 12x", 12},
      {"-3", -3},
      {"+7", 7},
      {"0x10", 0},
      {"6 ", 6},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(value, decimal_value(text)) << text;
  EXPECT_EQ(0, decimal_value(nullptr));
}

TEST(SettingValues, TextDiffersComparesTheValueAsItWouldBeStored) {
  FixedText<5> country("DE");
  EXPECT_FALSE(text_differs(country, "DE"));
  EXPECT_TRUE(text_differs(country, "de"));
  EXPECT_TRUE(text_differs(country, "DEU"));
  EXPECT_TRUE(text_differs(country, ""));
  country.set("ABCDEFG");  // cut to ABCD
  EXPECT_STREQ("ABCD", country.c_str());
  EXPECT_FALSE(text_differs(country, "ABCDEFG"));
  EXPECT_FALSE(text_differs(country, "ABCDXYZ"));
  EXPECT_TRUE(text_differs(country, "ABC"));
}

TEST(SettingValues, CommandKeepsPlainValuesAndQuotesTheOthers) {
  CommandText cmd;
  EXPECT_STREQ("uci set wireless.pub.ssid=Cafe-Guest_1",
               setting_command(cmd, "uci set wireless.pub.ssid=", "Cafe-Guest_1"));
  EXPECT_STREQ("uci set wireless.priv.key='pa$$word;x'\n",
               setting_command(cmd, "uci set wireless.priv.key=", "pa$$word;x", "\n"));
  EXPECT_STREQ("uci set wireless.pub.ssid='it'\\''s'", setting_command(cmd, "uci set wireless.pub.ssid=", "it's"));
  EXPECT_STREQ("ifconfig br-pub  netmask 255.255.252.0 up",
               setting_command(cmd, "ifconfig br-pub ", "", " netmask 255.255.252.0 up"));
}

TEST(SettingValues, OverlongValueIsCutNeverItsQuotingOrTheTail) {
  CommandText cmd;
  std::string quotes(400, '\'');
  std::string out = setting_command(cmd, "uci set wireless.priv.key=", quotes.c_str(), "\n");
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ("'\n", out.substr(out.size() - 2));
  EXPECT_EQ(0u, out.find("uci set wireless.priv.key='"));
  // Whole '\'' pieces only: the quoting still closes.
  std::string body = out.substr(27, out.size() - 27 - 2);
  EXPECT_EQ(0u, body.size() % 4);
  // The longest stored field (255 characters, all quotes) fits whole.
  std::string longest(255, '\'');
  out = setting_command(cmd, "uci set node.setting.cs_url=", longest.c_str(), "\n");
  EXPECT_EQ(std::string("uci set node.setting.cs_url=").size() + 2 + 255 * 4 + 1, out.size());
}
