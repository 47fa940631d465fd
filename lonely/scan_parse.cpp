#include "lonely/scan_parse.h"

#include <cstring>

namespace {

const uint8_t kWpaOui[3] = {0x00, 0x50, 0xf2};
const uint8_t kRsnOui[3] = {0x00, 0x0f, 0xac};

constexpr uint8_t kElementSsid = 0;
constexpr uint8_t kElementRsn = 48;
constexpr uint8_t kElementVendor = 221;
constexpr uint8_t kWpaVendorType = 1;
constexpr size_t kSuiteSize = 4;  // OUI and type
constexpr size_t kSsidMax = 32;

bool known_oui(const uint8_t* suite) { return memcmp(suite, kWpaOui, 3) == 0 || memcmp(suite, kRsnOui, 3) == 0; }

uint8_t cipher_bit(const uint8_t* suite) {
  if (!known_oui(suite)) return 0;
  switch (suite[3]) {
    case 1:
      return kCipherWep40;
    case 2:
      return kCipherTkip;
    case 4:
      return kCipherCcmp;
    case 5:
      return kCipherWep104;
    default:
      return 0;
  }
}

uint8_t key_management_bit(const uint8_t* suite) {
  if (!known_oui(suite)) return 0;
  switch (suite[3]) {
    case 1:
      return kSuite8021x;
    case 2:
      return kSuitePsk;
    default:
      return 0;
  }
}

// One suite list at p: false when its count does not fit in what is left.
bool read_suite_list(const uint8_t*& p, size_t& left, uint8_t (*bit)(const uint8_t*), uint8_t& mask) {
  size_t count = static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8;  // little-endian
  size_t size = 2 + count * kSuiteSize;
  if (size > left) return false;
  for (size_t i = 0; i < count; ++i) mask |= bit(p + 2 + i * kSuiteSize);
  p += size;
  left -= size;
  return true;
}

}  // namespace

uint8_t freq_to_channel(int freq) {
  if (freq == 2484) return 14;
  // Wide arithmetic: the frequency of a broken reply may be any 32 bits.
  long long f = freq;
  if (f < 2484) return static_cast<uint8_t>((f - 2407) / 5);
  return static_cast<uint8_t>(f / 5 - 1000);
}

uint8_t signal_quality(int signal) {
  if (signal < -110) signal = -110;
  if (signal > -40) signal = -40;
  return static_cast<uint8_t>(signal + 110);
}

void iwinfo_parse_rsn(scan_crypto* c, const uint8_t* data, size_t len, uint8_t default_cipher, uint8_t default_suite) {
  // Version (2 bytes), then the group suite.
  if (len < 2 + kSuiteSize) {
    c->group_ciphers |= default_cipher;
    c->pair_ciphers |= default_cipher;
    c->auth_suites |= default_suite;
    return;
  }
  const uint8_t* p = data + 2;
  size_t left = len - 2;
  if (memcmp(p, kWpaOui, 3) == 0) {
    c->wpa_version |= 1;
  } else if (memcmp(p, kRsnOui, 3) == 0) {
    c->wpa_version |= 2;
  }
  c->group_ciphers |= cipher_bit(p);
  p += kSuiteSize;
  left -= kSuiteSize;

  if (left < 2) {
    c->pair_ciphers |= default_cipher;
    c->auth_suites |= default_suite;
    return;
  }
  if (!read_suite_list(p, left, cipher_bit, c->pair_ciphers)) return;
  if (left < 2) {
    c->auth_suites |= default_suite;
    return;
  }
  read_suite_list(p, left, key_management_bit, c->auth_suites);
}

void parse_scan_ies(const uint8_t* ie, size_t len, scan_entry* e) {
  while (len >= 2 && len >= 2u + ie[1]) {
    const uint8_t* body = ie + 2;
    size_t size = ie[1];
    switch (ie[0]) {
      case kElementSsid: {
        size_t n = size < kSsidMax ? size : kSsidMax;
        memcpy(e->ssid, body, n);
        e->ssid[n] = '\0';
        break;
      }
      case kElementRsn:
        iwinfo_parse_rsn(&e->crypto, body, size, kCipherCcmp, kSuite8021x);
        break;
      case kElementVendor:
        if (size >= 4 && memcmp(body, kWpaOui, 3) == 0 && body[3] == kWpaVendorType) {
          iwinfo_parse_rsn(&e->crypto, body + 4, size - 4, kCipherTkip, kSuitePsk);
        }
        break;
      default:
        break;
    }
    ie += 2 + size;
    len -= 2 + size;
  }
}
