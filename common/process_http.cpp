#include "common/process_http.h"

#include <errno.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>

#include "common/framing.h"
#include "common/output.h"
#include "common/reply_reader.h"
#include "common/text.h"
#include "common/transport.h"

namespace {

// Request area of the empty-body framing.
constexpr size_t kRequestArea = 5012;
// Reply area: one more byte than the reply keeps a terminator.
constexpr size_t kReplyArea = 5013;

}  // namespace

const char* exchange_reply(int sock, const char* host, const char* path, char* area, size_t cap, bool logged) {
  FixedText<kRequestArea> request;
  frame_empty_post(path, host, request.data(), request.capacity());
  send_request(sock, request.c_str(), request.size());

  memset(area, 0, cap);
  size_t total = 0;
  bool given_up = false;
  const int64_t deadline = reply_deadline();
  while (total < cap - 1) {
    ssize_t n = recv_piece(sock, area + total, cap - 1 - total, deadline);
    if (n > 0) {
      total += static_cast<size_t>(n);
      continue;
    }
    if (n < 0) {
      // What came before the failure is kept.
      int err = errno;
      if (err == ETIMEDOUT) {
        given_up = true;
        FixedText<64> text;
        text.format(kReplyGivenUp, dashboard_link().exchange_limit);
        if (logged) {
          log_printf(LOG_DEBUG, "%s", text.c_str());
        } else {
          err_printf("%s\n", text.c_str());
        }
      } else if (err == EAGAIN || err == EWOULDBLOCK) {
        if (logged) {
          log_printf(LOG_DEBUG, "recv() timed out");
        } else {
          err_printf("recv() timed out.\n");
        }
      } else if (logged) {
        log_printf(LOG_DEBUG, "recv() failed due to errno = %d\n", err);
      } else {
        err_printf("recv() failed due to errno = %d\n", err);
      }
    }
    break;
  }
  close(sock);
  if (given_up) return nullptr;

  char* payload = const_cast<char*>(reply_payload(area, total));
  if (!payload) payload = area;
  strip_final_line_end(payload);
  return payload;
}

int process_http(int sock, const char* host, const char* path, int mode, NodeIdHandler on_nodeid) {
  char area[kReplyArea];
  const char* payload = exchange_reply(sock, host, path, area, sizeof(area), false);
  if (!payload) return 1;
  switch (mode) {
    case kReplyCheck:
      return strcmp(payload, "Succeed") == 0 ? 0 : 1;
    case kNodeIdReply:
      if (!on_nodeid) return 1;
      on_nodeid(payload);
      return 0;
    default:
      return 1;
  }
}
