// The client reporter: each minute the stations of the public and private
// access points go into /tmp/.clients and from there to the dashboard.
#pragma once

#include "reporters/client_list.h"
#include "reporters/identity.h"

struct ClientScout {
  ReportConfig config;
  MacText identity;  // eth0's MAC; empty until it could be read
};

// 0 when the wireless section ("pub" or "priv") has both disabled and hidden
// set to 0, so its interface is dumped; 1 otherwise.
int interface_selected(const char* section);

// Log, then the daemon frame ("/tmp/clientscout.pid"); its clean-up removes
// the client list after the pid file.
void start_clientscout_daemon();
void remove_client_list();

// report_config and the identity.
void prepare_clientscout(ClientScout& scout);
// One cycle without its pause: rebuild /tmp/.clients from the station dumps
// and report it.
void clientscout_cycle(ClientScout& scout);
[[noreturn]] void run_clientscout_cycles(ClientScout& scout);

// The whole program once its row is chosen: start-up in order, then the cycles.
int run_clientscout();
