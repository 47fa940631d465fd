#include "common/linux_kernel.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {
Kernel* g_kernel = nullptr;
Kernel* g_default = nullptr;
}  // namespace

Kernel& kernel() {
  if (g_kernel) return *g_kernel;
  return g_default ? *g_default : linux_kernel();
}

Kernel* set_kernel(Kernel* k) {
  Kernel* old = g_kernel;
  g_kernel = k;
  return old;
}

void set_default_kernel(Kernel* k) { g_default = k; }

int LinuxKernel::interface_socket() { return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

int LinuxKernel::interface_ioctl(int fd, unsigned long request, ifreq& ifr) { return ioctl(fd, request, &ifr); }

void LinuxKernel::close_socket(int fd) {
  if (fd >= 0) close(fd);
}

const char* LinuxKernel::interface_name(unsigned index, char* out) { return if_indextoname(index, out); }

int LinuxKernel::link_listed(const char* ifname) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return -1;
  int found = 0;
  for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
    if (a->ifa_addr && a->ifa_addr->sa_family == AF_PACKET && a->ifa_name && strcmp(a->ifa_name, ifname) == 0) {
      found = 1;
    }
  }
  freeifaddrs(list);
  return found;
}

int LinuxKernel::route_socket() { return socket(PF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE); }

ssize_t LinuxKernel::route_send(int fd, const void* request, size_t len) { return send(fd, request, len, 0); }

ssize_t LinuxKernel::route_recv(int fd, void* buf, size_t cap) { return recv(fd, buf, cap, 0); }

// A program without radios never asks for them; if one did, it learns that
// there are none.
void LinuxKernel::station_init() { exit(1); }
int LinuxKernel::station_dump(const char*) { return 2; }
int LinuxKernel::neighbour_dump(const char*, NeighbourList&, NeighbourList&) { return 1; }
const scan_backend_ops* LinuxKernel::scan_backend(const char*) { return nullptr; }

Kernel& linux_kernel() {
  static LinuxKernel k;
  return k;
}
