// The scan backend's generic netlink link: one socket with the "nl80211"
// and "nlctrl" families, made on first use and kept until nl80211_close;
// requests, their exchange, and the wait for an nl80211 event.
#pragma once

#include <cstdint>

struct nl_cb;
struct nl_msg;
struct nl_sock;

using NlHandler = int (*)(nl_msg* msg, void* arg);

// Connects once: 0, or a negative errno (ENOLINK, EINVAL, ENOMEM, ENOENT)
// after releasing what was made.
int nl80211_connect();
// Releases the families, the socket and the cache.
void nl80211_close();

// True for "phyN" and "radioN" (N decimal), with N in *index.
bool parse_radio_index(const char* name, int* index);

struct Nl80211Request {
  nl_msg* msg = nullptr;
  nl_cb* cb = nullptr;
};
// A request of cmd for a radio ("phyN", "radioN": NL80211_ATTR_WIPHY) or an
// interface (NL80211_ATTR_IFINDEX; a leading "mon." skipped), connecting
// first if needed. False without a link, for an unknown interface, or
// without memory.
bool nl80211_build_request(const char* name, int cmd, int flags, Nl80211Request& req);
void nl80211_free_request(Nl80211Request& req);
// The target attribute alone: 0 or a negative library error.
int nl80211_put_target(nl_msg* msg, const char* name);

struct TransactResult {
  bool sent;
  int error;  // 0, the kernel's negative errno, or a negative library error
};
// Sends req and receives until the kernel's error, the end of a dump or
// the acknowledgement; handler (or one that skips) sees each valid reply.
// The request is released in every case.
TransactResult nl80211_transact(Nl80211Request& req, NlHandler handler, void* arg);

// How long the scan-complete event is awaited before the dump is read
// anyway: a full scan of both bands takes a few seconds, and a radio that
// never reports one must not stall the channel search.
constexpr int kScanEventWaitMs = 10000;

// Joins the nl80211 multicast group and waits, bounded, for
// NL80211_CMD_NEW_SCAN_RESULTS from any interface. 1 when it came, 0 when
// the wait ran out or the group is unknown, negative on errors.
int nl80211_await_event(const char* group);

// The radio name ("phy0") of an interface or radio, or nullptr.
const char* ifname_to_phy(const char* ifname);

// The pieces on any generic netlink socket (tests use the kernel's own
// controller family, which exists on every Linux).
TransactResult genl_transact(nl_sock* sock, nl_msg* msg, nl_cb* cb, NlHandler handler, void* arg);
// The id of a family's multicast group, or a negative value.
int genl_multicast_group(nl_sock* sock, int ctrl_family, const char* family, const char* group);
// Receives, with sequence checks off, until a message of generic netlink
// command cmd arrives or timeout_ms passes: 1, 0, or negative on errors.
int await_genl_command(nl_sock* sock, uint8_t cmd, int timeout_ms);

// Valid-message handlers, exposed for tests.
struct GroupQuery {
  const char* name;
  int id;  // -ENOENT until found
};
int multicast_group_handler(nl_msg* msg, void* arg);
struct EventWait {
  uint8_t cmd;
  bool seen;
};
int event_handler(nl_msg* msg, void* arg);
// arg: a 32-byte text.
int phy_name_handler(nl_msg* msg, void* arg);
