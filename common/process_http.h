// The empty-body exchanges of lonely, portsense and the watchdog (Internet
// check and node id): send the request, read the reply until the dashboard
// closes, and interpret its payload.
#pragma once

// What process_http does with the payload.
enum HttpMode {
  kReplyCheck = 0,   // 0 when the payload is exactly "Succeed"
  kNodeIdReply = 1,  // the payload goes to the node id handler
};

// Takes the node id reply ("id:switch:nodeid").
using NodeIdHandler = void (*)(const char* payload);

// Sends the empty-body POST for path, reads the reply (at most 5012 bytes,
// each wait bounded by the reply time-out), closes the socket and interprets
// the payload by mode. Mode 1 hands the payload to on_nodeid and gives 0;
// mode 0 gives 0 for "Succeed", else 1; any other mode, or mode 1 without a
// handler, gives 1.
int process_http(int sock, const char* host, const char* path, int mode,
                 NodeIdHandler on_nodeid = nullptr);

// The watchdog's reply check: a 30000-byte reply area and its messages in
// the debug log; logs "Response: %s" and gives 0 for "Succeed", else 1.
int process_http_watchdog(int sock, const char* host, const char* path);
