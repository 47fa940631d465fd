#include "lonely/nl80211_link.h"

#include <fcntl.h>
#include <linux/genetlink.h>
#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/family.h>
#include <netlink/genl/genl.h>
#include <netlink/handlers.h>
#include <netlink/msg.h>
#include <netlink/socket.h>
#include <poll.h>
#include <time.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "common/nl_attrs.h"
#include "common/signals.h"
#include "common/text.h"

namespace {

struct Link {
  nl_sock* sock = nullptr;
  nl_cache* cache = nullptr;
  genl_family* nl80211 = nullptr;
  genl_family* nlctrl = nullptr;
};
Link g_link;

// The kernel answers a request at once; the bound only keeps a lost reply
// from stalling the search.
constexpr int kReplyWaitMs = 5000;

int skip_handler(nl_msg*, void*) { return NL_SKIP; }
int no_seq_check(nl_msg*, void*) { return NL_OK; }

int error_handler(sockaddr_nl*, nlmsgerr* err, void* arg) {
  *static_cast<int*>(arg) = err->error;
  return NL_STOP;
}
int finish_handler(nl_msg*, void* arg) {
  *static_cast<int*>(arg) = 0;
  return NL_SKIP;
}
int ack_handler(nl_msg*, void* arg) {
  *static_cast<int*>(arg) = 0;
  return NL_STOP;
}
int wait_error_handler(sockaddr_nl*, nlmsgerr*, void*) { return NL_STOP; }

int connect_failed(int error) {
  nl80211_close();
  return error;
}

// Reads what is already queued on the socket and drops it: events that came
// in after the awaited one would break the sequence of the next exchange.
void drain(nl_sock* sock) {
  nl_cb* cb = nl_cb_alloc(NL_CB_DEFAULT);
  if (!cb) return;
  nl_cb_set(cb, NL_CB_SEQ_CHECK, NL_CB_CUSTOM, no_seq_check, nullptr);
  nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, skip_handler, nullptr);
  int fd = nl_socket_get_fd(sock);
  while (wait_fd(fd, POLLIN, 0) > 0 && nl_recvmsgs(sock, cb) >= 0) {
  }
  nl_cb_put(cb);
}

}  // namespace

int nl80211_connect() {
  if (g_link.sock) return 0;
  g_link.sock = nl_socket_alloc();
  if (!g_link.sock) return connect_failed(-ENOMEM);
  if (genl_connect(g_link.sock) != 0) return connect_failed(-ENOLINK);
  int fd = nl_socket_get_fd(g_link.sock);
  if (fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC) < 0) return connect_failed(-EINVAL);
  if (genl_ctrl_alloc_cache(g_link.sock, &g_link.cache) != 0) return connect_failed(-ENOMEM);
  g_link.nl80211 = genl_ctrl_search_by_name(g_link.cache, "nl80211");
  if (!g_link.nl80211) return connect_failed(-ENOENT);
  g_link.nlctrl = genl_ctrl_search_by_name(g_link.cache, "nlctrl");
  if (!g_link.nlctrl) return connect_failed(-ENOENT);
  return 0;
}

void nl80211_close() {
  if (g_link.nl80211) genl_family_put(g_link.nl80211);
  if (g_link.nlctrl) genl_family_put(g_link.nlctrl);
  if (g_link.sock) nl_socket_free(g_link.sock);
  if (g_link.cache) nl_cache_free(g_link.cache);
  g_link = Link();
}

