// The uplink's traffic counters and their differences from one report to
// the next (traffic_sample).
#pragma once

enum TrafficCounter { kRxBytes, kTxBytes, kRxPackets, kTxPackets, kTrafficCounters };

// Previous readings and last differences, kept across cycles. 64-bit: a
// gateway's byte counters pass 2^31 after 2 GB, and a busy minute can move
// more than that.
struct TrafficSample {
  long long previous[kTrafficCounters];
  long long difference[kTrafficCounters];
};

// A counter read that fails gives this value, so a counter that reads it
// counts as failed too.
inline constexpr long long kFailedCounterRead = 1;

// "/sys/class/net/<ifname>/statistics/<counter>" as one decimal;
// kFailedCounterRead when the file cannot be opened or holds no counter.
long long read_counter(const char* ifname, TrafficCounter counter, bool* opened);

// Reads the four counters of ifname (printing the first three) and updates
// the sample: a failed read leaves its counter as it was, the first reading
// only sets the previous value.
void update_traffic(TrafficSample& sample, const char* ifname);
