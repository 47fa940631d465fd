#include "controller/checkin.h"

#include <errno.h>
#include <syslog.h>

#include <cstring>

#include "common/atomic_file.h"
#include "common/base64.h"
#include "common/framing.h"
#include "common/host.h"
#include "common/output.h"
#include "common/reply_reader.h"
#include "common/runner.h"
#include "common/transport.h"
#include "controller/checkin_report.h"
#include "controller/config_parser.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "controller/program.h"
#include "controller/settings/custom_script.h"
#include "controller/settings/firmware_upgrade.h"
#include "controller/uplink_alignment.h"

const char kReceivedFile[] = "/tmp/.received";

namespace {

using EncodedMac = FixedText<25>;
using EncodedQuery = FixedText<1365>;  // base64 of the longest query
using RequestText = FixedText<4095>;
using ReplyText = FixedText<4096>;
using ConfigText = FixedText<4096>;

// Path and host hold at most 255 characters each, so the request always fits.
static_assert(RequestText::capacity() >
                  sizeof("POST ?mac=&data= HTTP/1.0\r\nUser-Agent:Kestrel 0.1\r\nHost: \r\n\r\n") + 2 * 255 +
                      EncodedMac::capacity() + EncodedQuery::capacity(),
              "the check-in request must never be cut");

// The first check-in after start-up says so with RR=1, whether or not it
// reaches the dashboard.
int take_restart_report(DashboardConfig& dashboard) {
  if (dashboard.first_checkin_done == 0) {
    dashboard.first_checkin_done = 1;
    return 1;
  }
  return 0;
}

// Sends the report on the connected socket and reads the reply into `reply`.
// The bytes read, or -1 when the reply could not be read (socket closed).
int exchange_report(int sock, const DashboardConfig& dashboard, const DeviceIdentity& identity, const QueryText& query,
                    ReplyText& reply) {
  EncodedMac mac;
  EncodedQuery data;
  b64_encode(identity.mac, mac);
  b64_encode(query, data);
  RequestText request;
  frame_checkin(dashboard.path, mac, data, dashboard.host, request.data(), RequestText::capacity());
  log_printf(LOG_DEBUG, "HTTP Request to Server: [%s]", request.c_str());
  errno = 0;
  if (send_request(sock, request, request.size()) >= 0) errno = 0;
  const char* outcome = strerror(errno);
  out_printf("Send Returens: %s\n", outcome);
  log_printf(LOG_DEBUG, "Send Returens: %s", outcome);
  return read_dashboard_reply(sock, reply.data(), ReplyText::capacity(), ReplyForm::kController);
}

// A reply cut short, by a dashboard that closed in the middle of it or by
// the end of the reply area, may end inside a line, whose value would be
// applied cut (an SSID or a key shortened, channel 11 taken as 1): its
// unfinished last line is dropped, the whole lines before it are kept. A cut
// at the end of a base64 group leaves a proper encoding: only a head that
// announced more tells it.
void drop_unfinished_line(ConfigText& text) {
  char* end = strrchr(text.data(), '\n');
  size_t keep = end ? static_cast<size_t>(end - text.data()) + 1 : 0;
  if (keep == text.size()) return;
  out_line("Reply cut short: its unfinished last line is not applied");
  text.data()[keep] = '\0';
}

// Keeps the decoded configuration of an accepted reply and applies it. The
// file is replaced whole, so the parser never reads half a configuration.
void apply_reply(const ReplyText& reply, size_t len, NodeConfig& config) {
  log_printf(LOG_DEBUG, "Response received:Succeed");
  ConfigText text;
  const char* payload = reply_payload(reply, len);
  if (payload) {
    b64_decode(payload, text);
    bool area_full = len + 1 >= ReplyText::capacity();
    if (area_full || !b64_complete(payload) || reply_cut_short(reply, len)) drop_unfinished_line(text);
  }
  if (replace_file_text(kReceivedFile, text) != 0) {
    out_line("Unable to open  Kestrel received file");
    return;
  }
  out_line("Running set config");
  parse_config_reply(kReceivedFile, config);
}

}  // namespace

int connect_dashboard(const DashboardConfig& config) {
  return connect_to(kCheckinConnect, config.host, config.fallback_ip);
}

int send_checkin(const DeviceIdentity& identity) {
  DashboardConfig& dashboard = dashboard_config();
  NodeConfig& config = node_config();
  NodeReport report;
  read_memory_and_load(report);
  log_printf(LOG_DEBUG, "Host: %s", dashboard.host.c_str());
  log_printf(LOG_DEBUG, "Path: %s", dashboard.path.c_str());
  log_printf(LOG_DEBUG, "Fallback_ip: %s", dashboard.fallback_ip.c_str());
  log_printf(LOG_DEBUG, "Checkin Interval: %s", dashboard.interval.c_str());
  report.rr = take_restart_report(dashboard);

  int sock = connect_dashboard(dashboard);
  if (sock < 0) {
    log_printf(LOG_DEBUG, "Faild to connect to Dashboard: %s", dashboard.host.c_str());
    return 1;
  }
  log_printf(LOG_DEBUG, "%s Connection Descriptor: %d", dashboard.host.c_str(), sock);

  read_node_state(report);
  report.upgrade = path_exists(kUpgradeMarkFile) == 0;
  QueryText query;
  format_checkin_query(identity, config, report, query);

  ReplyText reply;
  int len = exchange_report(sock, dashboard, identity, query, reply);
  if (len < 0) return 2;

  if (strstr(reply, "200")) {
    // Only a report the dashboard accepted has told it of the upgrade; the
    // mark goes before the parse, which may reboot the node.
    if (report.upgrade) host_unlink(kUpgradeMarkFile);
    apply_reply(reply, static_cast<size_t>(len), config);
  } else {
    out_line("Unable find the config key in Response");
  }

  run_pending_custom_script(config);
  align_uplink(report.role);
  run_pending_firmware_upgrade(config);
  return 0;
}
