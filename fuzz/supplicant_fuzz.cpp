// The supplicant's SCAN_RESULTS reply and its flag texts: only whole lines
// become records, never more than the buffer holds, each with a
// terminated network name.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lonely/supplicant.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  size_t slots = in.byte() % 4;
  std::string text = in.rest();

  std::vector<char> buf(slots * sizeof(scan_entry) + 1);
  ScanCursor cursor(buf.data(), slots * sizeof(scan_entry));
  size_t added = parse_supplicant_results(text.c_str(), cursor);
  FUZZ_CHECK(added == cursor.count() && added <= slots);
  size_t lines = 0;
  for (const char* p = strchr(text.c_str(), '\n'); p; p = strchr(p + 1, '\n')) ++lines;
  FUZZ_CHECK(added + 1 <= lines || added == 0);
  for (size_t i = 0; i < added; ++i) {
    scan_entry e;
    memcpy(&e, buf.data() + i * sizeof(scan_entry), sizeof(e));
    FUZZ_CHECK(strnlen(e.ssid, sizeof(e.ssid)) < sizeof(e.ssid));
    FUZZ_CHECK(e.quality_max == kQualityMax);
  }

  scan_crypto c;
  memset(&c, 0, sizeof(c));
  parse_supplicant_flags(text.c_str(), &c);
  FUZZ_CHECK(c.enabled <= 1 && c.wpa_version <= 3);
  return 0;
}
