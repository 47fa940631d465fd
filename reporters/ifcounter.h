// The statistics reporter: each minute the uplink's traffic since the last
// minute goes to the dashboard's statistics path.
#pragma once

#include "common/text.h"
#include "reporters/identity.h"
#include "reporters/traffic.h"

// stats_config: read once at start-up, released by the clean-up. Only host
// and path are used afterwards.
struct StatsConfig {
  FixedText<256> host;
  FixedText<256> path;
  FixedText<256> fallback_ip;
  FixedText<10> interval;
  FixedText<30> role;
};

// Reads the record from uci, printing each value or its failure.
void load_stats_config();
// The record (nullptr before the load and after the clean-up).
const StatsConfig* stats_config();
// Releases the record: "Configuration cleared".
void clear_stats_config();

// "eth0" when batman runs as gateway server, else "mesh0".
const char* select_stats_interface();

// Reads the counters of ifname, sends the differences and reads the reply.
// 0 when the reply holds "200"; 1 otherwise.
int report_statistics(const StatsConfig& config, const char* identity, const char* ifname, TrafficSample& sample);

struct Ifcounter {
  MacText identity;
  TrafficSample sample;
};

// Daemon frame ("/tmp/netstat.pid"), then the log; the clean-up releases
// the record before the pid file goes.
void start_ifcounter_daemon();
// Identity, configuration, a zero sample. 1 when eth0's MAC cannot be read
// (logged), else 0.
int prepare_ifcounter(Ifcounter& counter);
// One cycle without its pause.
void ifcounter_cycle(Ifcounter& counter);

// The whole program: start-up in order, then the cycles.
int run_ifcounter();
