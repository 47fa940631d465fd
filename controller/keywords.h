// The keyword table: every section name and setting key that the dashboard
// sends, in one ordered list shared by the reply parser and all appliers.
// A lookup starts at the first row of its group and runs to the end of the
// whole table, so a name can also match a row of a later group and then
// takes that row's code: the dashboard relies on this order.
#pragma once

struct Keyword {
  const char* name;
  int code;
};

constexpr int kKeywordRows = 76;
// The 76 rows and the end row.
extern const Keyword kKeywords[kKeywordRows + 1];

// First row of each group.
enum KeywordGroup : int {
  kSectionRows = 0,
  kWirelessRows = 18,
  kFilterRows = 39,
  kManagementRows = 42,
  kRebootRows = 55,
  kCustomScriptRows = 56,
  kServiceRows = 59,
  kGeneralRows = 65,
  kRebootScheduleRows = 68,
  kFirmwareRows = 71,
};

// The section rows, in table order (also the order of the after-apply step).
enum SectionRow : int {
  kRowDashboard,
  kRowDebug,
  kRowMadwifi,
  kRowAnyip,
  kRowWireless,
  kRowRadio,
  kRowFilter,
  kRowNodes,
  kRowManagement,
  kRowGeneral,
  kRowChilli,
  kRowNodog,
  kRowServices,
  kRowReboot,
  kRowCustomScript,
  kRowRebootSchedule,
  kRowFwupgrade,
  kRowLedsign,
  kSectionRowCount
};

// The codes of the section rows; kCodeUnknown stands for a name not in the table.
enum SectionCode : int {
  kCodeDashboard = 0,
  kCodeDebug = 1,
  kCodeMadwifi = 2,
  kCodeAnyip = 3,
  kCodeWireless = 4,
  kCodeRadio = 5,
  kCodeFilter = 6,
  kCodeChilli = 7,
  kCodeNodog = 8,
  kCodeNodes = 9,
  kCodeManagement = 10,
  kCodeGeneral = 11,
  kCodeServices = 12,
  kCodeReboot = 13,
  kCodeCustomScript = 14,
  kCodeRebootSchedule = 15,
  kCodeLedsign = 16,
  kCodeFwupgrade = 17,
  kCodeUnknown = 18,
  kSectionCodeCount
};

// ASCII comparison without regard to case (no locale).
bool same_keyword(const char* a, const char* b);
// The row of the first keyword from first_row to the end of the table that
// equals key without regard to case; -1 when none does.
int keyword_row(int first_row, const char* key);
// That row's code; -1 when no row matches.
int keyword_code(int first_row, const char* key);
