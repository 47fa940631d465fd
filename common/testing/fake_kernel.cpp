#include "common/testing/fake_kernel.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/linux_kernel.h"

namespace {

constexpr int kFirstFd = 1000;

bool parse_mac(const std::string& text, unsigned char out[6]) {
  unsigned b[6];
  if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) return false;
  for (int i = 0; i < 6; ++i) out[i] = static_cast<unsigned char>(b[i]);
  return true;
}

void put_address(sockaddr& sa, const std::string& text) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  inet_aton(text.c_str(), &sin.sin_addr);
  memcpy(&sa, &sin, sizeof(sin));
}

void append_attr(std::string& msg, unsigned short type, const void* data, size_t len) {
  rtattr a{};
  a.rta_type = type;
  a.rta_len = static_cast<unsigned short>(RTA_LENGTH(len));
  std::string bytes(RTA_SPACE(len), '\0');
  memcpy(bytes.data(), &a, sizeof(a));
  memcpy(bytes.data() + RTA_LENGTH(0), data, len);
  msg += bytes;
}

void append_u32(std::string& msg, unsigned short type, uint32_t v) { append_attr(msg, type, &v, sizeof(v)); }

void append_ipv4(std::string& msg, unsigned short type, const std::string& text) {
  in_addr a{};
  inet_aton(text.c_str(), &a);
  append_attr(msg, type, &a, sizeof(a));
}

// One netlink message: header, body, attributes.
std::string message(unsigned short type, unsigned short flags, const std::string& payload) {
  nlmsghdr h{};
  h.nlmsg_len = static_cast<unsigned>(NLMSG_LENGTH(payload.size()));
  h.nlmsg_type = type;
  h.nlmsg_flags = flags;
  h.nlmsg_pid = static_cast<unsigned>(getpid());
  std::string out(NLMSG_SPACE(payload.size()), '\0');
  memcpy(out.data(), &h, sizeof(h));
  memcpy(out.data() + NLMSG_HDRLEN, payload.data(), payload.size());
  return out;
}

}  // namespace

unsigned FakeKernel::index_of(const std::string& ifname) const {
  unsigned i = 1;
  for (const auto& [name, link] : links) {
    if (name == ifname) return i;
    ++i;
  }
  return 0;
}

int FakeKernel::interface_socket() {
  if (socket_errno != 0) {
    errno = socket_errno;
    return -1;
  }
  return kFirstFd;
}

int FakeKernel::interface_ioctl(int fd, unsigned long request, ifreq& ifr) {
  std::string name(ifr.ifr_name, strnlen(ifr.ifr_name, IFNAMSIZ));
  asked.push_back("ioctl " + std::to_string(request) + " " + name);
  if (fd != kFirstFd) {
    errno = EBADF;
    return -1;
  }
  auto it = links.find(name);
  if (it == links.end()) {
    errno = ENODEV;
    return -1;
  }
  FakeLink& link = it->second;
  switch (request) {
    case SIOCGIFFLAGS:
      ifr.ifr_flags = static_cast<short>((link.up ? IFF_UP : 0) | (link.up && link.running ? IFF_RUNNING : 0));
      return 0;
    case SIOCSIFFLAGS:
      link.up = (ifr.ifr_flags & IFF_UP) != 0;
      return 0;
    case SIOCGIFHWADDR: {
      unsigned char mac[6] = {0};
      parse_mac(link.mac, mac);
      memcpy(ifr.ifr_hwaddr.sa_data, mac, sizeof(mac));
      return 0;
    }
    case SIOCGIFADDR:
    case SIOCGIFNETMASK: {
      const std::string& text = request == SIOCGIFADDR ? link.address : link.netmask;
      if (link.address.empty()) {
        errno = EADDRNOTAVAIL;
        return -1;
      }
      put_address(request == SIOCGIFADDR ? ifr.ifr_addr : ifr.ifr_netmask, text);
      return 0;
    }
    default:
      errno = EINVAL;
      return -1;
  }
}

void FakeKernel::close_socket(int) {}

