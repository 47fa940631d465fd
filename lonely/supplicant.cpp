#include "lonely/supplicant.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/signals.h"
#include "lonely/scan_parse.h"

namespace {

// One byte stays free so that a full reply is still a terminated text.
char g_reply[kSupplicantReplySize];

// A socket address for a path under the host's root; false when it does
// not fit.
bool socket_address(sockaddr_un& addr, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool socket_address(sockaddr_un& addr, const char* fmt, ...) {
  PathText path;
  va_list ap;
  va_start(ap, fmt);
  format_text(path.data(), path.capacity(), fmt, ap);
  va_end(ap);
  PathText full;
  host_path(path.c_str(), full);
  memset(&addr, 0, sizeof(addr));
  addr.sun_family = AF_UNIX;
  if (full.size() >= sizeof(addr.sun_path)) return false;
  memcpy(addr.sun_path, full.c_str(), full.size());
  return true;
}

bool send_text(int fd, const char* text) { return send(fd, text, strlen(text), 0) >= 0; }

// The exchange on a connected, bound socket.
const char* exchange(int fd, const char* command, const char* event) {
  if (event) {
    send_text(fd, "ATTACH");
    if (supplicant_receive(fd) <= 0) return nullptr;
  }
  send_text(fd, command);
  bool matched = false;
  for (int tries = 0; tries < kSupplicantTries && !matched; ++tries) {
    int n = supplicant_receive(fd);
    if (n <= 0) {
      if (event) continue;  // the scan may take several waits
      break;
    }
    // Unsolicited event lines start with "<".
    matched = event ? strstr(g_reply, event) != nullptr : g_reply[0] != '<';
  }
  if (!matched) memset(g_reply, 0, sizeof(g_reply));
  return g_reply;
}

// The security bits of one supplicant flag text.
struct FlagBit {
  const char* text;
  uint8_t scan_crypto::*field;
  uint8_t bit;
};
const FlagBit kFlagBits[] = {
    {"PSK", &scan_crypto::auth_suites, kSuitePsk},        {"802.1X", &scan_crypto::auth_suites, kSuite8021x},
    {"EAP", &scan_crypto::auth_suites, kSuite8021x},      {"WPA-NONE", &scan_crypto::auth_suites, kSuiteNone},
    {"TKIP", &scan_crypto::pair_ciphers, kCipherTkip},    {"CCMP", &scan_crypto::pair_ciphers, kCipherCcmp},
    {"WEP-40", &scan_crypto::pair_ciphers, kCipherWep40}, {"WEP-104", &scan_crypto::pair_ciphers, kCipherWep104},
};

}  // namespace

int supplicant_receive(int fd) {
  memset(g_reply, 0, sizeof(g_reply));
  if (wait_fd(fd, POLLIN, kSupplicantWaitMs) <= 0) return 0;
  ssize_t n = recv(fd, g_reply, sizeof(g_reply) - 1, 0);
  return n < 0 ? -1 : static_cast<int>(n);
}

const char* supplicant_query(const char* ifname, const char* command, const char* event) {
  sockaddr_un remote;
  sockaddr_un local;
  if (!socket_address(remote, "/var/run/wpa_supplicant-%s/%s", ifname, ifname) ||
      !socket_address(local, "/var/run/iwinfo-%s-%d", ifname, static_cast<int>(getpid()))) {
    return nullptr;
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  const char* result = nullptr;
  bool bound = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) == 0) {
    unlink(local.sun_path);  // left by an earlier process of our pid
    bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
    if (bound) result = exchange(fd, command, event);
  }
  close(fd);
  if (bound) unlink(local.sun_path);
  return result;
}

void parse_supplicant_flags(const char* flags, scan_crypto* c) {
  if (!strstr(flags, "WPA") && !strstr(flags, "WEP")) {
    c->enabled = 0;
    return;
  }
  c->enabled = 1;
  if (strstr(flags, "WPA2-") && strstr(flags, "WPA-")) {
    c->wpa_version = 3;
  } else if (strstr(flags, "WPA2")) {
    c->wpa_version = 2;
  } else if (strstr(flags, "WPA")) {
    c->wpa_version = 1;
  } else {
    c->auth_algs = kAuthOpen | kAuthShared;
  }
  for (const FlagBit& f : kFlagBits) {
    if (strstr(flags, f.text)) c->*f.field |= f.bit;
  }
  c->group_ciphers = c->pair_ciphers;
}

size_t parse_supplicant_results(const char* text, ScanCursor& out) {
  const char* line = strchr(text, '\n');  // the header
  if (!line) return 0;
  ++line;
  size_t added = 0;
  for (const char* end; (end = strchr(line, '\n')) != nullptr; line = end + 1) {
    FixedText<512> one;
    size_t len = static_cast<size_t>(end - line);
    if (len >= one.capacity()) len = one.capacity() - 1;
    memcpy(one.data(), line, len);
    char bssid[18] = {0};
    int freq = 0;
    int signal = 0;
    char flags[256] = {0};
    char ssid[128] = {0};
    // A line without BSSID, frequency, signal and flags is skipped rather
    // than filled from the one before.
    if (sscanf(one.c_str(), "%17s %d %d %255s%*[ \t]%127[^\n]", bssid, &freq, &signal, flags, ssid) < 4) {
      continue;
    }
    scan_entry e;
    memset(&e, 0, sizeof(e));
    for (int i = 0; i < 6; ++i) e.bssid[i] = static_cast<uint8_t>(strtol(&bssid[i * 3], nullptr, 16));
    copy_text(e.ssid, sizeof(e.ssid), ssid);
    e.mode = kModeMaster;  // the supplicant does not say; its cells are access points
    e.channel = freq_to_channel(freq);
    e.signal = static_cast<int8_t>(signal);
    e.quality = signal < 0 ? signal_quality(signal) : static_cast<uint8_t>(signal);
    e.quality_max = kQualityMax;
    parse_supplicant_flags(flags, &e.crypto);
    if (!out.add(e)) break;
    ++added;
  }
  return added;
}

int supplicant_scanlist(const char* ifname, ScanCursor& out) {
  if (!supplicant_query(ifname, "SCAN", "CTRL-EVENT-SCAN-RESULTS")) return kSupplicantAbsent;
  const char* results = supplicant_query(ifname, "SCAN_RESULTS", nullptr);
  if (!results) return -1;
  parse_supplicant_results(results, out);
  return 0;
}
