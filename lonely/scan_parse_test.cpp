#include "lonely/scan_parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string text(const scan_crypto& c) {
  char buf[96];
  snprintf(buf, sizeof(buf), "enabled=%u wpa=%u group=%u pair=%u suites=%u algs=%u", c.enabled, c.wpa_version,
           c.group_ciphers, c.pair_ciphers, c.auth_suites, c.auth_algs);
  return buf;
}

Bytes element(uint8_t id, const Bytes& body) {
  Bytes e(2 + body.size());
  e[0] = id;
  e[1] = static_cast<uint8_t>(body.size());
  std::copy(body.begin(), body.end(), e.begin() + 2);
  return e;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// RSN bodies: version 1, group suite, pairwise list, key management list.
const Bytes kWpa2PskCcmp = {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f,
                            0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x02, 0x00, 0x00};
// WPA vendor body after 00-50-F2 and type 1.
const Bytes kWpaPskTkip = {0x01, 0x00, 0x00, 0x50, 0xf2, 0x02, 0x01, 0x00, 0x00,
                           0x50, 0xf2, 0x02, 0x01, 0x00, 0x00, 0x50, 0xf2, 0x02};
// Two pairwise suites (TKIP, CCMP): the count 2 is little-endian.
const Bytes kWpa2Eap = {0x01, 0x00, 0x00, 0x0f, 0xac, 0x02, 0x02, 0x00, 0x00, 0x0f, 0xac,
                        0x02, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x01};

Bytes wpa_vendor(const Bytes& body) {
  Bytes b = {0x00, 0x50, 0xf2, 0x01};
  b.insert(b.end(), body.begin(), body.end());
  return element(221, b);
}

}  // namespace

TEST(ScanNumbers, ChannelFromFrequency) {
  for (int n = 1; n <= 13; ++n) EXPECT_EQ(n, freq_to_channel(2407 + 5 * n)) << n;
  EXPECT_EQ(14, freq_to_channel(2484));
  // A broken reply's frequency may be any 32 bits: no overflow, whatever comes out.
  EXPECT_EQ(133, freq_to_channel(INT_MIN));
  EXPECT_EQ(177, freq_to_channel(INT_MAX));
  EXPECT_EQ(36, freq_to_channel(5180));
  EXPECT_EQ(165, freq_to_channel(5825));
}

TEST(ScanNumbers, QualityFromSignal) {
  const std::pair<int, int> cases[] = {{-95, 15}, {-30, 70}, {-120, 0}, {-110, 0}, {-40, 70}, {-41, 69}};
  for (auto [signal, quality] : cases) EXPECT_EQ(quality, signal_quality(signal)) << signal;
}

TEST(RsnElement, SuitesOfEachKind) {
  struct Case {
    const char* what;
    Bytes body;
    uint8_t cipher;
    uint8_t suite;
    const char* crypto;
  };
  const Case cases[] = {
      {"WPA2-PSK-CCMP", kWpa2PskCcmp, kCipherCcmp, kSuite8021x, "enabled=0 wpa=2 group=16 pair=16 suites=4 algs=0"},
      {"WPA-PSK-TKIP", kWpaPskTkip, kCipherTkip, kSuitePsk, "enabled=0 wpa=1 group=4 pair=4 suites=4 algs=0"},
      {"802.1X, two pairwise suites", kWpa2Eap, kCipherCcmp, kSuite8021x,
       "enabled=0 wpa=2 group=4 pair=20 suites=2 algs=0"},
      {"too short for a group suite",
       {0x01, 0x00, 0x00, 0x0f, 0xac},
       kCipherCcmp,
       kSuite8021x,
       "enabled=0 wpa=0 group=16 pair=16 suites=2 algs=0"},
      {"empty", {}, kCipherTkip, kSuitePsk, "enabled=0 wpa=0 group=4 pair=4 suites=4 algs=0"},
      {"group suite only",
       {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04},
       kCipherCcmp,
       kSuite8021x,
       "enabled=0 wpa=2 group=16 pair=16 suites=2 algs=0"},
      {"no key management list",
       {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x02},
       kCipherCcmp,
       kSuite8021x,
       "enabled=0 wpa=2 group=16 pair=4 suites=2 algs=0"},
      {"a pairwise count beyond the element",
       {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x02, 0x00, 0x00, 0x0f, 0xac, 0x04},
       kCipherCcmp,
       kSuite8021x,
       "enabled=0 wpa=2 group=16 pair=0 suites=0 algs=0"},
      {"a big-endian reading of the count would not fit",
       {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac,
        0x04, 0x02, 0x00, 0x00, 0x0f, 0xac, 0x01, 0x00, 0x0f, 0xac, 0x02},
       kCipherCcmp,
       kSuite8021x,
       "enabled=0 wpa=2 group=16 pair=16 suites=6 algs=0"},
      {"unknown vendors and types",
       {0x01, 0x00, 0x00, 0x11, 0x22, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x06, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x08},
       kCipherCcmp,
       kSuite8021x,
       "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
  };
  for (const Case& c : cases) {
    scan_crypto crypto = {};
    // An exactly sized copy, so that a read past the end shows under the sanitizers.
    std::vector<uint8_t> body(c.body);
    iwinfo_parse_rsn(&crypto, body.data(), body.size(), c.cipher, c.suite);
    EXPECT_EQ(c.crypto, text(crypto)) << c.what;
  }
}

TEST(InformationElements, NameAndSecurity) {
  struct Case {
    const char* what;
    Bytes ies;
    const char* ssid;
    const char* crypto;
  };
  const std::string long_name(40, 'n');
  const Case cases[] = {
      {"RSN", concat({element(0, {'m', 'e', 's', 'h'}), element(48, kWpa2PskCcmp)}), "mesh",
       "enabled=0 wpa=2 group=16 pair=16 suites=4 algs=0"},
      {"WPA", concat({wpa_vendor(kWpaPskTkip), element(0, {'c', 'a', 'f', 'e'})}), "cafe",
       "enabled=0 wpa=1 group=4 pair=4 suites=4 algs=0"},
      {"mixed WPA and RSN", concat({element(48, kWpa2Eap), wpa_vendor(kWpaPskTkip)}), "",
       "enabled=0 wpa=3 group=4 pair=20 suites=6 algs=0"},
      {"hidden name", element(0, {}), "", "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
      {"a name of 40 bytes keeps 32", element(0, Bytes(long_name.begin(), long_name.end())),
       "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
      {"other vendor elements",
       concat({element(221, {0x00, 0x50, 0xf2, 0x02, 0x01, 0x01}), element(221, {0x00, 0x50, 0xf2}),
               element(221, {0x00, 0x10, 0x18, 0x01, 0x01, 0x00})}),
       "", "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
      {"an RSN element cut short ends the walk",
       concat({element(0, {'m', 'e', 's', 'h'}), Bytes{48, 20, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x04}}), "mesh",
       "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
      {"a name two bytes short", {0, 4, 'm', 'e'}, "", "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
      {"a lone byte", {0}, "", "enabled=0 wpa=0 group=0 pair=0 suites=0 algs=0"},
  };
  for (const Case& c : cases) {
    scan_entry e = {};
    std::vector<uint8_t> ies(c.ies);
    parse_scan_ies(ies.data(), ies.size(), &e);
    EXPECT_STREQ(c.ssid, e.ssid) << c.what;
    EXPECT_EQ(c.crypto, text(e.crypto)) << c.what;
  }
}
