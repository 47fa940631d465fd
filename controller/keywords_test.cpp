#include "controller/keywords.h"

#include <gtest/gtest.h>

#include <string>

TEST(Keywords, TableHas76RowsClosedByTheEndRow) {
  for (int row = 0; row < kKeywordRows; ++row) EXPECT_NE(nullptr, kKeywords[row].name) << row;
  EXPECT_EQ(nullptr, kKeywords[kKeywordRows].name);
  EXPECT_EQ(76, kKeywordRows);
}

TEST(Keywords, GroupsStartWhereTheirFirstKeywordStands) {
  const std::pair<int, const char*> starts[] = {
      {kSectionRows, "dashboard"},     {kWirelessRows, "usenodename"},
      {kFilterRows, "lan_block"},      {kManagementRows, "reboot_enable"},
      {kRebootRows, "reboot"},         {kCustomScriptRows, "cs_enable"},
      {kServiceRows, "ftp"},           {kGeneralRows, "hostname"},
      {kRebootScheduleRows, "enable"}, {kFirmwareRows, "auto"},
  };
  for (const auto& [row, name] : starts) EXPECT_STREQ(name, kKeywords[row].name) << row;
  // The last row of each group, just before the next group.
  EXPECT_STREQ("ledsign", kKeywords[kWirelessRows - 1].name);
  EXPECT_STREQ("wifi0.58_channel", kKeywords[kFilterRows - 1].name);
  EXPECT_STREQ("no_inet_check", kKeywords[kRebootRows - 1].name);
  EXPECT_STREQ("path", kKeywords[kKeywordRows - 1].name);
}

TEST(Keywords, SectionRowsCarryTheirOwnCodes) {
  // Row order and code differ for the portal, nodes and last two sections.
  const std::pair<const char*, int> sections[] = {{"nodes", kCodeNodes},     {"management", kCodeManagement},
                                                  {"general", kCodeGeneral}, {"chilli", kCodeChilli},
                                                  {"nodog", kCodeNodog},     {"fwupgrade", kCodeFwupgrade},
                                                  {"ledsign", kCodeLedsign}, {"s_reboot", kCodeRebootSchedule}};
  for (const auto& [name, code] : sections) EXPECT_EQ(code, keyword_code(kSectionRows, name)) << name;
  EXPECT_EQ(kRowChilli, keyword_row(kSectionRows, "chilli"));
  EXPECT_EQ(kRowLedsign, keyword_row(kSectionRows, "ledsign"));
}

TEST(Keywords, LookupIgnoresCaseAndRunsToTheEndOfTheWholeTable) {
  struct Case {
    int first_row;
    const char* key;
    int row;
    int code;
  };
  const Case cases[] = {
      {kSectionRows, "WIRELESS", 4, 4},
      {kWirelessRows, "RADIO0.CHANNEL", 19, 1},
      {kFilterRows, "PUBLIC.ap_isolate", 40, 1},
      // Names of later groups match with those groups' codes.
      {kSectionRows, "lan_block", 39, 0},
      {kWirelessRows, "lan_block", 39, 0},
      {kWirelessRows, "ssh", 60, 1},
      {kManagementRows, "version", 73, 2},
      // The first match wins: the section row before the reboot row.
      {kSectionRows, "reboot", 13, 13},
      {kRebootRows, "reboot", 55, 0},
      {kServiceRows, "enable", 68, 0},
      // Rows before the group's first are not searched.
      {kWirelessRows, "wireless", -1, -1},
      {kFirmwareRows, "ftp", -1, -1},
      {kSectionRows, "nosuch", -1, -1},
      {kSectionRows, "", -1, -1},
      {kSectionRows, "dashboards", -1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.row, keyword_row(c.first_row, c.key)) << c.key;
    EXPECT_EQ(c.code, keyword_code(c.first_row, c.key)) << c.key;
  }
  EXPECT_EQ(-1, keyword_code(kSectionRows, nullptr));
}
