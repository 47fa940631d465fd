#include "lonely/scan_dump.h"

#include <gtest/gtest.h>
#include <linux/nl80211.h>
#include <netlink/handlers.h>

#include <string>
#include <vector>

#include "common/testing/nl_message.h"
#include "lonely/scan_entry.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kCell[6] = {0x02, 0xca, 0xfe, 0xca, 0xca, 0x40};
const Bytes kMeshName = {0, 4, 'm', 'e', 's', 'h'};
const Bytes kRsnPskCcmp = {48,   20,   0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00,
                           0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x02, 0x00, 0x00};

struct Bss {
  uint16_t caps = 0;
  uint32_t freq = 2437;
  int32_t mbm = -6500;
  Bytes ies = kMeshName;
};

// A scan dump reply as the kernel sends it.
void bss_reply(NlMessage& m, const uint8_t (&bssid)[6], const Bss& b) {
  m.u32(NL80211_ATTR_IFINDEX, 3).begin(NL80211_ATTR_BSS);
  m.mac(NL80211_BSS_BSSID, bssid)
      .u32(NL80211_BSS_FREQUENCY, b.freq)
      .u16(NL80211_BSS_CAPABILITY, b.caps)
      .s32(NL80211_BSS_SIGNAL_MBM, b.mbm)
      .bytes(NL80211_BSS_INFORMATION_ELEMENTS, b.ies);
  m.end();
}

std::string text(const scan_entry& e) {
  char buf[200];
  snprintf(buf, sizeof(buf),
           "%02x:%02x:%02x:%02x:%02x:%02x \"%s\" mode=%d ch=%u signal=%d quality=%u/%u crypto=%u,%u,%u,%u,%u,%u",
           e.bssid[0], e.bssid[1], e.bssid[2], e.bssid[3], e.bssid[4], e.bssid[5], e.ssid, e.mode, e.channel, e.signal,
           e.quality, e.quality_max, e.crypto.enabled, e.crypto.wpa_version, e.crypto.group_ciphers,
           e.crypto.pair_ciphers, e.crypto.auth_suites, e.crypto.auth_algs);
  return buf;
}

scan_entry record(const char* buf, size_t i) {
  scan_entry e;
  memcpy(&e, buf + i * sizeof(e), sizeof(e));
  return e;
}

std::string one_record(const Bss& b) {
  alignas(scan_entry) char buf[sizeof(scan_entry)];
  ScanCursor out(buf, sizeof(buf));
  NlMessage m(NL80211_CMD_NEW_SCAN_RESULTS);
  bss_reply(m, kCell, b);
  EXPECT_EQ(NL_SKIP, scan_dump_entry(m.get(), &out));
  return out.count() == 1 ? text(record(buf, 0)) : "skipped";
}

}  // namespace

