// The scan dump's entry handler on raw netlink bytes: records land only in
// the caller's buffer, at most as many as fit, each with a terminated
// network name and a quality within its range.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/nl_bytes.h"
#include "lonely/scan_dump.h"
#include "lonely/scan_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_host();
  FuzzInput in(data, size);
  size_t slots = in.byte() % 3;  // a buffer of none, one or two records
  std::string bytes = in.rest();
  nl_msg* msg = raw_message(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (!msg) return 0;
  // Exactly the room for the records, so that a write past it is caught.
  std::vector<char> buf(slots * sizeof(scan_entry) + 1);
  ScanCursor cursor(buf.data(), slots * sizeof(scan_entry));
  for (int i = 0; i < 3; ++i) scan_dump_entry(msg, &cursor);
  FUZZ_CHECK(cursor.count() <= slots);
  for (size_t i = 0; i < cursor.count(); ++i) {
    scan_entry e;
    memcpy(&e, buf.data() + i * sizeof(scan_entry), sizeof(e));
    FUZZ_CHECK(strnlen(e.ssid, sizeof(e.ssid)) < sizeof(e.ssid));
    FUZZ_CHECK(e.quality <= kQualityMax && e.quality_max == kQualityMax);
    FUZZ_CHECK(e.mode == kModeMaster || e.mode == kModeAdHoc);
  }
  nlmsg_free(msg);
  return 0;
}
