// The client list report: the records of /tmp/.clients, or the word "Empty"
// once per empty spell, base64-encoded in a form body to "/client.php".
#pragma once

#include <cstddef>

#include "common/text.h"

inline constexpr char kClientsFile[] = "/tmp/.clients";

// Buffer capacities of the report (terminator included).
inline constexpr size_t kListArea = 38501;
inline constexpr size_t kEncodedListArea = 38504;
inline constexpr size_t kClientRequestArea = 38500;  // also takes the reply's pieces
inline constexpr size_t kEncodedIdArea = 52;

// report_config: made at start-up, kept for the run.
struct ReportConfig {
  FixedText<50> host;
  FixedText<50> path;
  unsigned period;  // seconds
  int empty_sent;   // 1 once "Empty" went out for the current empty spell
};

// The built-in dashboard, "/client.php", 60 seconds, nothing sent yet.
void make_report_config(ReportConfig& config);

// The longest list text whose request (framing, "id=", the encoded identity
// of encoded_id_len characters, "&data=" and the encoded list) still fits
// the request area, and whose encoding fits its own area.
size_t client_list_room(const ReportConfig& config, size_t encoded_id_len);

enum class ListRead {
  kWhole,        // the whole file (or no file)
  kCut,          // too long: cut after the last record line that fits
  kNothingFits,  // too long, and not even its first line fits
};
// Zeroes list (capacity cap) and reads /tmp/.clients into it, at most room
// bytes; a longer list keeps only the whole record lines that fit.
ListRead read_client_list(char* list, size_t cap, size_t room);

// Reads the list and sends it, "Empty", or nothing. 0 when a request was
// sent; 1 when there was nothing to send or the host did not resolve.
int send_client_list(ReportConfig& config, const char* identity);
