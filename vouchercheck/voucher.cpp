#include "vouchercheck/voucher.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "common/framing.h"
#include "common/host.h"
#include "common/output.h"
#include "common/reply_reader.h"
#include "common/runner.h"
#include "common/transport.h"
#include "vouchercheck/program.h"

namespace {

constexpr size_t kAnswerLimit = 64 * 1024;

bool unreserved(unsigned char c, const char* keep) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  if (c == '-' || c == '.' || c == '_' || c == '~') return true;
  return c != '\0' && strchr(keep, c) != nullptr;
}

// Prints a voucher reply as it comes in, whatever its pieces: the answer
// starts after the first "#" and the two characters behind it.
class AnswerPrinter {
 public:
  // `piece` holds len received bytes and a terminator behind them.
  void feed(const char* piece, size_t len) {
    size_t i = 0;
    if (!found_) {
      const char* hash = static_cast<const char*>(memchr(piece, '#', len));
      if (!hash) return;
      found_ = true;
      i = static_cast<size_t>(hash - piece) + 1;
    }
    while (skip_ > 0 && i < len) {
      ++i;
      --skip_;
    }
    if (skip_ == 0 && i < len) host().out(piece + i);
  }

 private:
  bool found_ = false;
  int skip_ = 2;
};

}  // namespace

bool percent_encode(const char* value, const char* keep, char* out, size_t cap) {
  static const char kHex[] = "0123456789ABCDEF";
  if (cap == 0) return false;
  size_t used = 0;
  out[0] = '\0';
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; ++p) {
    bool plain = unreserved(*p, keep);
    size_t need = plain ? 1 : 3;
    if (used + need >= cap) return false;
    if (plain) {
      out[used++] = static_cast<char>(*p);
    } else {
      out[used++] = '%';
      out[used++] = kHex[*p >> 4];
      out[used++] = kHex[*p & 0x0f];
    }
    out[used] = '\0';
  }
  return true;
}

bool build_voucher_query(const char* voucher, const char* mac, const char* network, VoucherQuery& out) {
  VoucherQuery v;
  VoucherQuery m;
  VoucherQuery n;
  if (!percent_encode(voucher, "", v.data(), v.capacity())) return false;
  if (!percent_encode(mac, ":", m.data(), m.capacity())) return false;
  if (!percent_encode(network, "", n.data(), n.capacity())) return false;
  return voucher_query(v, m, n, out);
}

void validate_voucher(int sock, const char* query, const char* host_name) {
  FixedText<4096> request;
  frame_query_post(kValidatePath, query, host_name, request.data(), request.capacity());
  send_request(sock, request.c_str(), request.size());

  char chunk[4097];
  memset(chunk, 0, sizeof(chunk));
  AnswerPrinter printer;
  size_t total = 0;
  const int64_t deadline = reply_deadline();
  for (;;) {
    // An answer is a few words: a dashboard that never stops sending must
    // not keep the portal's log-in waiting for ever.
    if (total >= kAnswerLimit) {
      err_printf("Reply longer than %u bytes: the rest is not read\n", static_cast<unsigned>(kAnswerLimit));
      return;
    }
    ssize_t n = recv_piece(sock, chunk, sizeof(chunk) - 1, deadline);
    if (n == 0) return;
    if (n < 0) {
      if (errno == ETIMEDOUT) {
        err_printf(kReplyGivenUp, dashboard_link().exchange_limit);
        err_printf("\n");
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        err_printf("recv() timed out.\n");
      } else {
        err_printf("recv() failed due to errno = %d\n", errno);
      }
      return;
    }
    chunk[n] = '\0';
    printer.feed(chunk, static_cast<size_t>(n));
    total += static_cast<size_t>(n);
  }
}

int run_vouchercheck(int argc, char** argv, const DashboardEndpoint& dashboard) {
  if (argc < 4) {
    out_line("Invalid Argumtnes");
    return 1;
  }
  // The query is built before connecting, so arguments that do not fit are
  // refused whether or not the dashboard can be reached.
  FixedText<50> network;
  get_config("uci get node.status.network", network);
  VoucherQuery query;
  if (!build_voucher_query(argv[3], argv[2], network, query)) {
    err_printf(
        "vouchercheck: MAC address and voucher are too long for the request "
        "(the query holds %d characters at most)\n",
        static_cast<int>(VoucherQuery::capacity() - 1));
    return 1;
  }
  int sock = connect_to(kVouchercheckConnect, dashboard.host, dashboard.fallback_ip);
  // An unreachable dashboard is an empty answer, not a failure of the tool.
  if (sock < 0) return 0;
  validate_voucher(sock, query, dashboard.host);
  close(sock);
  return 0;
}
