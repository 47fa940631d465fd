// The wireless scan backend: the list of cells heard around the node, from
// the supplicant when one runs on the interface, else through nl80211 on a
// temporary interface beside it, so that the node's own interface keeps
// running.
#pragma once

#include <cstddef>

#include "common/linux_kernel.h"
#include "lonely/scan_entry.h"

struct scan_backend_ops {
  // Fills buf (size bytes) with scan_entry records, the first ones that
  // fit, and *len with their length in bytes: 0 or -1.
  int (*scanlist)(const char* ifname, char* buf, size_t size, int* len);
  void (*close)();
};

// The nl80211 operations for an interface with an nl80211 radio, else nullptr.
const scan_backend_ops* iwinfo_backend(const char* ifname);

// The node's kernel with this scan backend (lonely's).
class ScanKernel : public LinuxKernel {
 public:
  const scan_backend_ops* scan_backend(const char* ifname) override;
};
Kernel& scan_kernel();
// "nl80211" when nl80211_probe succeeds, else nullptr.
const char* iwinfo_type(const char* ifname);
// 1 when the interface has an nl80211 radio, else 0.
int nl80211_probe(const char* ifname);

int nl80211_get_scanlist(const char* ifname, char* buf, size_t size, int* len);
int nl80211_get_quality_max(const char* ifname);
// Releases the netlink link and the ioctl socket; the next scan starts anew.
void iwinfo_finish();

// Trigger, the bounded wait for the results, and the dump into out: 0 when
// the scan gave a record, else -1.
int scan_via_nl80211(const char* ifname, ScanCursor& out);

// The steps of a scan beside an interface, on the node the ones of
// scan_iface.h and scan_via_nl80211.
struct ScanSteps {
  const char* (*create)(const char* ifname);  // the temporary interface's name, or nullptr
  int (*set_mac)(const char* ifname);         // 1 on success, as the three below
  int (*up)(const char* ifname);
  int (*down)(const char* ifname);
  int (*scan)(const char* ifname, ScanCursor& out);
  void (*hang_up)(const char* ifname);  // the radio's daemon
  void (*remove)(const char* ifname);
};
extern const ScanSteps kNodeScanSteps;
// Scans on a temporary interface beside ifname, then deletes it. When the
// driver cannot run both, ifname goes down for the scan and always comes
// back up, and its radio's daemon is told to take it up again.
void scan_beside(const char* ifname, ScanCursor& out, const ScanSteps& steps = kNodeScanSteps);
