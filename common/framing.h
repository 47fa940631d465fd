// The request framings of the dashboard exchanges, byte for byte: the
// dashboard parses them as they have always been sent, including the two
// blanks of the statistics request line and "User-Agent:" without a blank.
// Each function formats into out (capacity cap) and returns false when the
// request had to be cut.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Internet check and node id: a POST with an empty body.
bool frame_empty_post(const char* path, const char* host, char* out, size_t cap);
// Client list and custom script: a form body, its length in the header.
bool frame_form_post(const char* path, const char* host, const char* body, char* out, size_t cap);
// Check-in: base64 MAC and data in the query, no body.
bool frame_checkin(const char* path, const char* encoded_mac, const char* encoded_data, const char* host, char* out,
                   size_t cap);
// Statistics report: as the check-in, with two blanks before "HTTP/1.0".
bool frame_statistics(const char* path, const char* encoded_mac, const char* encoded_data, const char* host, char* out,
                      size_t cap);
// Voucher check: path and query, no body.
bool frame_query_post(const char* path, const char* query, const char* host, char* out, size_t cap);

// Sends the whole request in one send call (more only when the socket's
// buffer takes part of it), never raising SIGPIPE on a closed connection.
// Waits for room at most the reply time-out. Returns the bytes sent, or -1
// with errno set.
ssize_t send_request(int sock, const char* request, size_t len);
