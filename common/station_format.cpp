#include "common/station_format.h"

#include <linux/nl80211.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "common/host.h"
#include "common/nl_attrs.h"

namespace {

// Values read as bytes (the signal average, the VHT fields) are held to a
// byte as well, so a shorter attribute is refused instead of read past.
const NlPolicy<kStationInfoMaxType>& station_info_policy() {
  static const NlPolicy<kStationInfoMaxType> p = NlPolicy<kStationInfoMaxType>()
                                                     .set(NL80211_STA_INFO_INACTIVE_TIME, NLA_U32)
                                                     .set(NL80211_STA_INFO_RX_BYTES, NLA_U32)
                                                     .set(NL80211_STA_INFO_TX_BYTES, NLA_U32)
                                                     .set(NL80211_STA_INFO_RX_PACKETS, NLA_U32)
                                                     .set(NL80211_STA_INFO_TX_PACKETS, NLA_U32)
                                                     .set(NL80211_STA_INFO_TX_RETRIES, NLA_U32)
                                                     .set(NL80211_STA_INFO_TX_FAILED, NLA_U32)
                                                     .set(NL80211_STA_INFO_CONNECTED_TIME, NLA_U32)
                                                     .set(NL80211_STA_INFO_LOCAL_PM, NLA_U32)
                                                     .set(NL80211_STA_INFO_PEER_PM, NLA_U32)
                                                     .set(NL80211_STA_INFO_NONPEER_PM, NLA_U32)
                                                     .set(NL80211_STA_INFO_LLID, NLA_U16)
                                                     .set(NL80211_STA_INFO_PLID, NLA_U16)
                                                     .set(NL80211_STA_INFO_PLINK_STATE, NLA_U8)
                                                     .set(NL80211_STA_INFO_SIGNAL, NLA_U8)
                                                     .set(NL80211_STA_INFO_SIGNAL_AVG, NLA_U8)
                                                     .set(NL80211_STA_INFO_T_OFFSET, NLA_U64)
                                                     .set(NL80211_STA_INFO_TX_BITRATE, NLA_NESTED)
                                                     .set(NL80211_STA_INFO_RX_BITRATE, NLA_NESTED)
                                                     .set(NL80211_STA_INFO_CHAIN_SIGNAL, NLA_NESTED)
                                                     .set(NL80211_STA_INFO_CHAIN_SIGNAL_AVG, NLA_NESTED)
                                                     .set(NL80211_STA_INFO_STA_FLAGS, NLA_UNSPEC, 8);
  return p;
}

const NlPolicy<kRateInfoMaxType>& rate_info_policy() {
  static const NlPolicy<kRateInfoMaxType> p = NlPolicy<kRateInfoMaxType>()
                                                  .set(NL80211_RATE_INFO_BITRATE, NLA_U16)
                                                  .set(NL80211_RATE_INFO_MCS, NLA_U8)
                                                  .set(NL80211_RATE_INFO_40_MHZ_WIDTH, NLA_FLAG)
                                                  .set(NL80211_RATE_INFO_SHORT_GI, NLA_FLAG)
                                                  .set(NL80211_RATE_INFO_BITRATE32, NLA_U32)
                                                  .set(NL80211_RATE_INFO_VHT_MCS, NLA_U8)
                                                  .set(NL80211_RATE_INFO_VHT_NSS, NLA_U8);
  return p;
}

}  // namespace

int parse_station_info(nlattr* sta[kStationInfoMaxType + 1], const nlattr* info) {
  return parse_nested(sta, kStationInfoMaxType, info, station_info_policy().rules);
}

void format_station_mac(StationMacText& out, const unsigned char mac[6]) {
  out.format("%02x", mac[0]);
  for (int i = 1; i < 6; ++i) out.appendf(":%02x", mac[i]);
}

