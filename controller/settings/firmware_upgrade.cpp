#include "controller/settings/firmware_upgrade.h"

#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/process.h"
#include "common/runner.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "controller/settings/setting_values.h"

int upgrade_pending = 0;
const char kFirmwareImage[] = "/tmp/flx-pico2hp.bin";

namespace {

// The image is downloaded and checked under a name of its own and only then
// takes the name the upgrade script flashes, so that the script never
// flashes a file that is still being written or was never checked.
const char kDownloadFolder[] = "/tmp/.firmware";
const char kDownloadedImage[] = "/tmp/.firmware/flx-pico2hp.bin";

// The upgrade script ends the controller before it flashes; a controller
// started again meanwhile must not touch the image.
bool upgrade_under_way() { return path_exists(kUpgradeScript) == 0 && process_runs(kUpgradeScript); }

// An old or partial image must neither be flashed nor make wget save the
// new one under another name.
bool download_image(const char* path) {
  host_unlink(kFirmwareImage);
  host_unlink(kDownloadedImage);
  make_directory(kDownloadFolder);
  CommandText cmd;
  int status = host().run(setting_command(cmd, "wget ", path, "/flx-pico2hp.bin --directory-prefix=/tmp/.firmware"));
  if (status == 0 && path_exists(kDownloadedImage) == 0) return true;
  out_line("Unable to download the firmware file");
  host_unlink(kDownloadedImage);
  return false;
}

}  // namespace

bool firmware_sum_matches(const char* expected, const char* computed) {
  if (!expected || !*expected) return true;
  return md5_equal(expected, computed);
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
  if (upgrade_under_way()) {
    out_line("Firmware upgrade already under way: nothing downloaded");
    return 1;
  }
  if (!download_image(fw.path)) return 1;
  FixedText<256> computed;
  get_config("md5sum /tmp/.firmware/flx-pico2hp.bin | awk '{print $1}'", computed);
  out_printf("Received SUM: %s\n", fw.md5sum.c_str());
  out_printf("Generated SUM: %s\n", computed.c_str());
  if (!firmware_sum_matches(fw.md5sum, computed)) {
    out_line("MD5 NOT valid for downloaded file");
    host_unlink(kDownloadedImage);
    return 1;
  }
  if (host_rename(kDownloadedImage, kFirmwareImage) != 0) {
    out_line("Unable to download the firmware file");
    host_unlink(kDownloadedImage);
    return 1;
  }

  out_line("MD5 MATCH: Success");
  if (write_upgrade_script() != 0) {
    out_line("Failed to create upgrade script");
    return 1;
  }
  // The copy tells the next check-in that an upgrade started: only once the
  // script that does it is there.
  keep_firmware_version();
  // The script ends the controller; this returns only when it did not.
  host().run("sh -x /tmp/upgrade.sh");
  return 0;
}

void run_pending_firmware_upgrade(const NodeConfig& config) {
  if (upgrade_pending != 1) return;
  out_line("CHECKIN:Firmware upgrade enabled from dashboard");
  run_firmware_upgrade(config.firmware);
}
