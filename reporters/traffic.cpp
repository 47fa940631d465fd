#include "reporters/traffic.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/host.h"
#include "common/output.h"
#include "common/text.h"

namespace {

struct CounterRow {
  const char* file;
  const char* printed;     // with the value; nullptr: not printed
  const char* unreadable;  // when the file does not open; nullptr: silent
};

const CounterRow kCounters[kTrafficCounters] = {
    {"rx_bytes", "RxBytes: %lld\n", "Unable to get the RxBytes"},
    {"tx_bytes", "TxBytes: %lld\n", "Unable to get the TxBytes"},
    {"rx_packets", "RxPackets: %lld\n", "Unable to get the Rx packets"},
    {"tx_packets", nullptr, nullptr},
};

// A non-negative decimal after optional blanks; false for anything else.
bool parse_counter(const char* text, long long* value) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  if (!isdigit(static_cast<unsigned char>(*text))) return false;
  errno = 0;
  long long v = strtoll(text, nullptr, 10);
  if (errno == ERANGE) return false;
  *value = v;
  return true;
}

}  // namespace

long long read_counter(const char* ifname, TrafficCounter counter, bool* opened) {
  FixedText<100> path;
  path.format("/sys/class/net/%s/statistics/%s", ifname, kCounters[counter].file);
  FILE* f = host_fopen(path, "r");
  *opened = f != nullptr;
  if (!f) return kFailedCounterRead;
  char line[32] = {0};
  long long value = kFailedCounterRead;
  if (!fgets(line, sizeof(line), f) || !parse_counter(line, &value)) value = kFailedCounterRead;
  fclose(f);
  return value;
}

void update_traffic(TrafficSample& sample, const char* ifname) {
  for (int c = 0; c < kTrafficCounters; ++c) {
    const CounterRow& row = kCounters[c];
    bool opened = false;
    long long value = read_counter(ifname, static_cast<TrafficCounter>(c), &opened);
    if (!opened) {
      if (row.unreadable) out_line(row.unreadable);
    } else if (row.printed) {
      TABLE_FORMAT_BEGIN
      out_printf(row.printed, value);
      TABLE_FORMAT_END
    }
    if (value == kFailedCounterRead) continue;
    // A reading below the previous one means the counters started again from
    // zero (the interface was made anew, as a network restart does): the
    // traffic since then is the reading itself, never a negative amount.
    // Both readings are non-negative, so the difference cannot overflow.
    if (sample.previous[c] != 0)
      sample.difference[c] = value >= sample.previous[c] ? value - sample.previous[c] : value;
    sample.previous[c] = value;
  }
}
