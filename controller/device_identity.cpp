#include "controller/device_identity.h"

#include <syslog.h>

#include <cstdio>
#include <cstring>

#include "common/host.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/runner.h"

int load_device_identity(DeviceIdentity& identity) {
  int result = get_mac("eth0", identity.mac);
  if (result != 0) {
    log_printf(LOG_DEBUG, "D_C_I:  Error: %d", result);
  } else {
    log_printf(LOG_DEBUG, "D_C_I: eth0 MAC: %s", identity.mac.c_str());
  }
  identity.hw.clear();
  get_config("uci get node.status.hw", identity.hw);
  log_printf(LOG_DEBUG, "D_C_I:Hardware : %s", identity.hw.c_str());
  identity.firmware.clear();
  if (read_firmware_version(identity.firmware) != 0) {
    log_printf(LOG_DEBUG, "D_C_I:failed to get the firmware version\n");
  } else {
    log_printf(LOG_DEBUG, "D_C_I:Firmware Version : %s", identity.firmware.c_str());
  }
  return 0;
}

int read_firmware_version(char* out, size_t cap) {
  FILE* f = host_fopen("/etc/fw_a_version", "r");
  if (!f) return 1;
  char line[30];
  memset(line, 0, sizeof(line));
  bool read = fgets(line, sizeof(line), f) != nullptr;
  fclose(f);
  if (!read) return 1;
  // A version line ends with a line feed; a longer line is not a version.
  size_t n = strlen(line);
  if (n == 0 || line[n - 1] != '\n') return 1;
  line[n - 1] = '\0';
  out_line(line);
  copy_text(out, cap, line);
  return 0;
}
