#include "lonely/scan_dump.h"

#include <linux/nl80211.h>
#include <netlink/genl/genl.h>
#include <netlink/handlers.h>

#include <cstring>

#include "common/nl_attrs.h"
#include "lonely/scan_entry.h"
#include "lonely/scan_parse.h"

namespace {

constexpr int kTopMaxType = NL80211_ATTR_BSS;
constexpr int kBssMaxType = NL80211_BSS_BEACON_IES;
constexpr uint16_t kCapabilityIbss = 1 << 1;  // an independent (ad-hoc) cell
constexpr uint16_t kCapabilityPrivacy = 1 << 4;

const NlPolicy<kTopMaxType>& top_policy() {
  static const NlPolicy<kTopMaxType> p = NlPolicy<kTopMaxType>().set(NL80211_ATTR_BSS, NLA_NESTED);
  return p;
}

const NlPolicy<kBssMaxType>& bss_policy() {
  static const NlPolicy<kBssMaxType> p = NlPolicy<kBssMaxType>()
                                             .set(NL80211_BSS_TSF, NLA_U64)
                                             .set(NL80211_BSS_FREQUENCY, NLA_U32)
                                             .set(NL80211_BSS_BSSID, NLA_UNSPEC, 6)
                                             .set(NL80211_BSS_BEACON_INTERVAL, NLA_U16)
                                             .set(NL80211_BSS_CAPABILITY, NLA_U16)
                                             .set(NL80211_BSS_SIGNAL_MBM, NLA_U32)
                                             .set(NL80211_BSS_SIGNAL_UNSPEC, NLA_U8)
                                             .set(NL80211_BSS_STATUS, NLA_U32)
                                             .set(NL80211_BSS_SEEN_MS_AGO, NLA_U32);
  return p;
}

}  // namespace

int scan_dump_entry(nl_msg* msg, void* arg) {
  ScanCursor& out = *static_cast<ScanCursor*>(arg);
  if (out.full()) return NL_SKIP;
  genlmsghdr* gnlh = genl_header(msg);
  if (!gnlh) return NL_SKIP;
  nlattr* tb[kTopMaxType + 1];
  nlattr* bss[kBssMaxType + 1];
  if (parse_attributes(tb, kTopMaxType, genlmsg_attrdata(gnlh, 0), genlmsg_attrlen(gnlh, 0), top_policy().rules) < 0 ||
      !tb[NL80211_ATTR_BSS] || parse_nested(bss, kBssMaxType, tb[NL80211_ATTR_BSS], bss_policy().rules) < 0 ||
      !bss[NL80211_BSS_BSSID]) {
    return NL_SKIP;
  }

  scan_entry e;
  memset(&e, 0, sizeof(e));
  memcpy(e.bssid, nla_data(bss[NL80211_BSS_BSSID]), sizeof(e.bssid));
  uint16_t caps = bss[NL80211_BSS_CAPABILITY] ? nla_get_u16(bss[NL80211_BSS_CAPABILITY]) : 0;
  e.mode = (caps & kCapabilityIbss) ? kModeAdHoc : kModeMaster;
  if (caps & kCapabilityPrivacy) e.crypto.enabled = 1;
  if (bss[NL80211_BSS_FREQUENCY]) {
    e.channel = freq_to_channel(static_cast<int>(nla_get_u32(bss[NL80211_BSS_FREQUENCY])));
  }
  if (bss[NL80211_BSS_INFORMATION_ELEMENTS]) {
    nlattr* ies = bss[NL80211_BSS_INFORMATION_ELEMENTS];
    parse_scan_ies(static_cast<const uint8_t*>(nla_data(ies)), static_cast<size_t>(nla_len(ies)), &e);
  }
  if (bss[NL80211_BSS_SIGNAL_MBM]) {
    int32_t mbm = static_cast<int32_t>(nla_get_u32(bss[NL80211_BSS_SIGNAL_MBM]));
    e.signal = static_cast<int8_t>(mbm / 100);
    e.quality = signal_quality(e.signal);
  }
  e.quality_max = kQualityMax;
  // Privacy without WPA or RSN is WEP.
  if (e.crypto.enabled && !e.crypto.wpa_version) {
    e.crypto.auth_algs = kAuthOpen | kAuthShared;
    e.crypto.pair_ciphers = kCipherWep40 | kCipherWep104;
  }
  out.add(e);
  return NL_SKIP;
}
