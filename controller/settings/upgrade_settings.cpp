#include "common/output.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/settings/setting_values.h"

namespace {

enum FirmwareCode { kAuto = 0, kUpgrade = 1, kVersion = 2, kSum = 3, kPath = 4 };

// A version, path or sum cut short names another image, or a version the
// flashed image never reports (the node would flash again at every start).
// Such a value is refused and the stored one withdrawn, whatever order the
// lines come in: a version of "none" and an empty path download nothing,
// and a sum that is no md5 passes no image.
template <size_t N>
void change_text(FixedText<N>& stored, const char* what, const char* withdrawn, const char* value, int& changes) {
  if (!value_fits(what, value, stored)) {
    stored.set(withdrawn);
    return;
  }
  if (!text_differs(stored, value)) return;
  stored.clear();
  stored.set(value);
  ++changes;
}

}  // namespace

int apply_upgrade_setting(const char* key, const char* value, NodeConfig& config) {
  FirmwareSettings& fw = config.firmware;
  int code = keyword_code(kFirmwareRows, key);
  if (code < kAuto || code > kPath) return 1;
  int number = decimal_value(value);
  switch (code) {
    case kAuto:
      out_line("AUTO");
      if (has_value(value) && number != fw.auto_upgrade) {
        out_line("Firmware auto changed");
        fw.auto_upgrade = number;
      }
      break;
    case kUpgrade:
      out_line("UPGRADE");
      out_printf("Value in strcut: %d\t received:%d\n", fw.upgrade, number);
      if (has_value(value) && number != fw.upgrade) {
        out_line("Firmware upgrade changed");
        fw.upgrade = number;
        ++config.changes[kRowFwupgrade];
      }
      break;
    default:
      // The image settings count only once the upgrade is enabled.
      if (fw.upgrade != 1 || !has_value(value)) break;
      if (code == kVersion) change_text(fw.version, "Firmware version", "none", value, config.changes[kRowFwupgrade]);
      if (code == kSum) change_text(fw.md5sum, "Firmware md5", "refused", value, config.changes[kRowFwupgrade]);
      if (code == kPath) change_text(fw.path, "Firmware path", "", value, config.changes[kRowFwupgrade]);
      break;
  }
  return 0;
}
