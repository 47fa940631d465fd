#include "common/netif.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "common/kernel.h"
#include "common/output.h"
#include "common/profile.h"

namespace {

// The kernel keeps at most 15 characters of an interface name.
int check_name(const char* ifname, const char* missing_message) {
  if (!ifname || !*ifname) {
    out_line(missing_message);
    return 1;
  }
  if (strlen(ifname) >= IFNAMSIZ) {
    out_line("Interface name is too long");
    return 1;
  }
  return 0;
}

// Issues one interface ioctl on a socket of its own; 0 or the errno value.
// With report_socket, a socket failure prints "Error: %s\n".
int interface_ioctl(unsigned long request, const char* ifname, ifreq& ifr, bool report_ioctl) {
  Kernel& k = kernel();
  int fd = k.interface_socket();
  if (fd < 0) {
    int e = errno;
    out_printf("Error: %s\n", strerror(e));
    return e;
  }
  memset(&ifr, 0, sizeof(ifr));
  copy_text(ifr.ifr_name, IFNAMSIZ, ifname);
  if (k.interface_ioctl(fd, request, ifr) < 0) {
    int e = errno;
    if (report_ioctl) out_printf("Error: %s\n", strerror(e));
    k.close_socket(fd);
    return e;
  }
  k.close_socket(fd);
  return 0;
}

int get_address(unsigned long request, const char* ifname, char* out, size_t cap) {
  if (int rc = check_name(ifname, "Requred Interface name to get the IP Address")) return rc;
  ifreq ifr;
  if (int rc = interface_ioctl(request, ifname, ifr, true)) return rc;
  const sockaddr_in* sin = reinterpret_cast<const sockaddr_in*>(&ifr.ifr_addr);
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &sin->sin_addr, text, sizeof(text));
  copy_text(out, cap, text);
  return 0;
}

}  // namespace

int get_mac(const char* ifname, char* out, size_t cap) {
  if (int rc = check_name(ifname, "Requred Interface name to get the MAC Address")) return rc;
  ifreq ifr;
  if (int rc = interface_ioctl(SIOCGIFHWADDR, ifname, ifr, false)) return rc;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(ifr.ifr_hwaddr.sa_data);
  char text[18];
  snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  copy_text(out, cap, text);
  return 0;
}

int get_ipaddr(const char* ifname, char* out, size_t cap) { return get_address(SIOCGIFADDR, ifname, out, cap); }

int get_netmask(const char* ifname, char* out, size_t cap) { return get_address(SIOCGIFNETMASK, ifname, out, cap); }

int if_status(const char* ifname) {
  // A cut name could be another interface's: ask for none instead.
  if (ifname && strlen(ifname) >= IFNAMSIZ) {
    out_printf("Ioctl failed. Errno = %d\n", ENODEV);
    return -1;
  }
  Kernel& k = kernel();
  int fd = k.interface_socket();
  if (fd < 0) {
    out_printf("Socket failed. Errno = %d\n", errno);
    if (!profile().if_status_tries_ioctl) return -1;
  }
  ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  copy_text(ifr.ifr_name, IFNAMSIZ, ifname ? ifname : "");
  int rc = k.interface_ioctl(fd, SIOCGIFFLAGS, ifr);
  int e = errno;
  k.close_socket(fd);
  if (rc < 0) {
    out_printf("Ioctl failed. Errno = %d\n", e);
    return -1;
  }
  const int kUpAndRunning = IFF_UP | IFF_RUNNING;
  return (ifr.ifr_flags & kUpAndRunning) == kUpAndRunning ? 1 : 0;
}
