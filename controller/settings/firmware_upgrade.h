// The FWUPGRADE section: the offered firmware version, the folder URL of its
// image and the image's md5; the download, the checks and the upgrade
// script that flashes the image.
#pragma once

struct NodeConfig;
struct FirmwareSettings;

// Set by the after-apply step when the dashboard changed the firmware
// upgrade settings, cleared when the offered version is installed; the only
// way out of the check-in loop.
extern int upgrade_pending;

extern const char kFirmwareImage[];  // "/tmp/flx-pico2hp.bin"
extern const char kUpgradeScript[];  // "/tmp/upgrade.sh"

// 1 for a key that is not a firmware row, else 0.
int apply_upgrade_setting(const char* key, const char* value, NodeConfig& config);

// Compares versions, downloads the image, checks its md5, keeps a copy of
// the version file and runs the upgrade script, which ends the controller.
// Clears the upgrade flag when the offered version is installed. 0 when the
// script was started or the offered version is "none", else 1.
int run_firmware_upgrade(const FirmwareSettings& firmware);

// True when the image's computed sum passes: an empty expected sum means no
// check; else both must be 32 hex digits, equal without regard to case.
bool firmware_sum_matches(const char* expected, const char* computed);

// Writes the upgrade script: 0, or 1 when it cannot be written.
int write_upgrade_script();
// Copies "/etc/fw_a_version" byte for byte to "/etc/fw_a_version.old",
// which tells the dashboard after the reboot that the node was upgraded.
// Skipped when either file cannot be opened.
void keep_firmware_version();

// The check-in's last step: starts the upgrade when the parse left it
// pending.
void run_pending_firmware_upgrade(const NodeConfig& config);
