// A stand-in scan backend for the channel search tests: hands out the
// records a test sets, or fails, and counts its scans.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "lonely/scan_backend.h"

struct StandInScan {
  static inline std::vector<scan_entry> records;
  static inline int result = 0;        // the scan list operation's result
  static inline int claimed_len = -1;  // a length to report instead of the true one
  static inline int scans = 0;

  static void reset() {
    records.clear();
    result = 0;
    claimed_len = -1;
    scans = 0;
  }
  static int scanlist(const char*, char* buf, size_t size, int* len) {
    ++scans;
    size_t n = 0;
    for (const scan_entry& e : records) {
      if ((n + 1) * sizeof(scan_entry) > size) break;
      memcpy(buf + n * sizeof(scan_entry), &e, sizeof(e));
      ++n;
    }
    *len = claimed_len >= 0 ? claimed_len : static_cast<int>(n * sizeof(scan_entry));
    return result;
  }
  static void close() {}
  static inline const scan_backend_ops ops = {scanlist, close};
  static const scan_backend_ops* lookup(const char*) { return &ops; }
};

// The mesh cell the tests' scans find.
inline const char kCell[] = "02:ca:fe:ca:ca:40";

// A cell as the backend records it.
inline scan_entry cell(const char* bssid, const char* ssid, int mode, int channel) {
  scan_entry e;
  memset(&e, 0, sizeof(e));
  unsigned b[6];
  sscanf(bssid, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  for (int i = 0; i < 6; ++i) e.bssid[i] = static_cast<uint8_t>(b[i]);
  strncpy(e.ssid, ssid, 32);
  e.mode = mode;
  e.channel = static_cast<uint8_t>(channel);
  e.signal = -60;
  e.quality = 50;
  e.quality_max = 70;
  return e;
}
