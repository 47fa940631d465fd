#include "common/station_dump.h"

#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/errno.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/handlers.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>
#include <syslog.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/nl_attrs.h"
#include "common/output.h"
#include "common/station_format.h"

station_nl_state station_state;
NeighbourList neighbour_macs;
NeighbourList neighbour_signals;
FixedText<64> chain_signal_text;

namespace {

constexpr int kTopMaxType = 206;
constexpr int kSocketBufferSize = 8192;
constexpr int kCallbackSize = 4;  // what the freeing messages report

// One message of the dump: a log line for clientscout, a line on standard
// output for the controller. Nothing for a nullptr text.
void say(const StationDumpOptions& o, int priority, const char* fmt, ...) {
  if (!fmt) return;
  FixedText<256> text;
  va_list ap;
  va_start(ap, fmt);
  // Some formats are the program row's own constant texts, not literals here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  format_text(text.data(), text.capacity(), fmt, ap);
#pragma GCC diagnostic pop
  va_end(ap);
  if (!o.to_stdout) {
    log_printf(priority, "%s", text.c_str());
    return;
  }
  size_t n = text.size();
  out_printf(n > 0 && text.c_str()[n - 1] == '\n' ? "%s" : "%s\n", text.c_str());
}

// The top-level attributes read here are held to their sizes (a MAC of six
// bytes, a 4-byte index) so that a short one is refused, never read past.
const NlPolicy<kTopMaxType>& top_policy() {
  static const NlPolicy<kTopMaxType> p = NlPolicy<kTopMaxType>()
                                             .set(NL80211_ATTR_IFINDEX, NLA_U32)
                                             .set(NL80211_ATTR_MAC, NLA_UNSPEC, 6)
                                             .set(NL80211_ATTR_STA_INFO, NLA_NESTED);
  return p;
}

// Appends an entry to a neighbour list only when it fits whole.
bool append_entry(NeighbourList& list, const char* entry) {
  size_t need = strlen(entry) + (list.empty() ? 0 : 1);
  if (list.size() + need >= list.capacity()) return false;
  if (!list.empty()) list.append(";");
  list.append(entry);
  return true;
}

void add_neighbour(const StationMacText& mac, nlattr* const sta[]) {
  StationMacText upper(mac.c_str());
  for (char* p = upper.data(); *p; ++p) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  // A station whose MAC no longer fits adds no signal either, so the two
  // lists stay in step.
  if (!append_entry(neighbour_macs, upper.c_str())) return;
  if (sta[NL80211_STA_INFO_SIGNAL_AVG]) {
    FixedText<8> signal;
    signal.format("%d", static_cast<int8_t>(nla_get_u8(sta[NL80211_STA_INFO_SIGNAL_AVG])));
    append_entry(neighbour_signals, signal.c_str());
  }
}

// Releases the socket after a failed set-up step.
int setup_failed(station_nl_state& st, const StationDumpOptions& o, const char* message) {
  say(o, LOG_ERR, message);
  say(o, LOG_ERR, o.handle_destroyed);
  nl_socket_free(st.sock);
  st.sock = nullptr;
  return 1;
}

}  // namespace

int dump_error_handler(sockaddr_nl* from, nlmsgerr* err, void* arg) {
  (void)from;
  *static_cast<int*>(arg) = err->error;
  return NL_STOP;
}

int dump_ack_handler(nl_msg* msg, void* arg) {
  (void)msg;
  int* status = static_cast<int*>(arg);
  out_printf("Ack Handler received: %d\n", *status);
  *status = 0;
  return NL_SKIP;
}

int dump_finish_handler(nl_msg* msg, void* arg) {
  (void)msg;
  int* status = static_cast<int*>(arg);
  out_printf("Finish handler ret val: %d\n", *status);
  *status = 0;
  return NL_SKIP;
}

