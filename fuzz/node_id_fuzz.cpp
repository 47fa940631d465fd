// The node id reply, handed to set_nodeid directly or through process_http's
// node-id mode over a socket pair: a reply of three decimal numbers within
// the address plan stores exactly those numbers and their addresses; any
// other reply runs nothing at all.
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/process_http.h"
#include "common/transport.h"
#include "fuzz/fuzz_support.h"
#include "mesh/node_identity.h"

namespace {

// The commands a reply must lead to, worked out apart from the parser:
// none for a reply that is not "id:switch:nodeid", three numbers of up to
// nine digits.
std::vector<std::string> plan_for(const std::string& reply) {
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = 0; i <= reply.size(); ++i) {
    if (i == reply.size() || reply[i] == ':') {
      if (!field.empty()) fields.push_back(field);
      field.clear();
    } else {
      field += reply[i];
    }
  }
  if (fields.size() != 3) return {};
  // A dashboard's padding around a number, and a plus sign, are understood.
  const char* blanks = " \t\n\v\f\r";
  for (std::string& f : fields) {
    size_t first = f.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    f = f.substr(first, f.find_last_not_of(blanks) - first + 1);
    if (f[0] == '+') f.erase(0, 1);
    if (f.empty() || f.size() > 9 || f.find_first_not_of("0123456789") != std::string::npos) return {};
  }
  long id = std::stol(fields[0]);
  long sw = std::stol(fields[1]);
  long nodeid = std::stol(fields[2]);
  if (id < 1 || id > 21 || sw > 255) return {};
  std::vector<std::string> out = {"uci set node.status.id=" + std::to_string(id),
                                  "uci set node.status.switch=" + std::to_string(sw),
                                  "uci set node.status.nodeid=" + std::to_string(nodeid), "uci commit node"};
  const char* sections[] = {"pub", "priv", "mesh"};
  for (int k = 0; k < 3; ++k) {
    std::string s = sections[k];
    out.push_back("uci set dhcp." + s + ".ipaddr=10." + std::to_string(sw) + "." +
                  std::to_string(12 * (id - 1) + 4 * k) + ".1;uci set dhcp." + s + ".netmask=255.255.252.0");
  }
  out.push_back("uci commit dhcp");
  return out;
}

// What the reader hands on, worked out apart from it: the text (up to a NUL
// or the 5012 bytes the reply area holds), after "#@#" when the first "#"
// starts that marker, less one final "\n" and then one "\r". A lone final
// "\r", or the first of two line ends, stays.
std::string payload_of(const std::string& bytes) {
  std::string text = bytes.substr(0, 5012).c_str();
  size_t hash = text.find('#');
  if (hash != std::string::npos && text.compare(hash, 3, "#@#") == 0) text.erase(0, hash + 3);
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

std::string g_payload;
bool g_payload_seen = false;

void take_reply(const char* payload) {
  g_payload_seen = true;
  g_payload = payload;
  set_nodeid(payload);
}

void check_stored(FakeHost& h, const std::string& reply) {
  std::vector<std::string> plan = plan_for(reply);
  FUZZ_CHECK(h.commands == plan);
  FUZZ_CHECK(last_nodeid_stored() == !plan.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  dashboard_link().reply_timeout = 2;  // the far end has always closed: nothing waits this long
  FuzzInput in(data, size);
  bool over_socket = in.byte() & 1;
  std::string bytes = in.rest();

  if (!over_socket) {
    std::string reply = bytes.c_str();  // as a C text, up to its first NUL
    set_nodeid(reply.c_str());
    check_stored(h, reply);
    return 0;
  }
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t n = send(fds[1], bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(fds[1], SHUT_WR);
  g_payload_seen = false;
  g_payload.clear();
  FUZZ_CHECK(process_http(fds[0], "dash.test", "/nodeid.php?hw=QX&mac=MDA6MUE6MkI6M0M6NEQ6NUU=", kNodeIdReply,
                          take_reply) == 0);
  close(fds[1]);
  FUZZ_CHECK(g_payload_seen);
  FUZZ_CHECK(g_payload == payload_of(bytes));
  check_stored(h, g_payload);
  return 0;
}
