#include "watchdog/link_probe.h"

#include <ifaddrs.h>
#include <sys/socket.h>

#include <cstring>

int link_interface_present(const char* ifname) {
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
