// The readers of /proc/meminfo, /proc/loadavg and /proc/uptime over any
// text: free memory is the number of the first line that starts with
// "MemFree:" (nothing when there is none, the value left as it was), the
// load is the file's first number, and the boot flag says whether the
// uptime's whole seconds reach 360. The check-in's report text holds
// whatever load was read.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/state_flags.h"
#include "common/sysinfo.h"
#include "controller/checkin_report.h"
#include "controller/config_record.h"
#include "controller/device_identity.h"
#include "fuzz/fuzz_support.h"

namespace {

// The first "MemFree:" line's value, lines taken as the reader takes them
// (at most 255 characters each); -1 when no line has one, -2 when the text
// is not one a property can be stated for (NUL bytes, or a value beyond
// 32 bits or signed, which the scan takes as it likes).
long long first_memfree(const std::string& text) {
  if (text.find('\0') != std::string::npos) return -2;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, (end == std::string::npos ? text.size() : end) - at).substr(0, 255);
    at = end == std::string::npos ? text.size() : end + 1;
    if (line.compare(0, 8, "MemFree:") != 0) continue;
    size_t p = 8;
    while (p < line.size() && isspace(static_cast<unsigned char>(line[p]))) ++p;
    if (p < line.size() && (line[p] == '+' || line[p] == '-')) return -2;
    size_t digits = p;
    while (digits < line.size() && isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
    if (digits == p) continue;
    if (digits - p > 9) return -2;
    return std::stoll(line.substr(p, digits - p));
  }
  return -1;
}

void check_meminfo(FakeHost& h, const std::string& text) {
  h.write("/proc/meminfo", text);
  unsigned kb = 4242;
  bool found = read_meminfo(&kb);
  long long expected = first_memfree(text);
  if (expected == -2) return;
  FUZZ_CHECK(found == (expected >= 0));
  FUZZ_CHECK(kb == (found ? static_cast<unsigned>(expected) : 4242u));
}

void check_loadavg(FakeHost& h, const std::string& text) {
  h.write("/proc/loadavg", text);
  LoadAverage load;
  load.mantissa = 7;
  bool found = read_loadavg(&load);
  if (!found) FUZZ_CHECK(load.mantissa == 7);
  // The usual file: "0.52 0.58 0.59 1/80 1234", printed as its float.
  if (text.size() >= 4 && isdigit(static_cast<unsigned char>(text[0])) && text[1] == '.' &&
      isdigit(static_cast<unsigned char>(text[2])) && isdigit(static_cast<unsigned char>(text[3])) &&
      (text.size() == 4 || text[4] == ' ' || text[4] == '\n')) {
    char expected[32], printed[64];
    snprintf(expected, sizeof(expected), "%f", static_cast<double>(strtof(text.substr(0, 4).c_str(), nullptr)));
    format_load(load, 6, printed, sizeof(printed));
    FUZZ_CHECK(found && strcmp(expected, printed) == 0);
  }
  if (!found) return;
  // Whatever came in, the check-in's text stays within its area.
  static DeviceIdentity identity;
  static NodeConfig config;
  NodeReport report;
  report.load = load;
  QueryText query;
  format_checkin_query(identity, config, report, query);
  FUZZ_CHECK(query.size() < query.capacity());
}

void check_uptime_flag(FakeHost& h, const std::string& text) {
  h.write("/proc/uptime", text);
  boot = 7;
  FUZZ_CHECK(check_uptime() == 0);
  FUZZ_CHECK(boot == 0 || boot == 1);
  // "12345.67 890.12": the whole seconds, when the text starts with them.
  std::string first = text.substr(0, 11);
  size_t digits = first.find_first_not_of("0123456789");
  if (digits == std::string::npos) digits = first.size();
  if (digits > 0 && digits < 11 && (digits == text.size() || text[digits] == '.' || text[digits] == ' ')) {
    FUZZ_CHECK(boot == (std::stoll(first.substr(0, digits)) >= 360 ? 1 : 0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  int reader = in.byte() % 3;
  std::string text = in.rest();
  switch (reader) {
    case 0:
      check_meminfo(h, text);
      break;
    case 1:
      check_loadavg(h, text);
      break;
    default:
      check_uptime_flag(h, text);
      break;
  }
  return 0;
}
