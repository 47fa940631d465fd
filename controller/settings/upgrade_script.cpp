#include <cstdio>
#include <cstring>

#include "common/host.h"
#include "controller/settings/firmware_upgrade.h"

const char kUpgradeScript[] = "/tmp/upgrade.sh";

namespace {

// The script ends the controller that started it, then the reporters, and
// flashes the image if it is still there.
const char kScript[] =
    "#!/bin/sh\n"
    "sleep 10\n"
    "echo Terminating Dashboard Controller\n"
    "pkill fleetlink_supervisor\n"
    "pkill clientscout\n"
    "pkill ifcounter\n"
    "sleep 10\n"
    "if [ -e /tmp/flx-pico2hp.bin ]; then\n"
    "\techo starting upgrade\n"
    "\t/sbin/sysupgrade -v /tmp/flx-pico2hp.bin\n"
    "else\n"
    "\techo file not exist terminating upgrade\n"
    "fi\n"
    "exit 0\n";

}  // namespace

int write_upgrade_script() {
  FILE* f = host_fopen(kUpgradeScript, "w");
  if (!f) return 1;
  size_t len = strlen(kScript);
  bool ok = fwrite(kScript, 1, len, f) == len;
  // A script cut short could stop the daemons without flashing.
  if (fclose(f) != 0 || !ok) {
    host_unlink(kUpgradeScript);
    return 1;
  }
  return 0;
}

void keep_firmware_version() {
  FILE* in = host_fopen("/etc/fw_a_version", "rb");
  if (!in) return;
  FILE* out = host_fopen("/etc/fw_a_version.old", "wb");
  if (!out) {
    fclose(in);
    return;
  }
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), in)) > 0) {
    if (fwrite(buf, 1, n, out) != n) break;
  }
  fclose(in);
  fclose(out);
}