int station_handler(nl_msg* msg, void* arg) {
  const StationDumpOptions& o = *static_cast<const StationDumpOptions*>(arg);
  genlmsghdr* gnlh = genl_header(msg);
  nlattr* tb[kTopMaxType + 1];
  // A reply that does not parse is skipped rather than read in part.
  if (!gnlh ||
      parse_attributes(tb, kTopMaxType, genlmsg_attrdata(gnlh, 0), genlmsg_attrlen(gnlh, 0), top_policy().rules) < 0) {
    out_line("Failed to run parse table");
    return NL_SKIP;
  }
  if (!tb[NL80211_ATTR_STA_INFO]) {
    err_printf("sta stats missing!\n");
    return NL_SKIP;
  }
  nlattr* sta[kStationInfoMaxType + 1];
  if (parse_station_info(sta, tb[NL80211_ATTR_STA_INFO]) < 0) {
    err_printf("failed to parse nested attributes!\n");
    return NL_SKIP;
  }
  if (!tb[NL80211_ATTR_MAC]) return NL_SKIP;  // a station without an address says nothing

  StationMacText mac;
  format_station_mac(mac, static_cast<const unsigned char*>(nla_data(tb[NL80211_ATTR_MAC])));
  char ifname[IF_NAMESIZE + 1] = {0};
  if (tb[NL80211_ATTR_IFINDEX]) if_indextoname(nla_get_u32(tb[NL80211_ATTR_IFINDEX]), ifname);

  chain_signal_text.clear();
  if (sta[NL80211_STA_INFO_CHAIN_SIGNAL_AVG] &&
      !format_chain_signal(sta[NL80211_STA_INFO_CHAIN_SIGNAL_AVG], chain_signal_text)) {
    err_printf("failed to parse nested attributes!\n");
    return NL_SKIP;
  }

  if (o.neighbour_lists) {
    add_neighbour(mac, sta);
    return NL_SKIP;
  }
  log_printf(LOG_DEBUG, "Station %s (on %s)", mac.c_str(), ifname);
  ClientRecordText record;
  format_client_record(mac.c_str(), sta, chain_signal_text.c_str(), record);
  append_client_record(record.c_str());
  return NL_SKIP;
}

int station_socket_setup(station_nl_state& st, const StationDumpOptions& o) {
  st.sock = nl_socket_alloc();
  if (!st.sock) {
    say(o, LOG_ERR, o.alloc_failed);
    return 1;
  }
  say(o, LOG_DEBUG, o.alloc_done);
  nl_socket_set_buffer_size(st.sock, kSocketBufferSize, kSocketBufferSize);
  if (genl_connect(st.sock) != 0) return setup_failed(st, o, o.connect_failed);
  say(o, LOG_DEBUG, o.connected);
  st.id = genl_ctrl_resolve(st.sock, "nl80211");
  if (st.id < 0) return setup_failed(st, o, o.not_found);
  say(o, LOG_DEBUG, o.family_id, st.id);
  return 0;
}

void station_nl_init(const StationDumpOptions& opts) {
  if (station_socket_setup(station_state, opts) != 0) {
    out_line("Failed to initialize the nl80211");
    exit(1);
  }
  int rc = nl_socket_set_nonblocking(station_state.sock);
  if (rc != 0) {
    out_printf("nl_socket_set_nonblocking returns %d\n", rc);
    exit(1);
  }
}

