// The default IPv4 gateway, from a route dump over rtnetlink.
#pragma once

#include <linux/netlink.h>
#include <net/if.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/text.h"

// Dotted quad of the last default route found; kept between lookups.
extern FixedText<20> gateway;

struct RouteRecord {
  uint32_t destination;
  uint32_t source;
  uint32_t gateway;
  char ifname[IF_NAMESIZE];
};

// Looks the default route up, copies `gateway` into out and prints it.
// 0 after a completed lookup, -1 on failure (out then untouched).
int read_gateway(char* out, size_t cap);
template <size_t N>
int read_gateway(FixedText<N>& out) {
  return read_gateway(out.data(), N);
}

// Receives the dump into buf (cap bytes); the byte count, or -1.
int readNlSock(int sock, char* buf, size_t cap, unsigned seq, unsigned pid);
// Fills `route` from one route message; sets `gateway` for a default route
// of the main table.
void parseRoutes(const nlmsghdr* msg, RouteRecord* route);
void printGateway();

// Writes "nameserver <gateway>" into /tmp/resolv.conf.auto.
void set_nameserver();
