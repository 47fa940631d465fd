#include "controller/checkin_report.h"

#include <syslog.h>

#include <cstddef>

#include "common/host.h"
#include "common/kernel.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/route.h"
#include "common/runner.h"
#include "common/station_dump.h"
#include "common/sysinfo.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "mesh/gateway_table.h"

const char kUpgradeMarkFile[] = "/etc/fw_a_version.old";

namespace {

// Kept between check-ins, so that a failed reading reports the last value.
unsigned g_memfree = 0;
LoadAverage g_load;

using InterfaceProbe = int (*)(const char* ifname, char* out, size_t cap);

void probe_interface(InterfaceProbe probe, const char* ifname, AddressText& field, const char* found) {
  field.clear();
  int result = probe(ifname, field.data(), AddressText::capacity());
  if (result == 0) {
    TABLE_FORMAT_BEGIN
    log_printf(LOG_DEBUG, found, field.c_str());
    TABLE_FORMAT_END
  } else {
    // The ioctl may have left part of an answer behind.
    field.clear();
    log_printf(LOG_DEBUG, "Error: %d", result);
  }
}

}  // namespace

void read_memory_and_load(NodeReport& report) {
  read_meminfo(&g_memfree);
  read_loadavg(&g_load);
  report.memfree = g_memfree;
  report.load = g_load;
  log_printf(LOG_DEBUG, "MemFree: %u Kb", report.memfree);
  char load[64];
  format_load(report.load, 2, load, sizeof(load));
  log_printf(LOG_DEBUG, "LoadAverage: %s", load);
}

void format_uptime(long seconds, UptimeText& out) {
  if (seconds < 0) seconds = 0;
  long days = seconds / 86400;
  long hours = seconds % 86400 / 3600;
  long minutes = seconds % 3600 / 60;
  long secs = seconds % 60;
  if (days == 0) {
    out.format("%ld:%02ld:%02ld", hours, minutes, secs);
  } else {
    out.format("%lddays,%ld:%02ld:%02ld", days, hours, minutes, secs);
  }
}

void read_node_state(NodeReport& report) {
  report.role.clear();
  get_config("uci get node.status.mode", report.role);
  log_printf(LOG_DEBUG, "ROLE : %s", report.role.c_str());
  report.gateway = report.role == "gateway";
  report.hop = report.gateway ? 0 : count_gateways();

  probe_interface(get_ipaddr, report.gateway ? "br-lan" : "br-meship", report.lan, "LAN IP : %s");
  probe_interface(get_ipaddr, "bat0.2", report.ip, "bat0.2 IP : %s");
  probe_interface(get_mac, "mesh0", report.mesh, "Mesh0 MAC: %s");

  long up = host().uptime();
  log_printf(LOG_DEBUG, "system uptime : %lddays,%ld:%02ld:%02ld\n", up / 86400, up % 86400 / 3600, up % 3600 / 60,
             up % 60);
  format_uptime(up, report.uptime);

  report.gateway_ip.clear();
  read_gateway(report.gateway_ip);
  log_printf(LOG_DEBUG, "Current Gateway: %s", report.gateway_ip.c_str());

  // After a failed dump the lists may still hold an earlier dump's
  // neighbours, which are not the node's neighbours now.
  static NeighbourList macs;
  static NeighbourList signals;
  if (kernel().neighbour_dump("mesh0", macs, signals) == 0) {
    log_printf(LOG_DEBUG, "Neighbour list done");
    report.nbs = macs;
    report.rssi = signals;
  } else {
    log_printf(LOG_DEBUG, "Unable to get the Neighbour");
    report.nbs = "";
    report.rssi = "";
  }
}

void format_checkin_query(const DeviceIdentity& identity, const NodeConfig& config, const NodeReport& r,
                          QueryText& out) {
  char load[64];
  format_load(r.load, 2, load, sizeof(load));
  out.format(
      "hw=%s&ip=%s&lan=%s&mesh=%s&robin=%s&memfree=%u&ssid=%s&pssid=%s&RR=%d&uptime=%s&load=%s&role=%s"
      "&gateway=%s&gw-qual=255&NTR=100&nbs=%s&rssi=%s&hop=%d%s",
      identity.hw.c_str(), r.ip.c_str(), r.lan.c_str(), r.mesh.c_str(), identity.firmware.c_str(), r.memfree,
      config.wireless.priv_ssid.c_str(), config.wireless.pub_ssid.c_str(), r.rr, r.uptime.c_str(),
      load, r.gateway ? "G" : "R", r.gateway_ip.c_str(), r.nbs, r.rssi, r.hop,
      r.upgrade ? "&upgrade=1" : "");
}
