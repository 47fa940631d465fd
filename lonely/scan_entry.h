// One wireless cell heard by a scan, as the channel search reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

enum : int { kModeMaster = 1, kModeAdHoc = 2 };

// Bits of scan_crypto's cipher masks, key management suites and algorithms.
enum : uint8_t {
  kCipherNone = 1,
  kCipherWep40 = 2,
  kCipherTkip = 4,
  kCipherWrap = 8,
  kCipherCcmp = 16,
  kCipherWep104 = 32,
  kCipherAesOcb = 64,
  kCipherCkip = 128,
};
enum : uint8_t { kSuiteNone = 1, kSuite8021x = 2, kSuitePsk = 4 };
enum : uint8_t { kAuthOpen = 1, kAuthShared = 2 };

struct scan_crypto {
  uint8_t enabled;      // 0 or 1
  uint8_t wpa_version;  // 1 WPA, 2 WPA2, 3 both
  uint8_t group_ciphers;
  uint8_t pair_ciphers;
  uint8_t auth_suites;
  uint8_t auth_algs;
};

struct scan_entry {
  uint8_t bssid[6];
  char ssid[33];  // at most 32 bytes; empty for a hidden name
  int mode;       // kModeMaster or kModeAdHoc
  uint8_t channel;
  int8_t signal;  // dBm
  uint8_t quality;
  uint8_t quality_max;
  scan_crypto crypto;
};

// The same layout on the router (32-bit MIPS) and here: a 24 KiB buffer
// holds 438 records.
static_assert(sizeof(scan_entry) == 56, "scan_entry layout");

constexpr int kQualityMax = 70;

// Writes records one after another into a caller's buffer and never past
// its end: the first ones that fit are kept. Records are copied byte-wise,
// so the buffer needs no particular alignment.
class ScanCursor {
 public:
  ScanCursor(char* buf, size_t size) : buf_(buf), capacity_(size / sizeof(scan_entry)) {}
  bool add(const scan_entry& e) {
    if (count_ >= capacity_) return false;
    memcpy(buf_ + count_ * sizeof(scan_entry), &e, sizeof(e));
    ++count_;
    return true;
  }
  bool full() const { return count_ >= capacity_; }
  size_t count() const { return count_; }
  size_t bytes() const { return count_ * sizeof(scan_entry); }

 private:
  char* buf_;
  size_t capacity_;
  size_t count_ = 0;
};
