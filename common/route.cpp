#include "common/route.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/atomic_file.h"
#include "common/host.h"
#include "common/kernel.h"
#include "common/output.h"
#include "common/profile.h"

FixedText<20> gateway;

namespace {

constexpr size_t kDumpSize = 8192;

void ipv4_text(uint32_t addr, FixedText<20>& out) {
  char text[INET_ADDRSTRLEN];
  in_addr a;
  a.s_addr = addr;
  inet_ntop(AF_INET, &a, text, sizeof(text));
  out.set(text);
}

uint32_t attr_u32(const rtattr* a) {
  uint32_t v = 0;
  if (RTA_PAYLOAD(a) >= sizeof(v)) memcpy(&v, RTA_DATA(a), sizeof(v));
  return v;
}

}  // namespace

int readNlSock(int sock, char* buf, size_t cap, unsigned seq, unsigned pid) {
  size_t total = 0;
  const nlmsghdr* hdr;
  do {
    ssize_t got = kernel().route_recv(sock, buf + total, cap - total);
    if (got < 0) {
      err_perror("SOCK READ: ");
      return -1;
    }
    hdr = reinterpret_cast<const nlmsghdr*>(buf + total);
    // Unsigned, as the header's own length is: NLMSG_OK compares the two.
    unsigned len = static_cast<unsigned>(got);
    if (!NLMSG_OK(hdr, len) || hdr->nlmsg_type == NLMSG_ERROR) {
      err_perror("Error in recieved packet");
      return -1;
    }
    if (hdr->nlmsg_type == NLMSG_DONE) break;
    total += static_cast<size_t>(got);
    if ((hdr->nlmsg_flags & NLM_F_MULTI) == 0) break;
  } while (hdr->nlmsg_seq != seq || hdr->nlmsg_pid != pid);
  return static_cast<int>(total);
}

void parseRoutes(const nlmsghdr* msg, RouteRecord* route) {
  if (msg->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
  const rtmsg* rt = static_cast<const rtmsg*>(NLMSG_DATA(msg));
  if (rt->rtm_family != AF_INET || rt->rtm_table != RT_TABLE_MAIN) return;
  int left = static_cast<int>(RTM_PAYLOAD(msg));
  for (const rtattr* a = RTM_RTA(rt); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
    switch (a->rta_type) {
      case RTA_DST:
        route->destination = attr_u32(a);
        break;
      case RTA_OIF:
        kernel().interface_name(attr_u32(a), route->ifname);
        break;
      case RTA_GATEWAY:
        route->gateway = attr_u32(a);
        break;
      case RTA_PREFSRC:
        route->source = attr_u32(a);
        break;
      default:
        break;
    }
  }
  if (route->destination == 0) ipv4_text(route->gateway, gateway);
}

void printGateway() { out_printf("%s\n", gateway.c_str()); }

int read_gateway(char* out, size_t cap) {
  Kernel& k = kernel();
  int sock = k.route_socket();
  if (sock < 0) err_perror("Socket Creation: ");

  alignas(nlmsghdr) char buf[kDumpSize];
  memset(buf, 0, sizeof(buf));
  nlmsghdr* req = reinterpret_cast<nlmsghdr*>(buf);
  req->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));  // 28 bytes
  req->nlmsg_type = RTM_GETROUTE;
  req->nlmsg_flags = NLM_F_DUMP | NLM_F_REQUEST;
  req->nlmsg_seq = 0;
  req->nlmsg_pid = static_cast<unsigned>(getpid());
  if (k.route_send(sock, req, req->nlmsg_len) < 0) {
    out_line("Write To Socket Failed...");
    k.close_socket(sock);
    return -1;
  }

  memset(buf, 0, sizeof(buf));
  int got = readNlSock(sock, buf, sizeof(buf), 1, static_cast<unsigned>(getpid()));
  if (got < 0) {
    out_line("Read From Socket Failed...");
    k.close_socket(sock);
    return -1;
  }
  unsigned len = static_cast<unsigned>(got);
  for (const nlmsghdr* msg = reinterpret_cast<const nlmsghdr*>(buf); NLMSG_OK(msg, len); msg = NLMSG_NEXT(msg, len)) {
    RouteRecord route;
    memset(&route, 0, sizeof(route));
    parseRoutes(msg, &route);
  }
  k.close_socket(sock);
  copy_text(out, cap, gateway.c_str());
  printGateway();
  return 0;
}

void set_nameserver() {
  FixedText<32> gw;
  // Without a completed lookup, the text from an earlier one (or none).
  if (read_gateway(gw) != 0) gw.set(gateway);
  if (profile().gateway_log) log_printf(LOG_DEBUG, "Gateway : %s", gw.c_str());
  FixedText<64> line;
  line.format("nameserver %s", gw.c_str());
  // Read by the resolver at any time: never empty, never half written.
  replace_file_text("/tmp/resolv.conf.auto", line);
}
