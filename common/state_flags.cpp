#include "common/state_flags.h"

#include "common/host.h"
#include "common/netif.h"
#include "common/runner.h"
#include "common/text.h"

int elink = 0;
int mesh = 0;
int vlan = 0;
int boot = 0;
struct stat statbuff;

const char kMeshDhcpPidFile[] = "/var/run/udhcpc-br-meship.pid";

void check_link() { elink = (if_status("eth0") == 1 || if_status("eth1") == 1) ? 1 : 0; }

void check_mesh() { mesh = path_exists(kMeshDhcpPidFile) == 0 ? 1 : 0; }

void check_vlan() {
  int present = 0;
  for (int i = 0; i < 4; ++i) {
    FixedText<64> path;
    path.format("/proc/net/vlan/bat0.%d", i);
    if (host_stat(path, &statbuff) == 0) ++present;
  }
  vlan = present == 4 ? 1 : 0;
}