TEST(ScanDumpEntry, CellsFromReplies) {
  struct Case {
    const char* what;
    Bss bss;
    const char* record;
  };
  Bss adhoc;
  adhoc.caps = 0x0002;
  Bss rsn;
  rsn.caps = 0x0011;
  rsn.freq = 5180;
  rsn.mbm = -3000;
  rsn.ies = kRsnPskCcmp;
  Bss wep;
  wep.caps = 0x0010;
  wep.freq = 2484;
  wep.mbm = -9500;
  Bss weak;
  weak.freq = 2412;
  weak.mbm = -12000;
  const Case cases[] = {
      {"ad-hoc cell", adhoc, "02:ca:fe:ca:ca:40 \"mesh\" mode=2 ch=6 signal=-65 quality=45/70 crypto=0,0,0,0,0,0"},
      {"access point with RSN", rsn,
       "02:ca:fe:ca:ca:40 \"\" mode=1 ch=36 signal=-30 quality=70/70 crypto=1,2,16,16,4,0"},
      {"privacy without WPA is WEP", wep,
       "02:ca:fe:ca:ca:40 \"mesh\" mode=1 ch=14 signal=-95 quality=15/70 crypto=1,0,0,34,0,3"},
      {"a weak cell", weak, "02:ca:fe:ca:ca:40 \"mesh\" mode=1 ch=1 signal=-120 quality=0/70 crypto=0,0,0,0,0,0"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.record, one_record(c.bss)) << c.what;
}

TEST(ScanDumpEntry, MalformedRepliesAreSkipped) {
  struct Case {
    const char* what;
    void (*build)(NlMessage&);
  };
  const Case cases[] = {
      {"no BSS", [](NlMessage& m) { m.u32(NL80211_ATTR_IFINDEX, 3); }},
      {"no BSSID", [](NlMessage& m) { m.begin(NL80211_ATTR_BSS).u32(NL80211_BSS_FREQUENCY, 2412).end(); }},
      {"a four-byte BSSID",
       [](NlMessage& m) {
         m.begin(NL80211_ATTR_BSS).bytes(NL80211_BSS_BSSID, {1, 2, 3, 4}).end();
       }},
      {"a one-byte capability",
       [](NlMessage& m) {
         m.begin(NL80211_ATTR_BSS).mac(NL80211_BSS_BSSID, kCell).u8(NL80211_BSS_CAPABILITY, 2).end();
       }},
      {"a two-byte frequency",
       [](NlMessage& m) {
         m.begin(NL80211_ATTR_BSS).mac(NL80211_BSS_BSSID, kCell).u16(NL80211_BSS_FREQUENCY, 2412).end();
       }},
      {"elements running past the nest",
       [](NlMessage& m) {
         m.begin(NL80211_ATTR_BSS).mac(NL80211_BSS_BSSID, kCell).bytes(NL80211_BSS_INFORMATION_ELEMENTS, kMeshName);
         m.stretch_last(16).end();
       }},
      {"a BSS running past the message",
       [](NlMessage& m) { m.begin(NL80211_ATTR_BSS).mac(NL80211_BSS_BSSID, kCell).end().stretch_last(32); }},
      {"no room for the generic header", [](NlMessage& m) { m.cut(NLMSG_HDRLEN + 1); }},
  };
  for (const Case& c : cases) {
    alignas(scan_entry) char buf[sizeof(scan_entry)] = {};
    ScanCursor out(buf, sizeof(buf));
    NlMessage m(NL80211_CMD_NEW_SCAN_RESULTS);
    c.build(m);
    EXPECT_EQ(NL_SKIP, scan_dump_entry(m.get(), &out)) << c.what;
    EXPECT_EQ(0u, out.count()) << c.what;
  }
}

TEST(ScanDumpEntry, KeepsTheFirstRecordsThatFit) {
  // The search's 24 KiB buffer, one byte off alignment, with guard bytes after it.
  const size_t kSize = 24 * 1024;
  std::vector<char> memory(1 + kSize + 64, '\x5a');
  char* buf = memory.data() + 1;
  ScanCursor out(buf, kSize);
  for (int i = 0; i < 500; ++i) {
    const uint8_t bssid[6] = {0x02, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    NlMessage m(NL80211_CMD_NEW_SCAN_RESULTS);
    bss_reply(m, bssid, Bss());
    scan_dump_entry(m.get(), &out);
  }
  EXPECT_EQ(438u, out.count());
  EXPECT_EQ(438u * 56, out.bytes());
  for (size_t i = 0; i < 438; ++i) {
    scan_entry e = record(buf, i);
    ASSERT_EQ(i, static_cast<size_t>(e.bssid[4] << 8 | e.bssid[5]));
  }
  EXPECT_EQ("02:00:00:00:01:b5 \"mesh\" mode=1 ch=6 signal=-65 quality=45/70 crypto=0,0,0,0,0,0",
            text(record(buf, 437)));
  for (size_t i = kSize; i < kSize + 64; ++i) ASSERT_EQ('\x5a', buf[i]) << i;
  EXPECT_EQ('\x5a', memory[0]);
}
