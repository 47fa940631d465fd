// Network arithmetic on dotted IPv4 texts, for the firewall rules of the LAN
// block and the captive portal's network lines. A netmask is a dotted mask
// ("255.255.252.0") or a bit count ("22").
#pragma once

#include <cstddef>

#include "common/text.h"

// The prefix length of netmask; 1 (with a message) when the address or the
// netmask is not valid, so callers always get a usable number.
int prefix_length(const char* address, const char* netmask);

// Writes the network address (address AND mask) into out in dotted form:
// 0, or 1 with out untouched when the address or the netmask is not valid.
// A network of 0.0.0.0 also leaves out as it was.
int network_address(const char* address, const char* netmask, char* out, size_t cap);
template <size_t N>
int network_address(const char* address, const char* netmask, FixedText<N>& out) {
  static_assert(N >= 17, "room for a dotted quad");
  return network_address(address, netmask, out.data(), N);
}