DumpOutcome dump_stations(station_nl_state& st, const char* ifname, const StationDumpOptions& o) {
  unsigned index = if_nametoindex(ifname);  // 0: the kernel answers with an error
  say(o, LOG_DEBUG, "Interface - %s on Index: %lld", ifname, static_cast<long long>(index));

  nl_msg* msg = nlmsg_alloc();
  if (!msg) {
    say(o, LOG_ERR, "Failed to allocate netlink message");
    return {DumpEnd::kNoMessage, 2};
  }
  say(o, LOG_DEBUG, "Allocated netlink message");

  int status = 0;
  nl_cb* r_cb = nl_cb_alloc(NL_CB_DEBUG);
  nl_cb* s_cb = nl_cb_alloc(NL_CB_DEBUG);
  if (!r_cb || !s_cb) {
    say(o, LOG_ERR, "Failed to allocate the callbacks");
    status = 2;
  } else {
    say(o, LOG_DEBUG, "Allocated netlink callback");
    if (o.neighbour_lists) {
      neighbour_macs.clear();
      neighbour_signals.clear();
    }
    if (genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, st.id, 0, NLM_F_DUMP, NL80211_CMD_GET_STATION, 0)) {
      say(o, LOG_DEBUG, o.header_set);
    } else {
      say(o, LOG_ERR, o.header_failed);
    }
    if (nla_put_u32(msg, NL80211_ATTR_IFINDEX, index) < 0) {
      out_printf("Free callback: sizeof s_cb:%d\n", kCallbackSize);
      nlmsg_free(msg);
      nl_cb_put(r_cb);
      nl_cb_put(s_cb);
      return {DumpEnd::kBuildFailed, 0};
    }
    nl_socket_set_cb(st.sock, s_cb);
    int sent = nl_send_auto_complete(st.sock, msg);
    if (sent < 0) {
      if (o.report_send_failure) {
        say(o, LOG_ERR, "Failed to send netlink message:%s", strerror(errno));
        say(o, LOG_ERR, "send failed %d, %s", sent, nl_geterror(sent));
      }
      status = sent;
    } else {
      say(o, LOG_DEBUG, "Netlink message set");
      status = 1;
      nl_cb_err(r_cb, NL_CB_CUSTOM, dump_error_handler, &status);
      nl_cb_set(r_cb, NL_CB_ACK, NL_CB_CUSTOM, dump_ack_handler, &status);
      nl_cb_set(r_cb, NL_CB_FINISH, NL_CB_CUSTOM, dump_finish_handler, &status);
      nl_cb_set(r_cb, NL_CB_VALID, NL_CB_CUSTOM, station_handler, const_cast<StationDumpOptions*>(&o));
      // The socket is non-blocking: a receive that finds nothing ends the loop.
      while (status > 0) {
        out_line("Reading message");
        status = nl_recvmsgs(st.sock, r_cb);
        say(o, LOG_DEBUG, "nl_recvmsgs returns %d\n", status);
      }
      out_line("Message received ");
    }
  }

  if (r_cb && s_cb) {
    out_printf("Freeing callback:sizeo of r_cb:%d \n", kCallbackSize);
    nl_cb_put(r_cb);
  } else if (r_cb) {
    nl_cb_put(r_cb);
  }
  out_printf("Freeing msg: Sizeof msg :%d\n", kCallbackSize);
  if (o.before_msg_free) out_line(o.before_msg_free);
  nlmsg_free(msg);
  if (s_cb) {
    out_printf("Free callback: sizeof s_cb:%d\n", kCallbackSize);
    if (o.before_socket_set_free) out_line(o.before_socket_set_free);
    nl_cb_put(s_cb);
  }
  return {DumpEnd::kDone, status};
}

int station_dump(const char* ifname, const StationDumpOptions& opts) {
  DumpOutcome d = dump_stations(station_state, ifname, opts);
  return d.end == DumpEnd::kNoMessage ? 2 : 0;
}

int neighbour_dump(const char* ifname, const StationDumpOptions& opts) {
  station_nl_state state;
  if (station_socket_setup(state, opts) != 0) return 1;
  int rc = nl_socket_set_nonblocking(state.sock);
  out_printf("Address of nlstate %p\n", static_cast<void*>(&state));
  out_printf("nl_socket_set_nonblocking returns %d\n", rc);

  DumpOutcome d = dump_stations(state, ifname, opts);
  switch (d.end) {
    case DumpEnd::kNoMessage:
      nl_socket_free(state.sock);
      return 2;
    case DumpEnd::kBuildFailed:
      nl_socket_free(state.sock);
      out_line("Building messae failed");
      return 2;
    case DumpEnd::kDone:
      break;
  }
  out_line("Freeing nlstat");
  out_printf("Address of nlstate %p\n", static_cast<void*>(&state));
  nl_socket_free(state.sock);
  return d.status;
}

void WifiKernel::station_init() { station_nl_init(dump_); }

int WifiKernel::station_dump(const char* ifname) { return ::station_dump(ifname, dump_); }

int WifiKernel::neighbour_dump(const char* ifname, NeighbourList& macs, NeighbourList& signals) {
  int rc = ::neighbour_dump(ifname, dump_);
  macs = neighbour_macs;
  signals = neighbour_signals;
  return rc;
}
