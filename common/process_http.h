// The empty-body exchanges of lonely, portsense and the watchdog (Internet
// check and node id): send the request, read the reply until the dashboard
// closes, and interpret its payload.
#pragma once

#include <cstddef>

// What process_http does with the payload.
enum HttpMode {
  kReplyCheck = 0,   // 0 when the payload is exactly "Succeed"
  kNodeIdReply = 1,  // the payload goes to the node id handler
};

// Takes the node id reply ("id:switch:nodeid").
using NodeIdHandler = void (*)(const char* payload);

// Sends the empty-body POST for path, reads the reply (at most 5012 bytes,
// each wait bounded by the reply time-out, the whole by the exchange limit;
// a reply given up at that limit gives 1), closes the socket and interprets
// the payload by mode. Mode 1 hands the payload to on_nodeid and gives 0;
// mode 0 gives 0 for "Succeed", else 1; any other mode, or mode 1 without a
// handler, gives 1.
int process_http(int sock, const char* host, const char* path, int mode, NodeIdHandler on_nodeid = nullptr);

// The exchange under process_http, for a program with a reply area and
// messages of its own: sends the request, reads the reply into area (cap
// bytes) until the dashboard closes, a receive fails or the area is full,
// closes the socket and returns the payload with one final line end
// removed; nullptr when the reply had not ended within the exchange limit
// (reply_deadline), which is then not used. With `logged` the receive
// failures go to the debug log instead of standard error.
const char* exchange_reply(int sock, const char* host, const char* path, char* area, size_t cap, bool logged);
