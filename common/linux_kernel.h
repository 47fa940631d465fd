// The node's kernel: socket ioctls, getifaddrs and the rtnetlink route dump.
// The radios' entry points fail here; the programs with radios install a
// backend that has them (common/wifi_kernel.h, lonely's scan).
#pragma once

#include "common/kernel.h"

class LinuxKernel : public Kernel {
 public:
  int interface_socket() override;
  int interface_ioctl(int fd, unsigned long request, ifreq& ifr) override;
  void close_socket(int fd) override;
  const char* interface_name(unsigned index, char* out) override;
  int link_listed(const char* ifname) override;
  int route_socket() override;
  ssize_t route_send(int fd, const void* request, size_t len) override;
  ssize_t route_recv(int fd, void* buf, size_t cap) override;
  void station_init() override;
  int station_dump(const char* ifname) override;
  int neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) override;
  const scan_backend_ops* scan_backend(const char* ifname) override;
};

Kernel& linux_kernel();
