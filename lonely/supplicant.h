// Scan results from the Wi-Fi supplicant's control socket, for an interface
// on which a supplicant runs.
#pragma once

#include <cstddef>

#include "lonely/scan_entry.h"

constexpr size_t kSupplicantReplySize = 10240;
constexpr int kSupplicantWaitMs = 2000;
constexpr int kSupplicantTries = 5;

// Holds one exchange with the supplicant of ifname: command, and when event
// is given an ATTACH first and a wait for a reply containing it. The reply
// text (empty when no matching reply came), or nullptr when the exchange
// could not be held.
const char* supplicant_query(const char* ifname, const char* command, const char* event);

// Receives one reply on fd into the reply buffer, waiting at most two
// seconds: its length, 0 on time-out, -1 on error.
int supplicant_receive(int fd);

// The security of a supplicant flag text such as "[WPA2-PSK-CCMP][ESS]".
void parse_supplicant_flags(const char* flags, scan_crypto* crypto);

// Records from a SCAN_RESULTS reply (a header line, then one line per cell);
// only whole lines are read. The number of records added.
size_t parse_supplicant_results(const char* text, ScanCursor& out);

// The supplicant's scan list of ifname: 0 or -1, or kSupplicantAbsent when
// no exchange could be held (the scan goes on through nl80211).
constexpr int kSupplicantAbsent = 1;
int supplicant_scanlist(const char* ifname, ScanCursor& out);
