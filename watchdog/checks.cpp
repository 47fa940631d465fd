#include "watchdog/checks.h"

#include <signal.h>
#include <syslog.h>

#include <cstring>

#include "common/endpoints.h"
#include "common/host.h"
#include "common/kernel.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/process.h"
#include "common/process_http.h"
#include "common/runner.h"
#include "common/services.h"
#include "common/state_flags.h"
#include "common/sysinfo.h"
#include "common/transport.h"
#include "mesh/bridge_addresses.h"
#include "watchdog/idle_reboot.h"
#include "watchdog/program.h"
#include "watchdog/service_check.h"

namespace {

constexpr unsigned kLowMemoryKb = 500;
constexpr int kNatLine = 511;  // lines of up to 510 characters

// The first blank-separated word of line is word.
bool first_word_is(const char* line, const char* word) {
  line += strspn(line, " \t");
  size_t n = strcspn(line, " \t\r\n");
  return n == strlen(word) && strncmp(line, word, n) == 0;
}

bool masquerade_listed() {
  CommandStream nat;
  if (host().open_command("iptables -t nat -L", nat) != 0) return false;
  char line[kNatLine];
  bool found = false;
  bool line_start = true;
  while (!found && nat.gets(line, sizeof(line))) {
    // The rest of an over-long line is no line of its own.
    if (line_start) found = first_word_is(line, "MASQUERADE");
    line_start = strchr(line, '\n') != nullptr;
  }
  host().close_command(nat);
  return found;
}

bool clear_zombie(const ProcessEntry& entry, void* arg) {
  if (entry.state != 'Z') return false;
  log_printf(LOG_DEBUG, "Clearing process: %ld", entry.pid);
  host().kill(static_cast<pid_t>(entry.pid), SIGTERM);
  ++*static_cast<int*>(arg);
  return false;
}

bool node_is_repeater() {
  FixedText<256> mode;
  get_config("uci get node.status.mode", mode);
  return mode == "repeater";
}

// A repeater without its mesh: its DHCP client ended without a lease, or
// runs on without one (busybox's client never ends once it has had one).
bool repeater_off_the_mesh() {
  if (!node_is_repeater()) return false;
  if (path_exists(kMeshDhcpPidFile) != 0) return true;
  FixedText<16> address;
  return get_ipaddr("br-meship", address) != 0;
}

}  // namespace

int process_http_watchdog(int sock, const char* host, const char* path) {
  // Kept out of the stack: the area is large.
  static char area[30001];
  const char* payload = exchange_reply(sock, host, path, area, sizeof(area), true);
  if (!payload || strcmp(payload, "Succeed") != 0) return 1;
  log_printf(LOG_DEBUG, "Response: %s", payload);
  return 0;
}

void memory_test() {
  log_printf(LOG_DEBUG, "Running Memory Test...");
  unsigned free_kb = 0;  // unreadable: counts as enough
  read_meminfo(&free_kb);
  if (free_kb >= 1 && free_kb <= kLowMemoryKb) {
    log_printf(LOG_DEBUG, "Running on low memory- Reboot the device");
    reboot_when_idle();
  } else {
    log_printf(LOG_DEBUG, "  OK");
  }
}

void wifi_test() {
  int present = kernel().link_listed("mesh0");
  if (present < 0) {
    log_printf(LOG_DEBUG, "getifaddrs");
    return;
  }
  log_printf(LOG_DEBUG, "Running WiFi test...");
  if (present == 0) {
    log_printf(LOG_DEBUG, "WiFi mesh is not enabled - Reboot device");
    reboot_when_idle();
  } else {
    log_printf(LOG_DEBUG, " OK");
  }
}

void check_masquerade() {
  if (masquerade_listed()) {
    log_printf(LOG_DEBUG, "MASQUERADING enabled");
    return;
  }
  log_printf(LOG_DEBUG, "setting upt MASQUERADING rule");
  host().run(kMasqueradeCommand);
}

void clear_zombies() {
  log_printf(LOG_DEBUG, "Checking for Zombie process ....");
  int cleared = 0;
  walk_processes(clear_zombie, &cleared);
  if (cleared != 0) log_printf(LOG_DEBUG, "%d zombie cleared", cleared);
  log_printf(LOG_DEBUG, " OK");
}

void internet_test() {
  int sock = ConnectHost(kBuiltInDashboard.host, kBuiltInDashboard.fallback_ip);
  if (sock < 0) {
    // No connection is an outage of the dashboard or the uplink, which a
    // search would not mend, unless a repeater has lost the mesh itself.
    // Nothing else would ever search for it again.
    if (repeater_off_the_mesh()) {
      log_printf(LOG_DEBUG, "Repeater without a mesh lease: searching for the mesh");
      // lonely ends at once for a node that counts as mesh client.
      stop_mesh_dhcp_client();
      host().run("/usr/bin/lonely &");
    }
    return;
  }
  if (process_http_watchdog(sock, kBuiltInDashboard.host, kServerPingPath) == 0) {
    log_printf(LOG_DEBUG, "Internet connection:ok");
    return;
  }
  log_printf(LOG_DEBUG, "Running failure check issue");
  if (node_is_repeater()) host().run("/usr/bin/lonely &");
}

void watchdog_checks() {
  memory_test();
  wifi_test();
  for (const WatchedDaemon& daemon : kWatchedDaemons) check_service(daemon);
  check_masquerade();
  clear_zombies();
  internet_test();
}
