// The kernel: what the programs ask of the node's interfaces, routes and
// radios, behind one small interface beside the host's, so that tests can
// answer in the kernel's place. The Linux backend is common/linux_kernel.h
// (with the radios' parts in common/wifi_kernel.h and lonely's scan);
// tests install common/testing/fake_kernel.h.
#pragma once

#include <net/if.h>
#include <sys/types.h>

#include <cstddef>

#include "common/text.h"

struct scan_backend_ops;

// The controller's neighbour lists: upper-case MACs joined by ";" and their
// signal averages joined by ";".
using NeighbourList = FixedText<1024>;

class Kernel {
 public:
  virtual ~Kernel() = default;

  // Interface requests (SIOCGIFFLAGS, SIOCGIFADDR, SIOCGIFNETMASK,
  // SIOCGIFHWADDR) on a datagram socket: the socket's descriptor, or -1
  // with errno set.
  virtual int interface_socket() = 0;
  // One request on that socket: 0, or -1 with errno set as the kernel sets
  // it (ENODEV for a missing interface, EADDRNOTAVAIL for one without an
  // IPv4 address, EBADF for a descriptor that is none).
  virtual int interface_ioctl(int fd, unsigned long request, ifreq& ifr) = 0;
  virtual void close_socket(int fd) = 0;
  // The interface of an index (if_indextoname): out (IF_NAMESIZE bytes),
  // or nullptr.
  virtual const char* interface_name(unsigned index, char* out) = 0;
  // 1 when a link-level interface of that name exists, 0 when not, -1 when
  // the interfaces cannot be listed.
  virtual int link_listed(const char* ifname) = 0;

  // The route dump over rtnetlink: a socket (-1 with errno), the request
  // sent on it and the replies received from it, as send and recv give them.
  virtual int route_socket() = 0;
  virtual ssize_t route_send(int fd, const void* request, size_t len) = 0;
  virtual ssize_t route_recv(int fd, void* buf, size_t cap) = 0;

  // nl80211. clientscout's station socket, made once (the program ends
  // when nl80211 cannot be had), and its dump of an interface's stations
  // into /tmp/.clients (2 when the request cannot be made, else 0).
  virtual void station_init() = 0;
  virtual int station_dump(const char* ifname) = 0;
  // The controller's dump of an interface's stations into the two lists:
  // 0, else the failure of station_dump.h's neighbour_dump.
  virtual int neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) = 0;
  // The scan operations of an interface with an nl80211 radio, else nullptr.
  virtual const scan_backend_ops* scan_backend(const char* ifname) = 0;
};

Kernel& kernel();
// Installs `k` (nullptr: the default again); returns the one installed
// before, nullptr when the default served.
Kernel* set_kernel(Kernel* k);
// The kernel that serves while none is installed: the Linux backend without
// radios, unless a test program chose another.
void set_default_kernel(Kernel* k);
