#include "mesh/node_identity.h"

#include <cstdlib>
#include <cstring>

#include "common/base64.h"
#include "common/endpoints.h"
#include "common/netif.h"
#include "common/output.h"
#include "common/process_http.h"
#include "common/profile.h"
#include "common/runner.h"
#include "common/text.h"
#include "common/transport.h"

const PlannedBridge kPlannedBridges[3] = {
    {"pub", "br-pub", 0},
    {"priv", "br-priv", 4},
    {"mesh", "br-meship", 8},
};

namespace {

bool g_last_stored = false;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// A field of the reply as atoi reads a number: blanks, an optional "+",
// then one to nine decimal digits (so it fits an int), and blanks only
// after them. A dashboard that pads its reply is understood; a sign of
// minus, other characters or longer numbers are no node identity.
bool read_number(const char* begin, const char* end, int& out) {
  while (begin < end && is_blank(*begin)) ++begin;
  while (end > begin && is_blank(end[-1])) --end;
  if (begin < end && *begin == '+') ++begin;
  size_t len = static_cast<size_t>(end - begin);
  if (len == 0 || len > 9) return false;
  int value = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
  }
  out = value;
  return true;
}

bool store_identity(const char* reply) {
  NodeIdentity who;
  if (!parse_nodeid_reply(reply, who)) {
    // The reply can be anything the dashboard (or whatever answered) sent.
    out_printf("Node id reply not valid, nothing stored: \"%.64s\"\n", reply ? reply : "");
    return false;
  }
  FixedText<256> command;
  command.format("uci set node.status.id=%d", who.id);
  set_uci_config(command);
  command.clear();
  command.format("uci set node.status.switch=%d", who.network);
  set_uci_config(command);
  command.clear();
  command.format("uci set node.status.nodeid=%d", who.nodeid);
  set_uci_config(command);
  commit_uci_config("node");

  int block = 12 * (who.id - 1);
  for (const PlannedBridge& b : kPlannedBridges) {
    command.clear();
    command.format("uci set dhcp.%s.ipaddr=10.%d.%d.1;uci set dhcp.%s.netmask=255.255.252.0", b.section, who.network,
                   block + b.offset, b.section);
    set_uci_config(command);
  }
  commit_uci_config("dhcp");
  return true;
}

}  // namespace

bool parse_nodeid_reply(const char* reply, NodeIdentity& out) {
  if (!reply) return false;
  int fields[3];
  int count = 0;
  const char* p = reply;
  while (*p) {
    if (*p == ':') {
      ++p;
      continue;
    }
    const char* end = strchr(p, ':');
    if (!end) end = p + strlen(p);
    if (count == 3 || !read_number(p, end, fields[count])) return false;
    ++count;
    p = end;
  }
  if (count != 3) return false;
  // Outside these the plan gives no valid address.
  if (fields[0] < kFirstNode || fields[0] > kLastNode || fields[1] > 255) return false;
  out = {fields[0], fields[1], fields[2]};
  return true;
}

void set_nodeid(const char* reply) { g_last_stored = store_identity(reply); }

bool last_nodeid_stored() { return g_last_stored; }

int get_nodeid(const char* mac) {
  int sock = ConnectHost(kBuiltInDashboard.host, kBuiltInDashboard.fallback_ip);
  if (sock < 0) return -1;
  FixedText<50> encoded;
  b64_encode(mac, encoded);
  FixedText<100> path;
  nodeid_path(encoded, path);
  g_last_stored = false;
  if (process_http(sock, kBuiltInDashboard.host, path, kNodeIdReply, set_nodeid) != 0) return 1;
  return g_last_stored ? 0 : 1;
}

int config_nodeid() {
  FixedText<256> stored;
  if (get_config("uci get node.status.id", stored) == 0) {
    int id = atoi(stored);
    if (id != 0) return id;
  }
  FixedText<18> mac;
  // Without its MAC the dashboard cannot tell this node from another one.
  if (get_mac("eth0", mac) != 0 || mac.empty()) {
    out_line("No MAC address on eth0: node id not requested");
    return -1;
  }
  return get_nodeid(mac);
}
