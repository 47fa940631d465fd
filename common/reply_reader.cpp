#include "common/reply_reader.h"

#include <errno.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/signals.h"
#include "common/text.h"
#include "common/transport.h"

namespace {

// Waits until the socket is readable: >0 ready, 0 when the reply time-out
// passed, -1 when the wait failed (errno set). `past_deadline` tells whether
// the wait was the deadline's rather than the time-out's.
int wait_for_piece(int sock, int64_t deadline, bool& past_deadline) {
  int64_t wait = dashboard_link().reply_timeout * 1000LL;
  int64_t left = deadline - monotonic_ms();
  past_deadline = left <= wait;
  if (past_deadline) wait = left > 0 ? left : 0;
  return wait_fd(sock, POLLIN, static_cast<int>(wait));
}

}  // namespace

int64_t reply_deadline() { return monotonic_ms() + dashboard_link().exchange_limit * 1000LL; }

ssize_t recv_piece(int sock, char* buf, size_t len, int64_t deadline) {
  if (len == 0) return 0;
  for (;;) {
    bool past_deadline = false;
    int ready = wait_for_piece(sock, deadline, past_deadline);
    if (ready == 0) {
      errno = past_deadline ? ETIMEDOUT : EAGAIN;
      return -1;
    }
    if (ready < 0) return -1;
    ssize_t n = recv(sock, buf, len, MSG_DONTWAIT);
    // Readable but nothing there after all: wait again.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    return n;
  }
}

const char* reply_payload(const char* reply, size_t len) {
  size_t text_len = strnlen(reply, len);
  const char* hash = static_cast<const char*>(memchr(reply, '#', text_len));
  if (!hash) return nullptr;
  size_t at = static_cast<size_t>(hash - reply);
  if (text_len - at < 3 || hash[1] != '@' || hash[2] != '#') return nullptr;
  return hash + 3;
}

bool http_head(const char* reply, size_t len, size_t* head_len, long long* announced) {
  size_t n = strnlen(reply, len);
  const char* end = static_cast<const char*>(memmem(reply, n, "\r\n\r\n", 4));
  size_t end_len = 4;
  if (!end) {
    end = static_cast<const char*>(memmem(reply, n, "\n\n", 2));
    end_len = 2;
  }
  if (!end) return false;
  *head_len = static_cast<size_t>(end - reply) + end_len;
  *announced = -1;
  if (strncmp(reply, "HTTP/", 5) != 0) return true;
  // Only the head announces: a body line "Content-Length: 40" does not.
  const char* head_end = reply + *head_len;
  for (const char* line = strchr(reply, '\n'); line; line = strchr(line, '\n')) {
    if (++line >= head_end) break;
    if (strncasecmp(line, "Content-Length:", 15) != 0) continue;
    // The value is on the header's own line: strtoll would skip the line's
    // end and take a number from the next line or the body.
    const char* digits = line + 15;
    while (*digits == ' ' || *digits == '\t') ++digits;
    if (*digits >= '0' && *digits <= '9') *announced = strtoll(digits, nullptr, 10);
    break;
  }
  return true;
}

bool reply_cut_short(const char* reply, size_t len) {
  size_t head_len = 0;
  long long announced = -1;
  if (!http_head(reply, len, &head_len, &announced) || announced < 0) return false;
  return len - head_len < static_cast<unsigned long long>(announced);
}

void strip_final_line_end(char* text) {
  size_t n = strlen(text);
  if (n > 0 && text[n - 1] == '\n') {
    text[--n] = '\0';
    if (n > 0 && text[n - 1] == '\r') text[n - 1] = '\0';
  }
}

namespace {

// Ends the reading with a failure: message, socket closed.
int fail(int sock, ReplyForm form, const char* printed, const char* logged) {
  out_printf("%s", printed);
  if (form == ReplyForm::kController) log_printf(LOG_DEBUG, "%s", logged);
  close(sock);
  return -1;
}

}  // namespace

int read_dashboard_reply(int sock, char* buffer, size_t cap, ReplyForm form) {
  const bool controller = form == ReplyForm::kController;
  out_line("Reading Response");
  if (cap == 0) {
    close(sock);
    return -1;
  }
  size_t total = 0;
  buffer[0] = '\0';
  const int64_t deadline = reply_deadline();
  // A full buffer is the end of the reply: the rest is not waited for.
  while (total < cap - 1) {
    bool past_deadline = false;
    int ready = wait_for_piece(sock, deadline, past_deadline);
    if (ready == 0 && past_deadline) {
      FixedText<64> logged;
      logged.format(kReplyGivenUp, dashboard_link().exchange_limit);
      FixedText<64> printed;
      printed.format("%s\n", logged.c_str());
      return fail(sock, form, printed, logged);
    }
    if (ready == 0) {
      const char* text = "Timed out reading data via select() from server";
      FixedText<64> printed;
      printed.format("%s\n", text);
      return fail(sock, form, printed, text);
    }
    if (ready < 0) {
      const char* reason = strerror(errno);
      FixedText<160> printed;
      FixedText<160> logged;
      printed.format("Error reading data via select from server:%s\n", reason);
      logged.format("Error reading data via select from server:%s", reason);
      return fail(sock, form, printed, logged);
    }
    ssize_t n = recv(sock, buffer + total, cap - 1 - total, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n < 0) {
      const char* reason = strerror(errno);
      if (controller) {
        log_printf(LOG_DEBUG, "Error while reading: %s", reason);
      } else {
        out_printf("Error while reading: %s\n", reason);
      }
      close(sock);
      return -1;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
    buffer[total] = '\0';
    if (controller) {
      log_printf(LOG_DEBUG, "Read %d bytes, total now: %d", static_cast<int>(n), static_cast<int>(total));
    } else {
      out_printf("Read %d bytes, total now: %d\n", static_cast<int>(n), static_cast<int>(total));
    }
  }
  close(sock);
  if (controller) {
    log_printf(LOG_DEBUG, "Done reading reply, toatl %d bytes\n", static_cast<int>(total));
    log_printf(LOG_DEBUG, "HTTP Response from Server [%s]", buffer);
  } else {
    log_printf(LOG_DEBUG, "HTTP Response from Server: [%s]", buffer);
  }
  return static_cast<int>(total);
}
