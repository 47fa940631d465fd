#include <errno.h>

#include <cstdio>
#include <cstring>

#include "common/endpoints.h"
#include "common/framing.h"
#include "common/host.h"
#include "common/output.h"
#include "common/reply_reader.h"
#include "common/transport.h"
#include "controller/controller_loop.h"
#include "controller/settings/custom_script.h"

namespace {

constexpr size_t kChunk = 30000;
constexpr size_t kRequestCap = 5012;
// /tmp lives in the node's few tens of MB of RAM: a download that goes on
// and on must not fill it. No custom script comes near this size.
constexpr size_t kScriptLimit = 1024 * 1024;

// The script starts at the first '#' of a chunk when "!/b" follows it, as in
// "#!/bin/sh"; the status line and headers before it are dropped. Only the
// chunk's received bytes are looked at. Returns the start, or nullptr.
const char* script_start(const char* chunk, size_t len) {
  const char* hash = static_cast<const char*>(memchr(chunk, '#', len));
  if (!hash) return nullptr;
  size_t at = static_cast<size_t>(hash - chunk);
  out_printf("found # at %d\n", static_cast<int>(at));
  if (len - at < 4 || memcmp(hash + 1, "!/b", 3) != 0) return nullptr;
  return hash;
}

// What the reply's head announces of its body: a reply that the server
// closed cleanly part-way tells itself from a whole one only by the
// Content-Length of its head.
class ReplyHead {
 public:
  // Takes one received piece; false once the head is known to be no HTTP
  // head at all.
  void take(const char* piece, size_t len) {
    if (done_) {
      body_ += len;
      return;
    }
    size_t room = sizeof(head_) - 1 - used_;
    size_t n = len < room ? len : room;
    memcpy(head_ + used_, piece, n);
    used_ += n;
    head_[used_] = '\0';
    size_t head_bytes = 0;
    if (!http_head(head_, used_, &head_bytes, &announced_)) {
      // A head too long for the area announces nothing we can read.
      if (used_ == sizeof(head_) - 1) done_ = true;
      return;
    }
    done_ = true;
    size_t before = used_ - n;  // bytes of earlier pieces
    body_ = before + len - head_bytes;
  }
  // True when the head announced more body bytes than arrived.
  bool cut_short() const { return announced_ >= 0 && body_ < static_cast<size_t>(announced_); }

 private:
  char head_[2048] = {0};
  size_t used_ = 0;
  bool done_ = false;
  size_t body_ = 0;
  long long announced_ = -1;
};

// A script cut short must never run: the file goes, and so does the
// controller, as it always has on a failed write.
[[noreturn]] void write_failed(FILE* file) {
  err_printf("File write failed.\n");
  if (file) fclose(file);
  host_unlink(kCustomScriptFile);
  end_controller(1);
}

}  // namespace

int fetch_custom_script(int sock, const char* host_name, const char* page) {
  char request[kRequestCap];
  FixedText<8> body;
  script_body("", body);  // the form value is not used by the dashboard
  frame_form_post(page, host_name, body, request, sizeof(request));
  send_request(sock, request, strlen(request));

  // Nothing but this reply's script may be run afterwards.
  host_unlink(kCustomScriptFile);
  static char chunk[kChunk];
  FILE* file = nullptr;
  size_t written = 0;
  ssize_t n;
  ReplyHead head;
  const int64_t deadline = reply_deadline();
  while ((n = recv_piece(sock, chunk, sizeof(chunk), deadline)) > 0) {
    const char* from = chunk;
    size_t len = static_cast<size_t>(n);
    head.take(chunk, len);
    if (!file) {
      // An error page or anything else before the script is not written.
      from = script_start(chunk, len);
      if (!from) continue;
      len -= static_cast<size_t>(from - chunk);
      file = host_fopen(kCustomScriptFile, "w");
      if (!file) {
        out_printf("File %s Cannot be opened.\n", kCustomScriptFile);
        return 1;
      }
    }
    if (written + len > kScriptLimit) {
      fclose(file);
      host_unlink(kCustomScriptFile);
      out_printf("Script from %s longer than %u bytes: nothing to run\n", host_name,
                 static_cast<unsigned>(kScriptLimit));
      return 1;
    }
    if (fwrite(from, 1, len, file) < len) write_failed(file);
    written += len;
  }
  if (n < 0) {
    if (errno == ETIMEDOUT) {
      out_printf(kReplyGivenUp, dashboard_link().exchange_limit);
      out_printf("\n");
    } else if (errno == EAGAIN) {
      out_line("recv() timed out.");
    } else {
      err_printf("recv() failed due to errno = %d\n", errno);
    }
  }
  out_line("Ok received from server!");
  if (!file) {
    out_printf("No script in the reply from %s: nothing to run\n", host_name);
    return 1;
  }
  if (fclose(file) != 0) write_failed(nullptr);
  // Only a server's orderly close after all the announced bytes says that
  // the script came whole.
  if (n < 0 || head.cut_short()) {
    host_unlink(kCustomScriptFile);
    out_line("Script download incomplete: nothing to run");
    return 1;
  }
  return 0;
}
