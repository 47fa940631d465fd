#include "lonely/mesh_cell.h"

#include <cstring>

#include "common/kernel.h"
#include "common/output.h"
#include "common/text.h"
#include "lonely/scan_entry.h"

const char kMeshCellBssid[] = "02:CA:FE:CA:CA:40";
const char kMeshCellName[] = "mesh";

namespace {

// Room for 438 records.
constexpr size_t kScanBufferSize = 24 * 1024;

bool is_mesh_cell(const scan_entry& e) {
  if (e.mode != kModeAdHoc) return false;
  FixedText<18> bssid;
  bssid.format("%02X:%02X:%02X:%02X:%02X:%02X", e.bssid[0], e.bssid[1], e.bssid[2], e.bssid[3], e.bssid[4], e.bssid[5]);
  if (bssid != kMeshCellBssid) return false;
  // Names are compared as printed, quotes included; a hidden name prints as unknown.
  FixedText<35> name;
  if (e.ssid[0]) {
    name.format("\"%.32s\"", e.ssid);
  } else {
    name.set("unknown");
  }
  FixedText<35> wanted;
  wanted.format("\"%s\"", kMeshCellName);
  return name == wanted.c_str();
}

}  // namespace

int scan_for_mesh_cell(const scan_backend_ops* backend, const char* ifname, int current) {
  alignas(scan_entry) static char records[kScanBufferSize];
  // Zeroed, so that nothing of an earlier scan can pass for a record of this one.
  memset(records, 0, sizeof(records));
  int len = 0;
  if (backend->scanlist(ifname, records, sizeof(records), &len) != 0) {
    out_line("Scanning not possible\n");
    return -1;
  }
  if (len <= 0) {
    out_line("No scan results\n");
    return -1;
  }
  // A backend never reports more than the buffer holds; trust it no further.
  size_t count =
      (static_cast<size_t>(len) < sizeof(records) ? static_cast<size_t>(len) : sizeof(records)) / sizeof(scan_entry);
  for (size_t i = 0; i < count; ++i) {
    scan_entry e;
    memcpy(&e, records + i * sizeof(scan_entry), sizeof(e));
    if (!is_mesh_cell(e) || e.channel == current) continue;
    out_printf("Found BSSID on Channel: %d\n", e.channel);
    return e.channel;
  }
  return 0;
}

int wc_scan(const char* ifname, int current) {
  if (!ifname || !*ifname) {
    err_printf("required interface name to start scan");
    return -1;
  }
  const scan_backend_ops* backend = kernel().scan_backend(ifname);
  if (!backend) {
    err_printf("No such wireless device: %s\n", ifname);
    // The probe opened the netlink link; the next cycle starts afresh.
    iwinfo_finish();
    return -1;
  }
  int result = scan_for_mesh_cell(backend, ifname, current);
  iwinfo_finish();
  return result;
}