bool parse_radio_index(const char* name, int* index) {
  const char* digits = nullptr;
  if (strncmp(name, "phy", 3) == 0) {
    digits = name + 3;
  } else if (strncmp(name, "radio", 5) == 0) {
    digits = name + 5;
  } else {
    return false;
  }
  if (!*digits) return false;
  int n = 0;
  for (const char* p = digits; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    int digit = *p - '0';
    if (n > (INT_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *index = n;
  return true;
}

int nl80211_put_target(nl_msg* msg, const char* name) {
  int radio;
  if (parse_radio_index(name, &radio)) return nla_put_u32(msg, NL80211_ATTR_WIPHY, static_cast<uint32_t>(radio));
  if (strncmp(name, "mon.", 4) == 0) name += 4;
  unsigned index = if_nametoindex(name);
  if (index == 0) return -NLE_OBJ_NOTFOUND;
  return nla_put_u32(msg, NL80211_ATTR_IFINDEX, index);
}

bool nl80211_build_request(const char* name, int cmd, int flags, Nl80211Request& req) {
  req = Nl80211Request();
  if (nl80211_connect() < 0) return false;
  req.msg = nlmsg_alloc();
  req.cb = nl_cb_alloc(NL_CB_DEFAULT);
  if (!req.msg || !req.cb ||
      !genlmsg_put(req.msg, NL_AUTO_PORT, NL_AUTO_SEQ, static_cast<int>(genl_family_get_id(g_link.nl80211)), 0, flags,
                   static_cast<uint8_t>(cmd), 0) ||
      nl80211_put_target(req.msg, name) < 0) {
    nl80211_free_request(req);
    return false;
  }
  return true;
}

void nl80211_free_request(Nl80211Request& req) {
  if (req.msg) nlmsg_free(req.msg);
  if (req.cb) nl_cb_put(req.cb);
  req = Nl80211Request();
}

TransactResult genl_transact(nl_sock* sock, nl_msg* msg, nl_cb* cb, NlHandler handler, void* arg) {
  TransactResult result = {false, 0};
  nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, handler ? handler : skip_handler, arg);
  if (nl_send_auto_complete(sock, msg) >= 0) {
    result.sent = true;
    int status = 1;
    nl_cb_err(cb, NL_CB_CUSTOM, error_handler, &status);
    nl_cb_set(cb, NL_CB_FINISH, NL_CB_CUSTOM, finish_handler, &status);
    nl_cb_set(cb, NL_CB_ACK, NL_CB_CUSTOM, ack_handler, &status);
    int fd = nl_socket_get_fd(sock);
    while (status > 0) {
      if (wait_fd(fd, POLLIN, kReplyWaitMs) <= 0) {
        status = -ETIMEDOUT;
        break;
      }
      int rc = nl_recvmsgs(sock, cb);
      // A receive error ends the exchange instead of spinning on it.
      if (rc < 0 && status > 0) status = rc;
    }
    result.error = status;
  }
  nlmsg_free(msg);
  nl_cb_put(cb);
  return result;
}

TransactResult nl80211_transact(Nl80211Request& req, NlHandler handler, void* arg) {
  TransactResult r = genl_transact(g_link.sock, req.msg, req.cb, handler, arg);
  req = Nl80211Request();
  return r;
}

int multicast_group_handler(nl_msg* msg, void* arg) {
  GroupQuery& q = *static_cast<GroupQuery*>(arg);
  static const NlPolicy<CTRL_ATTR_MCAST_GROUPS> top =
      NlPolicy<CTRL_ATTR_MCAST_GROUPS>().set(CTRL_ATTR_MCAST_GROUPS, NLA_NESTED);
  static const NlPolicy<CTRL_ATTR_MCAST_GRP_ID> group =
      NlPolicy<CTRL_ATTR_MCAST_GRP_ID>().set(CTRL_ATTR_MCAST_GRP_NAME, NLA_STRING).set(CTRL_ATTR_MCAST_GRP_ID, NLA_U32);
  genlmsghdr* gnlh = genl_header(msg);
  nlattr* tb[CTRL_ATTR_MCAST_GROUPS + 1];
  if (!gnlh ||
      parse_attributes(tb, CTRL_ATTR_MCAST_GROUPS, genlmsg_attrdata(gnlh, 0), genlmsg_attrlen(gnlh, 0), top.rules) <
          0 ||
      !tb[CTRL_ATTR_MCAST_GROUPS] || !nested_list_ok(tb[CTRL_ATTR_MCAST_GROUPS], 0)) {
    return NL_SKIP;
  }
  nlattr* entry;
  int rem;
  nla_for_each_nested(entry, tb[CTRL_ATTR_MCAST_GROUPS], rem) {
    nlattr* g[CTRL_ATTR_MCAST_GRP_ID + 1];
    if (parse_nested(g, CTRL_ATTR_MCAST_GRP_ID, entry, group.rules) < 0) continue;
    if (!g[CTRL_ATTR_MCAST_GRP_NAME] || !g[CTRL_ATTR_MCAST_GRP_ID]) continue;
    if (strcmp(static_cast<const char*>(nla_data(g[CTRL_ATTR_MCAST_GRP_NAME])), q.name) == 0) {
      q.id = static_cast<int>(nla_get_u32(g[CTRL_ATTR_MCAST_GRP_ID]));
      break;
    }
  }
  return NL_SKIP;
}

int genl_multicast_group(nl_sock* sock, int ctrl_family, const char* family, const char* group) {
  GroupQuery q = {group, -ENOENT};
  nl_msg* msg = nlmsg_alloc();
  nl_cb* cb = nl_cb_alloc(NL_CB_DEFAULT);
  if (!msg || !cb || !genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, ctrl_family, 0, 0, CTRL_CMD_GETFAMILY, 0) ||
      nla_put_string(msg, CTRL_ATTR_FAMILY_NAME, family) < 0) {
    if (msg) nlmsg_free(msg);
    if (cb) nl_cb_put(cb);
    return -ENOMEM;
  }
  genl_transact(sock, msg, cb, multicast_group_handler, &q);
  return q.id;
}

int event_handler(nl_msg* msg, void* arg) {
  EventWait& w = *static_cast<EventWait*>(arg);
  genlmsghdr* gnlh = genl_header(msg);
  if (gnlh && gnlh->cmd == w.cmd) {
    w.seen = true;
    return NL_STOP;
  }
  return NL_SKIP;
}

int await_genl_command(nl_sock* sock, uint8_t cmd, int timeout_ms) {
  nl_cb* cb = nl_cb_alloc(NL_CB_DEFAULT);
  if (!cb) return -ENOMEM;
  EventWait w = {cmd, false};
  nl_cb_set(cb, NL_CB_SEQ_CHECK, NL_CB_CUSTOM, no_seq_check, nullptr);
  nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, event_handler, &w);
  nl_cb_err(cb, NL_CB_CUSTOM, wait_error_handler, nullptr);
  int fd = nl_socket_get_fd(sock);
  int64_t deadline = monotonic_ms() + timeout_ms;
  int result = 0;
  while (!w.seen) {
    int64_t left = deadline - monotonic_ms();
    if (left <= 0) break;
    int ready = wait_fd(fd, POLLIN, static_cast<int>(left));
    if (ready <= 0) {
      if (ready < 0) result = -errno;
      break;
    }
    int rc = nl_recvmsgs(sock, cb);
    if (rc < 0) {
      result = rc;
      break;
    }
  }
  nl_cb_put(cb);
  return w.seen ? 1 : result;
}

