#include "reporters/clientscout.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdlib>

#include "common/daemon.h"
#include "common/host.h"
#include "common/kernel.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/runner.h"
#include "reporters/clientscout_program.h"

namespace {

// A uci value read as a decimal number; text that is no number counts as 0.
bool nonzero(const char* value) { return strtol(value, nullptr, 10) != 0; }

// Reads eth0's MAC into the identity; false while it cannot be read.
bool read_identity(ClientScout& scout) {
  MacText mac;
  if (get_mac("eth0", mac) != 0 || mac.empty()) return false;
  scout.identity.set(mac);
  return true;
}

}  // namespace

int interface_selected(const char* section) {
  FixedText<100> command;
  FixedText<256> value;
  command.format("uci get wireless.%s.disabled", section);
  if (get_config(command, value) != 0) return 1;
  if (nonzero(value)) {
    out_printf("Inerface %s: Disabled\n", section);
    return 1;
  }
  value.clear();
  command.format("uci get wireless.%s.hidden", section);
  if (get_config(command, value) != 0 || nonzero(value)) return 1;
  out_printf("Get Station list of %s\n", section);
  return 0;
}

void remove_client_list() { host_unlink(kClientsFile); }

void start_clientscout_daemon() { start_daemon(kClientscoutDaemon); }

void prepare_clientscout(ClientScout& scout) {
  make_report_config(scout.config);
  scout.identity.clear();
  if (!read_identity(scout)) {
    log_printf(LOG_INFO, "eth0 MAC address unreadable: the client list waits for it");
  }
}

void clientscout_cycle(ClientScout& scout) {
  log_printf(LOG_DEBUG, "updating client list");
  if (host_access(kClientsFile, F_OK) == 0) {
    if (host_unlink(kClientsFile) == 0) {
      log_printf(LOG_DEBUG, "Building Client list");
    } else {
      log_printf(LOG_DEBUG, "Faild to clear the client list");
    }
  }
  if (interface_selected("pub") == 0) kernel().station_dump("pub0");
  if (interface_selected("priv") == 0) kernel().station_dump("priv0");
  // A list without the node's identity cannot be told apart from another
  // node's: it waits until eth0's MAC can be read.
  if (scout.identity.empty()) {
    if (read_identity(scout)) {
      log_printf(LOG_INFO, "eth0 MAC address: %s", scout.identity.c_str());
    } else {
      out_line("eth0 MAC address unreadable: client list not sent");
    }
  }
  if (!scout.identity.empty()) send_client_list(scout.config, scout.identity);
  log_printf(LOG_DEBUG, "Updating client List");
}

void run_clientscout_cycles(ClientScout& scout) {
  for (;;) {
    clientscout_cycle(scout);
    host().sleep(scout.config.period);
  }
}

int run_clientscout() {
  start_clientscout_daemon();
  kernel().station_init();
  static ClientScout scout;
  prepare_clientscout(scout);
  run_clientscout_cycles(scout);
}
