// The readers of dashboard replies over a socket pair, whose far end sends
// the fuzzer's bytes and closes: the paced reader (controller and ifcounter
// forms), process_http in both modes, the watchdog's check, the voucher
// answer and the custom script download. Each stays inside its area and
// keeps its text terminated; the script written is exactly the reply's
// script.
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/process_http.h"
#include "common/reply_reader.h"
#include "common/transport.h"
#include "controller/settings/custom_script.h"
#include "fuzz/fuzz_support.h"
#include "vouchercheck/voucher.h"
#include "watchdog/checks.h"

namespace {

size_t g_payload_len = 0;
bool g_payload_seen = false;
void take_payload(const char* payload) {
  g_payload_seen = true;
  g_payload_len = strlen(payload);
}

// The reader's end of a pair whose other end has sent `reply` and closed.
int replying_socket(const std::string& reply, int& peer) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return -1;
  for (size_t sent = 0; sent < reply.size();) {
    ssize_t n = send(fds[1], reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(fds[1], SHUT_WR);
  peer = fds[1];
  return fds[0];
}

void check_paced(int sock, ReplyForm form) {
  char buffer[4096];
  memset(buffer, 0x7f, sizeof(buffer));
  int n = read_dashboard_reply(sock, buffer, sizeof(buffer), form);
  FUZZ_CHECK(n >= -1 && n < static_cast<int>(sizeof(buffer)));
  if (n < 0) return;
  FUZZ_CHECK(buffer[n] == '\0');
  const char* payload = reply_payload(buffer, static_cast<size_t>(n));
  if (payload) FUZZ_CHECK(payload >= buffer + 3 && payload <= buffer + n);
}

// True when the reply's head (read as text, in its first 2047 bytes)
// announces a Content-Length beyond the bytes that followed it.
bool announced_more(const std::string& reply) {
  std::string text = reply.substr(0, 2047).c_str();
  size_t end = text.find("\r\n\r\n");
  size_t head_len = end == std::string::npos ? std::string::npos : end + 4;
  if (end == std::string::npos) {
    end = text.find("\n\n");
    if (end == std::string::npos) return false;
    head_len = end + 2;
  }
  std::string head = text.substr(0, head_len);
  if (head.compare(0, 5, "HTTP/") != 0) return false;
  for (size_t line = head.find('\n'); line != std::string::npos; line = head.find('\n', line + 1)) {
    if (strncasecmp(head.c_str() + line + 1, "Content-Length:", 15) != 0) continue;
    size_t digits = head.find_first_not_of(" \t", line + 16);
    if (digits == std::string::npos || !isdigit(static_cast<unsigned char>(head[digits]))) return false;
    long long v = strtoll(head.c_str() + digits, nullptr, 10);
    return reply.size() - head_len < static_cast<unsigned long long>(v);
  }
  return false;
}

void check_script(FakeHost& h, int sock, const std::string& reply) {
  h.remove(kCustomScriptFile);
  int result = fetch_custom_script(sock, "scripts.example", "/dir/custom.sh");
  // The whole reply came in one piece: the script starts at its first "#",
  // and is kept only when the head announced no more than arrived.
  size_t hash = reply.find('#');
  bool has_script = hash != std::string::npos && reply.compare(hash, 4, "#!/b") == 0 && !announced_more(reply);
  FUZZ_CHECK(result == (has_script ? 0 : 1));
  FUZZ_CHECK(h.exists(kCustomScriptFile) == has_script);
  if (has_script) FUZZ_CHECK(h.read(kCustomScriptFile) == reply.substr(hash));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  dashboard_link().reply_timeout = 2;  // the far end has always closed: nothing waits this long
  FuzzInput in(data, size);
  int reader = in.byte() % 7;
  std::string reply = in.rest();
  int peer = -1;
  int sock = replying_socket(reply, peer);
  if (sock < 0) return 0;
  switch (reader) {
    case 0:
      check_paced(sock, ReplyForm::kController);
      break;
    case 1:
      check_paced(sock, ReplyForm::kIfcounter);
      break;
    case 2:
      FUZZ_CHECK(process_http(sock, "dash.test", "/serverping.php?fw=QX", kReplyCheck) <= 1);
      break;
    case 3:
      g_payload_seen = false;
      FUZZ_CHECK(process_http(sock, "dash.test", "/nodeid.php?hw=QX&mac=x", kNodeIdReply, take_payload) == 0);
      FUZZ_CHECK(g_payload_seen && g_payload_len < 5013);
      break;
    case 4:
      FUZZ_CHECK(process_http_watchdog(sock, "dash.test", "/serverping.php?fw=QX") <= 1);
      break;
    case 5:
      validate_voucher(sock, "voucher=x&mac=y&network=z", "dash.test");
      close(sock);
      break;
    default:
      check_script(h, sock, reply);
      close(sock);
      break;
  }
  close(peer);
  return 0;
}
