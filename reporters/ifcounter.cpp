#include "reporters/ifcounter.h"

#include <errno.h>
#include <syslog.h>

#include <cstring>
#include <new>

#include "common/base64.h"
#include "common/daemon.h"
#include "common/endpoints.h"
#include "common/framing.h"
#include "common/host.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/reply_reader.h"
#include "common/runner.h"
#include "common/transport.h"
#include "reporters/ifcounter_program.h"

namespace {

constexpr unsigned kReportPeriod = 60;                // whatever dashboard.remote.cinterval says
constexpr int kAuthEmergency = LOG_AUTH | LOG_EMERG;  // priority value 32
constexpr size_t kRequestArea = 4096;

StatsConfig* g_stats_config = nullptr;

struct ConfigRow {
  const char* command;
  const char* printed;
  const char* failed;
};

// Reads one key into the zeroed field and says what came of it.
template <size_t N>
void load_key(const ConfigRow& row, FixedText<N>& field) {
  field.clear();
  if (get_config(row.command, field) == 0) {
    TABLE_FORMAT_BEGIN
    out_printf(row.printed, field.c_str());
    TABLE_FORMAT_END
  } else {
    out_line(row.failed);
  }
}

}  // namespace

void load_stats_config() {
  clear_stats_config();
  // A nothrow_t of our own: the library's std::nothrow object is a symbol of
  // libstdc++, which the shipped file does not link.
  g_stats_config = new (std::nothrow_t{}) StatsConfig;
  if (!g_stats_config) return;
  StatsConfig& c = *g_stats_config;
  load_key({"uci get dashboard.remote.host", "Hostname: %s\n", "Failed to get the dashboard"}, c.host);
  load_key({"uci get dashboard.remote.cupath", "Path: %s\n", "Failed to get the path"}, c.path);
  load_key({"uci get dashboard.remote.fallback_ip", "IP: %s\n", "Failed to get the fallbackip"}, c.fallback_ip);
  load_key({"uci get dashboard.remote.cinterval", "Interval: %s\n", "Failed to get the checkin interval"}, c.interval);
  load_key({"uci get node.status.mode", "Role: %s\n", "Failed to get the AP Role"}, c.role);
}

const StatsConfig* stats_config() { return g_stats_config; }

void clear_stats_config() {
  if (!g_stats_config) return;
  delete g_stats_config;
  g_stats_config = nullptr;
  log_printf(LOG_DEBUG, "Configuration cleared");
}

const char* select_stats_interface() {
  FixedText<20> mode;
  get_config("batctl gw | awk '{print $1}'", mode);
  return mode == "server" ? "eth0" : "mesh0";
}

int report_statistics(const StatsConfig& config, const char* identity, const char* ifname, TrafficSample& sample) {
  update_traffic(sample, ifname);
  int sock = connect_to(kIfcounterConnect, config.host, nullptr);
  if (sock < 0) {
    log_printf(LOG_DEBUG, "Faild to connect to Dashboard: %s", config.host.c_str());
    return 1;
  }
  log_printf(LOG_DEBUG, "%s Connection Descriptor: %d", config.host.c_str(), sock);

  const long long* d = sample.difference;
  FixedText<511> data;
  statistics_data(d[kRxBytes], d[kTxBytes], d[kRxPackets], d[kTxPackets], data);
  FixedText<512> encoded_data;
  b64_encode(data, encoded_data);
  FixedText<280> encoded_id;
  b64_encode(identity, encoded_id);
  FixedText<kRequestArea> request;  // later the reply
  frame_statistics(config.path, encoded_id, encoded_data, config.host, request.data(), kRequestArea - 1);
  errno = 0;
  send_request(sock, request.c_str(), request.size());
  out_printf("Send Returens: %s\n", strerror(errno));

  if (read_dashboard_reply(sock, request.data(), kRequestArea, ReplyForm::kIfcounter) < 0) return 1;
  bool accepted = strstr(request.c_str(), "200") != nullptr;
  log_printf(LOG_DEBUG, accepted ? "Statistics Update - Succeed" : "Statistics Update - Failed");
  return accepted ? 0 : 1;
}

void start_ifcounter_daemon() { start_daemon(kIfcounterDaemon); }

int prepare_ifcounter(Ifcounter& counter) {
  counter.identity.clear();
  int rc = get_mac("eth0", counter.identity);
  if (rc != 0) {
    log_printf(kAuthEmergency, "Error: %d:%s", rc, strerror(rc));
    return 1;
  }
  log_printf(LOG_DEBUG, "eth0 MAC: %s\n", counter.identity.c_str());
  load_stats_config();
  memset(&counter.sample, 0, sizeof(counter.sample));
  log_printf(LOG_INFO, "Network Statistics started");
  return 0;
}

void ifcounter_cycle(Ifcounter& counter) {
  const char* ifname = select_stats_interface();
  log_printf(LOG_DEBUG, "Run Statistics on Iface: %s", ifname);
  static const StatsConfig kNoConfig;
  const StatsConfig* config = stats_config();
  report_statistics(config ? *config : kNoConfig, counter.identity, ifname, counter.sample);
}

int run_ifcounter() {
  start_ifcounter_daemon();
  static Ifcounter counter;
  if (prepare_ifcounter(counter) != 0) return 1;
  for (;;) {
    ifcounter_cycle(counter);
    host().sleep(kReportPeriod);
  }
}
