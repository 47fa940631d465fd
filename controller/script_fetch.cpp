#include <errno.h>

#include <cstdio>
#include <cstring>

#include "common/endpoints.h"
#include "common/framing.h"
#include "common/host.h"
#include "common/output.h"
#include "common/reply_reader.h"
#include "controller/controller_exit.h"
#include "controller/custom_script.h"

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
  while ((n = recv_piece(sock, chunk, sizeof(chunk))) > 0) {
    const char* from = chunk;
    size_t len = static_cast<size_t>(n);
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
    if (errno == EAGAIN) {
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
  // Only a server's orderly close says that the script came whole.
  if (n < 0) {
    host_unlink(kCustomScriptFile);
    out_line("Script download incomplete: nothing to run");
    return 1;
  }
  return 0;
}
