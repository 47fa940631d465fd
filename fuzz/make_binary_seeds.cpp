// Writes the binary seeds of the netlink and information element targets
// (fuzz/corpus/{station,scan_entry,scan_ies}) from the unit tests' vectors,
// built with libnl the way the kernel sends them. Not a test; run it by hand
// after changing a vector:  fuzz_make_binary_seeds <fuzz folder>
#include <linux/nl80211.h>
#include <net/if.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/testing/nl_message.h"

namespace {

using Bytes = std::vector<uint8_t>;
std::string g_dir;

void save(const std::string& target, const std::string& name, const Bytes& prefix, const void* data, size_t len) {
  std::string path = g_dir + "/corpus/" + target + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    perror(path.c_str());
    return;
  }
  fwrite(prefix.data(), 1, prefix.size(), f);
  fwrite(data, 1, len, f);
  fclose(f);
}

// The message as the handler gets it, less the netlink header that the
// target makes around the bytes.
void save_message(const std::string& target, const std::string& name, NlMessage& m, const Bytes& prefix = {}) {
  nlmsghdr* h = m.header();
  save(target, name, prefix, reinterpret_cast<const uint8_t*>(h) + NLMSG_HDRLEN, h->nlmsg_len - NLMSG_HDRLEN);
}

Bytes element(uint8_t id, const Bytes& body) {
  Bytes b = {id, static_cast<uint8_t>(body.size())};
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const uint8_t kMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const Bytes kWpa2PskCcmp = {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f,
                            0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x02, 0x00, 0x00};
const Bytes kWpaPskTkip = {0x01, 0x00, 0x00, 0x50, 0xf2, 0x02, 0x01, 0x00, 0x00,
                           0x50, 0xf2, 0x02, 0x01, 0x00, 0x00, 0x50, 0xf2, 0x02};
const Bytes kWpa2Eap = {0x01, 0x00, 0x00, 0x0f, 0xac, 0x02, 0x02, 0x00, 0x00, 0x0f, 0xac,
                        0x02, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x01};
Bytes wpa_vendor(const Bytes& body) {
  Bytes b = {0x00, 0x50, 0xf2, 0x01};
  b.insert(b.end(), body.begin(), body.end());
  return element(221, b);
}

void station_seeds() {
  {
    NlMessage m(NL80211_CMD_NEW_STATION);
    m.u32(NL80211_ATTR_IFINDEX, 1).mac(NL80211_ATTR_MAC, kMac).begin(NL80211_ATTR_STA_INFO);
    m.u32(NL80211_STA_INFO_RX_BYTES, 512).u32(NL80211_STA_INFO_TX_BYTES, 300);
    m.u32(NL80211_STA_INFO_CONNECTED_TIME, 5 * 60 + 59);
    m.u8(NL80211_STA_INFO_SIGNAL_AVG, static_cast<uint8_t>(-52));
    m.begin(NL80211_STA_INFO_CHAIN_SIGNAL_AVG).u8(0, static_cast<uint8_t>(-54)).u8(1, static_cast<uint8_t>(-57)).end();
    m.begin(NL80211_STA_INFO_TX_BITRATE).u16(NL80211_RATE_INFO_BITRATE, 650).u8(NL80211_RATE_INFO_MCS, 7).end();
    m.end();
    save_message("station", "full_station", m);
  }
  {
    NlMessage m(NL80211_CMD_NEW_STATION);
    m.mac(NL80211_ATTR_MAC, kMac).begin(NL80211_ATTR_STA_INFO).u32(NL80211_STA_INFO_CONNECTED_TIME, 3600).end();
    save_message("station", "connected_an_hour", m);
  }
  {
    NlMessage m(NL80211_CMD_NEW_STATION);
    m.mac(NL80211_ATTR_MAC, kMac).begin(NL80211_ATTR_STA_INFO);
    m.begin(NL80211_STA_INFO_TX_BITRATE).u8(NL80211_RATE_INFO_BITRATE, 1).end();
    m.end();
    save_message("station", "bitrate_of_one_byte", m);
  }
  {
    NlMessage m(NL80211_CMD_NEW_STATION);
    m.mac(NL80211_ATTR_MAC, kMac);
    save_message("station", "no_station_information", m);
  }
  {
    NlMessage m(NL80211_CMD_NEW_STATION);
    m.mac(NL80211_ATTR_MAC, kMac).begin(NL80211_ATTR_STA_INFO).u32(NL80211_STA_INFO_RX_BYTES, 1).end().stretch_last(8);
    save_message("station", "stretched_attribute", m);
  }
}

struct Bss {
  uint16_t caps;
  uint32_t freq;
  int32_t mbm;
  Bytes ies;
};

void scan_seeds() {
  const uint8_t cell[6] = {0x02, 0xca, 0xfe, 0xca, 0xca, 0x40};
  const Bytes mesh = element(0, {'m', 'e', 's', 'h'});
  const Bss cells[] = {
      {0, 2437, -6500, mesh},
      {1 << 1, 2412, -9000, concat({mesh, element(48, kWpa2PskCcmp)})},
      {1 << 4, 5180, -4000, concat({wpa_vendor(kWpaPskTkip), element(0, {'c', 'a', 'f', 'e'})})},
      {1 << 4, 2484, -11500, Bytes{}},
  };
  int i = 0;
  for (const Bss& b : cells) {
    NlMessage m(NL80211_CMD_NEW_SCAN_RESULTS);
    m.u32(NL80211_ATTR_IFINDEX, 3).begin(NL80211_ATTR_BSS);
    m.mac(NL80211_BSS_BSSID, cell)
        .u32(NL80211_BSS_FREQUENCY, b.freq)
        .u16(NL80211_BSS_CAPABILITY, b.caps)
        .s32(NL80211_BSS_SIGNAL_MBM, b.mbm)
        .bytes(NL80211_BSS_INFORMATION_ELEMENTS, b.ies);
    m.end();
    save_message("scan_entry", "cell_" + std::to_string(i++), m, {2});
  }
  NlMessage no_bssid(NL80211_CMD_NEW_SCAN_RESULTS);
  no_bssid.begin(NL80211_ATTR_BSS).u32(NL80211_BSS_FREQUENCY, 2412).end();
  save_message("scan_entry", "no_bssid", no_bssid, {1});

  const Bytes ies[] = {
      concat({mesh, element(48, kWpa2PskCcmp)}),
      concat({wpa_vendor(kWpaPskTkip), element(0, {'c', 'a', 'f', 'e'})}),
      concat({element(48, kWpa2Eap), wpa_vendor(kWpaPskTkip)}),
      concat({mesh, Bytes{48, 20, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x04}}),
      element(0, Bytes(40, 'n')),
  };
  i = 0;
  for (const Bytes& b : ies) save("scan_ies", "elements_" + std::to_string(i++), {16, 4}, b.data(), b.size());
  save("scan_ies", "rsn_body", {16, 2}, kWpa2Eap.data(), kWpa2Eap.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <fuzz folder>\n", argv[0]);
    return 2;
  }
  g_dir = argv[1];
  station_seeds();
  scan_seeds();
  return 0;
}