const char* FakeKernel::interface_name(unsigned index, char* out) {
  unsigned i = 1;
  for (const auto& [name, link] : links) {
    if (i++ == index) {
      snprintf(out, IF_NAMESIZE, "%s", name.c_str());
      return out;
    }
  }
  return nullptr;
}

int FakeKernel::link_listed(const char* ifname) {
  asked.push_back(std::string("listed ") + ifname);
  if (links_unreadable) return -1;
  return links.count(ifname) ? 1 : 0;
}

int FakeKernel::route_socket() {
  if (route_errno != 0) {
    errno = route_errno;
    return -1;
  }
  return kFirstFd + 1;
}

ssize_t FakeKernel::route_send(int fd, const void*, size_t len) {
  asked.push_back("routes");
  if (fd != kFirstFd + 1 || route_send_errno != 0) {
    errno = fd != kFirstFd + 1 ? EBADF : route_send_errno;
    return -1;
  }
  // The dump as the kernel sends it: the routes, several to a datagram,
  // then NLMSG_DONE in one of its own.
  dump_.clear();
  for (const FakeRoute& r : routes) {
    rtmsg rt{};
    rt.rtm_family = AF_INET;
    rt.rtm_dst_len = static_cast<unsigned char>(r.prefix);
    rt.rtm_table = static_cast<unsigned char>(r.table < 256 ? r.table : static_cast<int>(RT_TABLE_COMPAT));
    rt.rtm_type = RTN_UNICAST;
    std::string payload(NLMSG_ALIGN(sizeof(rt)), '\0');
    memcpy(payload.data(), &rt, sizeof(rt));
    append_u32(payload, RTA_TABLE, static_cast<uint32_t>(r.table));
    if (!r.destination.empty()) append_ipv4(payload, RTA_DST, r.destination);
    if (!r.gateway.empty()) append_ipv4(payload, RTA_GATEWAY, r.gateway);
    if (!r.ifname.empty()) append_u32(payload, RTA_OIF, index_of(r.ifname));
    dump_ += message(RTM_NEWROUTE, NLM_F_MULTI, payload);
  }
  route_replies_ = 0;
  return static_cast<ssize_t>(len);
}

ssize_t FakeKernel::route_recv(int fd, void* buf, size_t cap) {
  if (fd != kFirstFd + 1 || route_recv_errno != 0) {
    errno = fd != kFirstFd + 1 ? EBADF : route_recv_errno;
    return -1;
  }
  std::string reply;
  if (route_replies_++ == 0 && !dump_.empty()) {
    reply = dump_;
  } else {
    int error = 0;
    reply = message(NLMSG_DONE, NLM_F_MULTI, std::string(reinterpret_cast<const char*>(&error), sizeof(error)));
  }
  size_t n = reply.size() < cap ? reply.size() : cap;  // a datagram: the rest is lost
  memcpy(buf, reply.data(), n);
  return static_cast<ssize_t>(n);
}

void FakeKernel::station_init() {
  asked.push_back("station_init");
  if (station_init_fails) {
    host().out("Failed to initialize the nl80211\n");
    exit(1);
  }
}

int FakeKernel::station_dump(const char* ifname) {
  asked.push_back(std::string("station_dump ") + ifname);
  auto it = stations.find(ifname);
  if (it == stations.end()) return 0;
  FILE* f = host_fopen("/tmp/.clients", "a");
  if (!f) return 0;
  for (const std::string& record : it->second) fprintf(f, "%s\n", record.c_str());
  fclose(f);
  return 0;
}

int FakeKernel::neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) {
  asked.push_back(std::string("neighbour_dump ") + ifname);
  macs.clear();
  signals.clear();
  auto it = neighbours.find(ifname);
  if (it != neighbours.end()) {
    macs.set(it->second.macs.c_str());
    signals.set(it->second.signals.c_str());
  }
  return neighbour_result;
}

const scan_backend_ops* FakeKernel::scan_backend(const char* ifname) {
  asked.push_back(std::string("scan_backend ") + ifname);
  auto it = scan_backends.find(ifname);
  return it == scan_backends.end() ? nullptr : it->second;
}

ScopedRealKernel::ScopedRealKernel() : ScopedKernel(linux_kernel()) {}
