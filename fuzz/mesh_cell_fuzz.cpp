// lonely's scan rule over a record buffer of any content, with any length
// the backend claims (beyond the buffer, zero or negative included): the
// result is the channel of the first record that is the mesh cell (ad-hoc,
// BSSID 02:CA:FE:CA:CA:40, name "mesh") on another channel, 0 when there is
// none, -1 for a scan that failed or heard nothing.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "lonely/mesh_cell.h"

namespace {

std::string g_records;
int g_claimed_len = 0;
bool g_fails = false;

int fuzz_scanlist(const char* ifname, char* buf, size_t size, int* len) {
  (void)ifname;
  memcpy(buf, g_records.data(), g_records.size() < size ? g_records.size() : size);
  *len = g_claimed_len;
  return g_fails ? -1 : 0;
}

void no_close() {}

const scan_backend_ops kFuzzBackend = {fuzz_scanlist, no_close};

constexpr size_t kBuffer = 24 * 1024;

// The first mesh-cell record on another channel, read byte by byte.
int expected_channel(int current) {
  if (g_fails || g_claimed_len <= 0) return -1;
  size_t bytes = static_cast<size_t>(g_claimed_len) < kBuffer ? static_cast<size_t>(g_claimed_len) : kBuffer;
  static const uint8_t kBssid[6] = {0x02, 0xCA, 0xFE, 0xCA, 0xCA, 0x40};
  for (size_t at = 0; at + sizeof(scan_entry) <= bytes; at += sizeof(scan_entry)) {
    scan_entry e;
    memset(&e, 0, sizeof(e));  // records beyond what the backend wrote are zero
    if (at < g_records.size()) memcpy(&e, g_records.data() + at, std::min(sizeof(e), g_records.size() - at));
    if (e.mode != kModeAdHoc || memcmp(e.bssid, kBssid, 6) != 0) continue;
    if (memcmp(e.ssid, "mesh", 5) != 0) continue;  // "mesh" and its end
    if (e.channel == current) continue;
    return e.channel;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_host();  // the messages go to the fake host
  FuzzInput in(data, size);
  uint8_t flags = in.byte();
  int current = in.byte();
  g_fails = flags & 1;
  // Mostly the length of what came, sometimes anything at all.
  int32_t claimed =
      static_cast<int32_t>(static_cast<uint32_t>(in.byte()) << 24 | in.byte() << 16 | in.byte() << 8 | in.byte());
  g_records = in.rest().substr(0, kBuffer);
  g_claimed_len = flags & 2 ? claimed : static_cast<int>(g_records.size());
  int found = scan_for_mesh_cell(&kFuzzBackend, "mesh0", current);
  FUZZ_CHECK(found == expected_channel(current));
  return 0;
}
