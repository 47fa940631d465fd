// Interface probes through socket ioctls.
#pragma once

#include <cstddef>

#include "common/text.h"

// The MAC address as six upper-case hex pairs joined by ":" (out: 18 bytes).
// 0, 1 for a missing or too long name, else the errno value.
int get_mac(const char* ifname, char* out, size_t cap);
// Dotted-quad IPv4 address or netmask (out: 16 bytes); results as get_mac.
int get_ipaddr(const char* ifname, char* out, size_t cap);
int get_netmask(const char* ifname, char* out, size_t cap);

template <size_t N>
int get_mac(const char* ifname, FixedText<N>& out) {
  return get_mac(ifname, out.data(), N);
}
template <size_t N>
int get_ipaddr(const char* ifname, FixedText<N>& out) {
  return get_ipaddr(ifname, out.data(), N);
}
template <size_t N>
int get_netmask(const char* ifname, FixedText<N>& out) {
  return get_netmask(ifname, out.data(), N);
}

// 1 when the interface is up and running, 0 when not, -1 when its flags
// cannot be read.
int if_status(const char* ifname);
