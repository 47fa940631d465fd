#include "reporters/client_list.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/base64.h"
#include "common/endpoints.h"
#include "common/framing.h"
#include "common/host.h"
#include "common/output.h"
#include "common/signals.h"
#include "common/transport.h"
#include "reporters/clientscout_program.h"

static_assert(sizeof(DASHBOARD_HOST) <= 50, "clientscout keeps the dashboard host name in 50 bytes");

namespace {

constexpr unsigned kReportPeriod = 60;
// Digits that a body length below the request area can add to the "0" of an
// empty body's length.
constexpr size_t kLengthDigitsBeyondZero = 4;

// Prints the reply as it comes until the dashboard closes. Its content is
// not used, so the whole of it gets the reply time-out: a dashboard that
// trickles bytes cannot hold the reporter either.
void print_reply(int sock, char* area, size_t cap) {
  int64_t deadline = monotonic_ms() + dashboard_link().reply_timeout * 1000LL;
  for (;;) {
    int64_t left = deadline - monotonic_ms();
    if (left <= 0 || wait_fd(sock, POLLIN, static_cast<int>(left)) <= 0) return;
    ssize_t n = recv(sock, area, cap - 1, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) return;
    area[n] = '\0';
    out_printf("%s", area);
  }
}

}  // namespace

void make_report_config(ReportConfig& config) {
  config.host.set(kBuiltInDashboard.host);
  config.path.set(kClientListPath);
  config.period = kReportPeriod;
  config.empty_sent = 0;
}

size_t client_list_room(const ReportConfig& config, size_t encoded_id_len) {
  FixedText<256> head;
  frame_form_post(config.path, config.host, "", head.data(), head.capacity());
  FixedText<16> empty_body;
  client_list_body("", "", empty_body);
  size_t fixed = head.size() + kLengthDigitsBeyondZero + empty_body.size() + encoded_id_len;
  if (fixed >= kClientRequestArea - 1) return 0;
  size_t encoded = kClientRequestArea - 1 - fixed;
  if (encoded > kEncodedListArea - 1) encoded = kEncodedListArea - 1;
  size_t room = encoded / 4 * 3;
  return room < kListArea - 1 ? room : kListArea - 1;
}

ListRead read_client_list(char* list, size_t cap, size_t room) {
  memset(list, 0, cap);
  if (room > cap - 1) room = cap - 1;
  FILE* f = host_fopen(kClientsFile, "r");
  if (!f) return ListRead::kWhole;
  size_t n = fread(list, 1, room, f);
  bool longer = n == room && fgetc(f) != EOF;
  fclose(f);
  if (!longer) return ListRead::kWhole;
  // The dashboard reads the list record by record: half a record would be
  // a client with a cut MAC or counter.
  size_t keep = n;
  while (keep > 0 && list[keep - 1] != '\n') --keep;
  memset(list + keep, 0, n - keep);
  return keep > 0 ? ListRead::kCut : ListRead::kNothingFits;
}

int send_client_list(ReportConfig& config, const char* identity) {
  // Kept out of the stack: together they take 115 kB.
  static FixedText<kListArea> list;  // later the request body
  static FixedText<kEncodedListArea> encoded_list;
  static FixedText<kClientRequestArea> request;  // later the reply's pieces
  FixedText<kEncodedIdArea> encoded_id;
  b64_encode(identity, encoded_id);

  ListRead read = read_client_list(list.data(), list.capacity(), client_list_room(config, encoded_id.size()));
  if (read == ListRead::kNothingFits) {
    log_printf(LOG_INFO, "Client list not sent: its first record does not fit the request");
    return 1;
  }
  if (read == ListRead::kCut) {
    log_printf(LOG_INFO, "Client list too long: sending its first %u bytes", static_cast<unsigned>(list.size()));
  }
  const char* text = nullptr;
  int counter = 0;
  if (!list.empty()) {
    config.empty_sent = 0;
    text = list.c_str();
  } else if (config.empty_sent == 0) {
    // Marked before the request is tried: a failed "Empty" is not repeated.
    config.empty_sent = 1;
    text = "Empty";
    counter = 1;
  }
  out_printf("Clientf: %d\n", config.empty_sent);
  out_printf("Counter: %d\n", counter);
  if (!text) {
    out_line("No data to send Returning to mainloop");
    return 1;
  }

  int sock = connect_to(kClientscoutConnect, config.host, nullptr);
  if (sock < 0) return 1;
  b64_encode(text, encoded_list);
  // The list is encoded by now; its area takes the body.
  client_list_body(encoded_id, encoded_list, list);
  frame_form_post(config.path, config.host, list, request.data(), request.capacity());
  log_printf(LOG_DEBUG, "Request [ %s ]", request.c_str());
  // The connection's outcome is not checked: a failed one makes the send
  // and the read fail quietly, and the next cycle sends the list again.
  send_request(sock, request.c_str(), request.size());
  print_reply(sock, request.data(), request.capacity());
  close(sock);
  return 0;
}
