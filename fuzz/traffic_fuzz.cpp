// ifcounter's counter readers over any text in
// /sys/class/net/<if>/statistics/*, for two readings in a row: a counter is
// a plain non-negative decimal or counts as a failed read (1); a failed
// read keeps its counter as it was, a good one moves the difference to
// exactly the new value minus the previous one, or to the new value when it
// is below the previous one (the counters started again), never below zero;
// the report text holds the four differences whatever they are.
#include <cstdio>
#include <string>

#include "common/endpoints.h"
#include "fuzz/fuzz_support.h"
#include "reporters/traffic.h"

namespace {

const char* const kFiles[kTrafficCounters] = {"rx_bytes", "tx_bytes", "rx_packets", "tx_packets"};

std::string counter_path(int c) { return std::string("/sys/class/net/mesh0/statistics/") + kFiles[c]; }

// The value of a file that is only a decimal of 1 to 18 digits (and a line
// end, as sysfs writes it); -1 for any other text.
long long plain_decimal(const std::string& text) {
  std::string digits = !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
  if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoll(digits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  TrafficSample sample = {};
  for (int reading = 0; reading < 2; ++reading) {
    uint8_t absent = in.byte();
    long long values[kTrafficCounters];
    for (int c = 0; c < kTrafficCounters; ++c) {
      std::string text = in.field();
      if (absent & (1 << c)) {
        h.remove(counter_path(c));
      } else {
        h.write(counter_path(c), text);
      }
      bool opened = false;
      values[c] = read_counter("mesh0", static_cast<TrafficCounter>(c), &opened);
      FUZZ_CHECK(opened == !(absent & (1 << c)));
      FUZZ_CHECK(values[c] == kFailedCounterRead || values[c] >= 0);
      if (!opened) FUZZ_CHECK(values[c] == kFailedCounterRead);
      long long plain = plain_decimal(text);
      if (opened && plain >= 0) FUZZ_CHECK(values[c] == plain);
    }
    TrafficSample before = sample;
    update_traffic(sample, "mesh0");
    for (int c = 0; c < kTrafficCounters; ++c) {
      if (values[c] == kFailedCounterRead) {
        FUZZ_CHECK(sample.previous[c] == before.previous[c] && sample.difference[c] == before.difference[c]);
        continue;
      }
      FUZZ_CHECK(sample.previous[c] == values[c]);
      long long difference = before.difference[c];
      if (before.previous[c] != 0)
        difference = values[c] >= before.previous[c] ? values[c] - before.previous[c] : values[c];
      FUZZ_CHECK(sample.difference[c] == difference && difference >= 0);
    }
    const long long* d = sample.difference;
    FixedText<511> report;
    FUZZ_CHECK(statistics_data(d[kRxBytes], d[kTxBytes], d[kRxPackets], d[kTxPackets], report));
    char expected[128];
    snprintf(expected, sizeof(expected), "rxb=%lld&txb=%lld&rxp=%lld&txp=%lld", d[0], d[1], d[2], d[3]);
    FUZZ_CHECK(report == expected);
  }
  return 0;
}
