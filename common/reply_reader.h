// Reading a dashboard reply: every wait for the next piece is bounded by the
// host's reply time-out (30 s on the node), so a dashboard that accepts a
// connection and then says nothing never holds a program.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// The moment (monotonic_ms) by which a reply whose reading starts now must
// have ended: the link's exchange limit from now. A dashboard that trickles
// its reply, each piece within the reply time-out, is given up then.
int64_t reply_deadline();
// What a reader says when the deadline ended a reply; the reply is not used.
// One %d: the exchange limit in seconds.
inline constexpr char kReplyGivenUp[] = "Reply not complete after %d s: given up";

// Waits for the next piece of a reply, at most the reply time-out and never
// past `deadline`, and receives at most len bytes of it. Returns the bytes
// received, 0 when the peer closed (or len is 0), or -1 with errno set:
// EAGAIN when the reply time-out passed, ETIMEDOUT when the deadline did.
ssize_t recv_piece(int sock, char* buf, size_t len, int64_t deadline);

// The payload of a reply: the text after "#@#" when the first "#" among the
// first len bytes starts that marker, else nullptr (a "#@#" further on does
// not count). Never looks past len bytes or a terminator.
const char* reply_payload(const char* reply, size_t len);
// Whether the first len bytes of reply (read as text) hold a whole HTTP head:
// false while its empty line has not come. *head_len takes the head's length
// with its empty line, *announced the body length of its Content-Length, or
// -1 when it is no HTTP head or announces none.
bool http_head(const char* reply, size_t len, size_t* head_len, long long* announced);
// True when the reply's head announced more body bytes than the len bytes hold.
bool reply_cut_short(const char* reply, size_t len);
// Removes a final "\n" and, only then, a "\r" that has become the last character.
void strip_final_line_end(char* text);

// Whose messages the paced reader uses.
enum class ReplyForm {
  kController,  // details in the debug log
  kIfcounter,   // details printed
};

// The paced reader of the check-in and the statistics report: reads until
// the dashboard closes or buffer (capacity cap) is full, then terminates the
// text. Closes the socket in every case. Returns the bytes read, or -1 on a
// time-out (of one wait, or of the whole reply: reply_deadline), a failed
// wait or a failed read.
int read_dashboard_reply(int sock, char* buffer, size_t cap, ReplyForm form);
