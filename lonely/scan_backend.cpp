#include "lonely/scan_backend.h"

#include <linux/nl80211.h>
#include <netlink/netlink.h>

#include <cstring>

#include "common/text.h"
#include "lonely/nl80211_link.h"
#include "lonely/scan_dump.h"
#include "lonely/scan_iface.h"
#include "lonely/supplicant.h"

namespace {

using IfnameText = FixedText<16>;

const scan_backend_ops kNl80211Ops = {nl80211_get_scanlist, nl80211_close};

bool starts_with(const char* s, const char* prefix) { return strncmp(s, prefix, strlen(prefix)) == 0; }

}  // namespace

const ScanSteps kNodeScanSteps = {scan_iface_create, iwinfo_ifmac,     iwinfo_ifup,      iwinfo_ifdown,
                                  scan_via_nl80211,  hup_radio_daemon, scan_iface_delete};

void scan_beside(const char* ifname, ScanCursor& out, const ScanSteps& steps) {
  const char* created = steps.create(ifname);
  if (!created) return;
  IfnameText tmp(created);
  if (steps.set_mac(tmp)) {
    if (steps.up(tmp)) {
      steps.scan(tmp, out);
      steps.down(tmp);
    } else if (steps.down(ifname)) {
      if (steps.up(tmp)) {
        steps.scan(tmp, out);
        steps.down(tmp);
      }
      steps.up(ifname);
      steps.hang_up(ifname);
    }
  }
  steps.remove(tmp);
}

namespace {

int scanlist(const char* ifname, ScanCursor& out, bool radio_names) {
  // A radio's name: scan on an interface of that radio, or on one made for
  // it. An interface found for the radio is never taken for a radio again.
  if (radio_names && starts_with(ifname, "radio")) {
    if (const char* found = radio_to_ifname(ifname)) {
      IfnameText dev(found);
      return scanlist(dev, out, false);
    }
    if (const char* created = scan_iface_create(ifname)) {
      IfnameText tmp(created);
      int rc = scanlist(tmp, out, false);
      scan_iface_delete(tmp);
      return rc;
    }
  }
  int rc = supplicant_scanlist(ifname, out);
  if (rc != kSupplicantAbsent) return rc;
  if (starts_with(ifname, "tmp.")) {
    if (!iwinfo_ifup(ifname)) return -1;
    scan_via_nl80211(ifname, out);
    iwinfo_ifdown(ifname);
    return 0;
  }
  scan_beside(ifname, out);
  return 0;
}

}  // namespace

int nl80211_probe(const char* ifname) { return ifname_to_phy(ifname) ? 1 : 0; }

const char* iwinfo_type(const char* ifname) { return nl80211_probe(ifname) ? "nl80211" : nullptr; }

const scan_backend_ops* iwinfo_backend(const char* ifname) {
  const char* type = iwinfo_type(ifname);
  return type && strcmp(type, "nl80211") == 0 ? &kNl80211Ops : nullptr;
}

const scan_backend_ops* ScanKernel::scan_backend(const char* ifname) { return iwinfo_backend(ifname); }

Kernel& scan_kernel() {
  static ScanKernel k;
  return k;
}

int nl80211_get_scanlist(const char* ifname, char* buf, size_t size, int* len) {
  ScanCursor out(buf, size);
  int rc = scanlist(ifname, out, true);
  *len = static_cast<int>(out.bytes());
  return rc;
}

int nl80211_get_quality_max(const char*) { return kQualityMax; }

void iwinfo_finish() {
  nl80211_close();
  iwinfo_close();
}

int scan_via_nl80211(const char* ifname, ScanCursor& out) {
  size_t before = out.count();
  Nl80211Request req;
  if (nl80211_build_request(ifname, NL80211_CMD_TRIGGER_SCAN, 0, req)) nl80211_transact(req, nullptr, nullptr);
  nl80211_await_event("scan");
  if (nl80211_build_request(ifname, NL80211_CMD_GET_SCAN, NLM_F_DUMP, req)) {
    nl80211_transact(req, scan_dump_entry, &out);
  }
  return out.count() > before ? 0 : -1;
}
