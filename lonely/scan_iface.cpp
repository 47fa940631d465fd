#include "lonely/scan_iface.h"

#include <dirent.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/attr.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/process.h"
#include "common/text.h"
#include "lonely/nl80211_link.h"

namespace {

int g_ioctl_fd = -1;

int set_flags(const char* ifname, bool up) {
  ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  copy_text(ifr.ifr_name, IFNAMSIZ, ifname);
  if (iwinfo_ioctl(SIOCGIFFLAGS, &ifr) != 0) return 0;
  const short kUpAndRunning = IFF_UP | IFF_RUNNING;
  if (up) {
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | kUpAndRunning);
  } else {
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags & ~kUpAndRunning);
  }
  return iwinfo_ioctl(SIOCSIFFLAGS, &ifr) == 0 ? 1 : 0;
}

}  // namespace

int iwinfo_ioctl(unsigned long request, void* arg) {
  if (g_ioctl_fd < 0) {
    g_ioctl_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (g_ioctl_fd < 0) return -1;
  }
  return ioctl(g_ioctl_fd, request, arg);
}

void iwinfo_close() {
  if (g_ioctl_fd >= 0) close(g_ioctl_fd);
  g_ioctl_fd = -1;
}

int iwinfo_socket() { return g_ioctl_fd; }

int iwinfo_ifup(const char* ifname) { return set_flags(ifname, true); }
int iwinfo_ifdown(const char* ifname) { return set_flags(ifname, false); }

void next_scan_mac(unsigned char mac[6]) {
  mac[1] = static_cast<unsigned char>(mac[1] + 1);
  mac[2] = static_cast<unsigned char>(mac[2] + 1);
}

int iwinfo_ifmac(const char* ifname) {
  ifreq ifr;
  memset(&ifr, 0, sizeof(ifr));
  copy_text(ifr.ifr_name, IFNAMSIZ, ifname);
  if (iwinfo_ioctl(SIOCGIFHWADDR, &ifr) != 0) return 0;
  next_scan_mac(reinterpret_cast<unsigned char*>(ifr.ifr_hwaddr.sa_data));
  return iwinfo_ioctl(SIOCSIFHWADDR, &ifr) == 0 ? 1 : 0;
}

const char* scan_iface_create(const char* ifname) {
  static FixedText<16> name;
  name.format("tmp.%s", ifname);
  Nl80211Request req;
  if (!nl80211_build_request(ifname, NL80211_CMD_NEW_INTERFACE, 0, req)) return nullptr;
  if (nla_put_string(req.msg, NL80211_ATTR_IFNAME, name.c_str()) < 0 ||
      nla_put_u32(req.msg, NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION) < 0) {
    nl80211_free_request(req);
    return nullptr;
  }
  // The kernel's answer is not needed: a name already taken by a leftover
  // temporary interface is scanned on and deleted all the same.
  return nl80211_transact(req, nullptr, nullptr).sent ? name.c_str() : nullptr;
}

void scan_iface_delete(const char* name) {
  Nl80211Request req;
  if (!nl80211_build_request(name, NL80211_CMD_DEL_INTERFACE, 0, req)) return;
  if (nla_put_string(req.msg, NL80211_ATTR_IFNAME, name) < 0) {
    nl80211_free_request(req);
    return;
  }
  nl80211_transact(req, nullptr, nullptr);
}

int read_int_file(const char* path) {
  FILE* f = host_fopen(path, "r");
  if (!f) return -1;
  char text[17] = {0};
  size_t n = fread(text, 1, sizeof(text) - 1, f);
  fclose(f);
  text[n] = '\0';
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text) return -1;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

const char* radio_to_ifname(const char* radio) {
  static FixedText<16> found;
  int index;
  if (!parse_radio_index(radio, &index)) return nullptr;
  DIR* d = host_opendir("/sys/class/net");
  if (!d) return nullptr;
  found.clear();
  int lowest = -1;
  while (dirent* e = readdir(d)) {
    PathText path;
    path.format("/sys/class/net/%s/phy80211/index", e->d_name);
    if (read_int_file(path.c_str()) != index) continue;
    path.format("/sys/class/net/%s/ifindex", e->d_name);
    int ifindex = read_int_file(path.c_str());
    if (ifindex >= 0 && (lowest < 0 || ifindex < lowest)) {
      lowest = ifindex;
      found.set(e->d_name);
    }
  }
  closedir(d);
  return found.empty() ? nullptr : found.c_str();
}

void hup_phy_daemon(const char* phy) {
  FixedText<32> path;
  path.format("/var/run/wifi-%s.pid", phy);
  FILE* f = host_fopen(path.c_str(), "r");
  if (!f) return;
  char text[33] = {0};
  size_t n = fread(text, 1, sizeof(text) - 1, f);
  fclose(f);
  text[n] = '\0';
  int pid = atoi(text);
  // A pid file left from an earlier radio daemon may name a recycled pid:
  // only the radio daemon itself is signalled.
  if (pid > 0) signal_named_process(pid, "hostapd", SIGHUP);
}

void hup_radio_daemon(const char* ifname) {
  if (const char* phy = ifname_to_phy(ifname)) hup_phy_daemon(phy);
}