void format_bitrate(const nlattr* rate, char* out, size_t size) {
  if (size == 0) return;
  out[0] = '\0';
  nlattr* ri[kRateInfoMaxType + 1];
  if (parse_nested(ri, kRateInfoMaxType, rate, rate_info_policy().rules) < 0) {
    copy_text(out, size, "failed to parse nested rate attributes!");
    return;
  }
  uint32_t rate100k = 0;  // units of 100 kbit/s
  if (ri[NL80211_RATE_INFO_BITRATE32]) {
    rate100k = nla_get_u32(ri[NL80211_RATE_INFO_BITRATE32]);
  } else if (ri[NL80211_RATE_INFO_BITRATE]) {
    rate100k = nla_get_u16(ri[NL80211_RATE_INFO_BITRATE]);
  }
  if (rate100k > 0) append_format(out, size, "%u.%u MBit/s", rate100k / 10, rate100k % 10);
  if (ri[NL80211_RATE_INFO_MCS]) {
    append_format(out, size, " MCS %d", nla_get_u8(ri[NL80211_RATE_INFO_MCS]));
  }
  if (ri[NL80211_RATE_INFO_VHT_MCS]) {
    append_format(out, size, " VHT-MCS %d", nla_get_u8(ri[NL80211_RATE_INFO_VHT_MCS]));
  }
  if (ri[NL80211_RATE_INFO_40_MHZ_WIDTH]) append_text(out, size, " 40MHz");
  if (ri[NL80211_RATE_INFO_80_MHZ_WIDTH]) append_text(out, size, " 80MHz");
  if (ri[NL80211_RATE_INFO_80P80_MHZ_WIDTH]) append_text(out, size, " 80P80MHz");
  if (ri[NL80211_RATE_INFO_160_MHZ_WIDTH]) append_text(out, size, " 160MHz");
  if (ri[NL80211_RATE_INFO_SHORT_GI]) append_text(out, size, " short GI");
  if (ri[NL80211_RATE_INFO_VHT_NSS]) {
    append_format(out, size, " VHT-NSS %d", nla_get_u8(ri[NL80211_RATE_INFO_VHT_NSS]));
  }
}

bool format_chain_signal(const nlattr* chains, ChainSignalText& out) {
  out.clear();
  if (!nested_list_ok(chains, 1)) return false;
  const char* separator = "[";
  const nlattr* entry;
  int rem;
  nla_for_each_nested(entry, chains, rem) {
    out.appendf("%s%d", separator, static_cast<int8_t>(nla_get_u8(entry)));
    separator = ", ";
  }
  if (!out.empty()) out.append("] ");
  return true;
}

void format_client_record(const char* mac, nlattr* const sta[], const char* chain, ClientRecordText& out) {
  out.format("mac=%s", mac);
  if (sta[NL80211_STA_INFO_RX_BYTES] && sta[NL80211_STA_INFO_TX_BYTES]) {
    out.appendf(";rx=%u;tx=%u", nla_get_u32(sta[NL80211_STA_INFO_RX_BYTES]),
                nla_get_u32(sta[NL80211_STA_INFO_TX_BYTES]));
  }
  if (sta[NL80211_STA_INFO_CONNECTED_TIME]) {
    out.appendf(";ctime=%u", nla_get_u32(sta[NL80211_STA_INFO_CONNECTED_TIME]) / 60);
  }
  if (sta[NL80211_STA_INFO_SIGNAL_AVG]) {
    out.appendf(";rssi=%d%s", static_cast<int8_t>(nla_get_u8(sta[NL80211_STA_INFO_SIGNAL_AVG])), chain);
  }
  if (sta[NL80211_STA_INFO_TX_BITRATE]) {
    BitrateText rate;
    format_bitrate(sta[NL80211_STA_INFO_TX_BITRATE], rate.data(), rate.capacity());
    out.appendf(";txbitrate=%s|", rate.c_str());
  }
}

int append_client_record(const char* text) {
  FILE* f = host_fopen("/tmp/.clients", "a");
  if (!f) return 1;
  int fd = fileno(f);
  flock(fd, LOCK_EX);
  // A record that does not fit a full /tmp is taken back whole: half of it
  // would join the next record into one broken line.
  struct stat st;
  off_t before = fstat(fd, &st) == 0 ? st.st_size : -1;
  bool ok = fprintf(f, "%s\n", text) >= 0;
  ok = fflush(f) == 0 && ok;
  if (!ok && before >= 0 && ftruncate(fd, before) != 0) {
  }
  flock(fd, LOCK_UN);
  fclose(f);
  return ok ? 0 : 1;
}