int nl80211_await_event(const char* group) {
  if (nl80211_connect() < 0) return -ENOLINK;
  int id = genl_multicast_group(g_link.sock, static_cast<int>(genl_family_get_id(g_link.nlctrl)), "nl80211", group);
  if (id < 0) return 0;
  if (nl_socket_add_memberships(g_link.sock, id, 0) < 0) return 0;
  int r = await_genl_command(g_link.sock, NL80211_CMD_NEW_SCAN_RESULTS, kScanEventWaitMs);
  nl_socket_drop_memberships(g_link.sock, id, 0);
  drain(g_link.sock);
  return r;
}

int phy_name_handler(nl_msg* msg, void* arg) {
  static const NlPolicy<NL80211_ATTR_WIPHY_NAME> policy =
      NlPolicy<NL80211_ATTR_WIPHY_NAME>().set(NL80211_ATTR_WIPHY_NAME, NLA_STRING);
  FixedText<32>& phy = *static_cast<FixedText<32>*>(arg);
  genlmsghdr* gnlh = genl_header(msg);
  nlattr* tb[NL80211_ATTR_WIPHY_NAME + 1];
  if (gnlh &&
      parse_attributes(tb, NL80211_ATTR_WIPHY_NAME, genlmsg_attrdata(gnlh, 0), genlmsg_attrlen(gnlh, 0),
                       policy.rules) == 0 &&
      tb[NL80211_ATTR_WIPHY_NAME]) {
    phy.set(static_cast<const char*>(nla_data(tb[NL80211_ATTR_WIPHY_NAME])));
  }
  return NL_SKIP;
}

const char* ifname_to_phy(const char* ifname) {
  static FixedText<32> phy;
  phy.clear();
  Nl80211Request req;
  if (nl80211_build_request(ifname, NL80211_CMD_GET_WIPHY, 0, req)) nl80211_transact(req, phy_name_handler, &phy);
  return phy.empty() ? nullptr : phy.c_str();
}
