#include "common/framing.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "common/host.h"
#include "common/signals.h"
#include "common/transport.h"

namespace {

bool fits(char* out, size_t cap, int needed) {
  if (needed < 0) {
    out[0] = '\0';
    return false;
  }
  return static_cast<size_t>(needed) < cap;
}

}  // namespace

bool frame_empty_post(const char* path, const char* host, char* out, size_t cap) {
  if (cap == 0) return false;
  return fits(out, cap,
              snprintf(out, cap,
                       "POST %s HTTP/1.0\r\nHost: %s\r\n"
                       "Content-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n",
                       path, host));
}

bool frame_form_post(const char* path, const char* host, const char* body, char* out, size_t cap) {
  if (cap == 0) return false;
  return fits(out, cap,
              snprintf(out, cap,
                       "POST %s HTTP/1.0\r\nHost: %s\r\n"
                       "Content-type: application/x-www-form-urlencoded\r\nContent-length: %d\r\n\r\n%s",
                       path, host, static_cast<int>(strlen(body)), body));
}

bool frame_checkin(const char* path, const char* encoded_mac, const char* encoded_data, const char* host, char* out,
                   size_t cap) {
  if (cap == 0) return false;
  return fits(out, cap,
              snprintf(out, cap, "POST %s?mac=%s&data=%s HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: %s\r\n\r\n", path,
                       encoded_mac, encoded_data, host));
}

bool frame_statistics(const char* path, const char* encoded_mac, const char* encoded_data, const char* host, char* out,
                      size_t cap) {
  if (cap == 0) return false;
  return fits(out, cap,
              snprintf(out, cap, "POST %s?mac=%s&data=%s  HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: %s\r\n\r\n", path,
                       encoded_mac, encoded_data, host));
}

bool frame_query_post(const char* path, const char* query, const char* host, char* out, size_t cap) {
  if (cap == 0) return false;
  return fits(out, cap, snprintf(out, cap, "POST %s?%s HTTP/1.0\r\nHost: %s\r\n\r\n", path, query, host));
}

ssize_t send_request(int sock, const char* request, size_t len) {
  size_t sent = 0;
  while (sent < len) {
    ssize_t n = send(sock, request + sent, len - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A dashboard that stops reading must not hold the program.
      int r = wait_fd(sock, POLLOUT, dashboard_link().reply_timeout * 1000);
      if (r > 0) continue;
      if (r == 0) errno = EAGAIN;
      return -1;
    }
    return -1;
  }
  return static_cast<ssize_t>(sent);
}
