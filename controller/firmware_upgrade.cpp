#include "controller/firmware_upgrade.h"

#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "controller/download_guard.h"
#include "controller/setting_values.h"
#include "controller/upgrade_flag.h"

const char kFirmwareImage[] = "/tmp/flx-pico2hp.bin";

namespace {

constexpr size_t kMd5Digits = 32;

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_md5(const char* text) {
  if (strlen(text) != kMd5Digits) return false;
  for (size_t i = 0; i < kMd5Digits; ++i) {
    if (!is_hex(text[i])) return false;
  }
  return true;
}

// The image lands in RAM: an old or partial one must neither be flashed
// nor make wget save the new one under another name.
bool download_image(const char* path) {
  host_unlink(kFirmwareImage);
  CommandText cmd;
  int status = host().run(setting_command(cmd, "wget ", path, "/flx-pico2hp.bin --directory-prefix=/tmp"));
  if (status == 0 && path_exists(kFirmwareImage) == 0) return true;
  out_line("Unable to download the firmware file");
  host_unlink(kFirmwareImage);
  return false;
}

}  // namespace

bool firmware_sum_matches(const char* expected, const char* computed) {
  if (!expected || !*expected) return true;
  if (!computed || !is_md5(expected) || !is_md5(computed)) return false;
  for (size_t i = 0; i < kMd5Digits; ++i) {
    if (lower(expected[i]) != lower(computed[i])) return false;
  }
  return true;
}

int run_firmware_upgrade(const FirmwareSettings& fw) {
  if (fw.auto_upgrade != 1 && fw.upgrade != 1) return 1;
  out_line("Firmware upgrade enable from dashboard");
  if (fw.version == "none") {
    out_line("Received NULL firmware version");
    return 0;
  }
  FixedText<30> installed;
  if (read_firmware_version(installed) != 0) return 1;
  if (installed == fw.version.c_str()) {
    out_line("Same firmware version");
    upgrade_pending = 0;
    return 1;
  }
  out_printf("current:%s\t New:%s\n", installed.c_str(), fw.version.c_str());

  if (fw.path.empty() || refuse_option_like("Firmware path", fw.path)) return 1;
  if (!download_image(fw.path)) return 1;
  FixedText<256> computed;
  get_config("md5sum /tmp/flx-pico2hp.bin | awk '{print $1}'", computed);
  out_printf("Received SUM: %s\n", fw.md5sum.c_str());
  out_printf("Generated SUM: %s\n", computed.c_str());
  if (!firmware_sum_matches(fw.md5sum, computed)) {
    out_line("MD5 NOT valid for downloaded file");
    host_unlink(kFirmwareImage);
    return 1;
  }

  keep_firmware_version();
  out_line("MD5 MATCH: Success");
  if (write_upgrade_script() != 0) {
    out_line("Failed to create upgrade script");
    return 1;
  }
  // The script ends the controller; this returns only when it did not.
  host().run("sh -x /tmp/upgrade.sh");
  return 0;
}

void run_pending_firmware_upgrade(const NodeConfig& config) {
  if (upgrade_pending != 1) return;
  out_line("CHECKIN:Firmware upgrade enabled from dashboard");
  run_firmware_upgrade(config.firmware);
}
