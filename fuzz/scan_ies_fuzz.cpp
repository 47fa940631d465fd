// The information elements of a scan and the RSN/WPA element body: reads
// stay inside the given bytes (a copy of exactly that size), the network
// name stays terminated, and the security bits only ever grow.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lonely/scan_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  uint8_t default_cipher = in.byte();
  uint8_t default_suite = in.byte();
  std::string rest = in.rest();
  std::vector<uint8_t> bytes(rest.begin(), rest.end());

  scan_entry e;
  memset(&e, 0, sizeof(e));
  parse_scan_ies(bytes.data(), bytes.size(), &e);
  FUZZ_CHECK(strnlen(e.ssid, sizeof(e.ssid)) < sizeof(e.ssid));

  scan_crypto c;
  memset(&c, 0, sizeof(c));
  c.pair_ciphers = default_cipher & 0x11;
  scan_crypto before = c;
  iwinfo_parse_rsn(&c, bytes.data(), bytes.size(), default_cipher, default_suite);
  FUZZ_CHECK((c.pair_ciphers & before.pair_ciphers) == before.pair_ciphers);
  FUZZ_CHECK(c.wpa_version <= 3);
  return 0;
}
