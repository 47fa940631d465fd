// clientscout's reading of /tmp/.clients, whatever the file holds: a list
// that fits is read whole; a longer one is cut after its last whole record
// line that fits, and when not even one fits nothing is sent; the area is
// zeroed beyond the text. The room the report leaves for the list always
// gives a request that fits its area uncut.
#include <cstring>
#include <string>

#include "common/framing.h"
#include "fuzz/fuzz_support.h"
#include "reporters/client_list.h"

namespace {

// A smaller area than the daemon's, so that the fuzzer reaches its end.
constexpr size_t kArea = 4097;

bool zero_from(const char* area, size_t from) {
  for (size_t i = from; i < kArea; ++i) {
    if (area[i] != '\0') return false;
  }
  return true;
}

// The largest list the report leaves room for, encoded, with an identity
// of encoded_id_len characters, frames a request that is not cut.
void check_room(size_t encoded_id_len) {
  ReportConfig config;
  make_report_config(config);
  size_t room = client_list_room(config, encoded_id_len);
  FUZZ_CHECK(room < kListArea);
  size_t encoded = (room + 2) / 3 * 4;
  FUZZ_CHECK(encoded < kEncodedListArea);
  std::string body = "id=" + std::string(encoded_id_len, 'M') + "&data=" + std::string(encoded, 'L');
  static char request[kClientRequestArea];
  FUZZ_CHECK(frame_form_post(config.path, config.host, body.c_str(), request, sizeof(request)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  uint8_t flags = in.byte();
  size_t room = (static_cast<size_t>(in.byte()) << 8 | in.byte()) % (kArea + 512);
  std::string file = in.rest();
  bool absent = flags & 1;
  if (absent) {
    h.remove(kClientsFile);
  } else {
    h.write(kClientsFile, file);
  }
  check_room(flags % kEncodedIdArea);

  static char area[kArea];
  memset(area, 0x7f, sizeof(area));
  ListRead read = read_client_list(area, sizeof(area), room);
  size_t fits = room < kArea - 1 ? room : kArea - 1;
  if (absent) {
    FUZZ_CHECK(read == ListRead::kWhole && zero_from(area, 0));
  } else if (file.size() <= fits) {
    FUZZ_CHECK(read == ListRead::kWhole);
    FUZZ_CHECK(memcmp(area, file.data(), file.size()) == 0 && zero_from(area, file.size()));
  } else {
    size_t keep = file.rfind('\n', fits == 0 ? std::string::npos : fits - 1);
    keep = (fits == 0 || keep == std::string::npos) ? 0 : keep + 1;
    FUZZ_CHECK(read == (keep > 0 ? ListRead::kCut : ListRead::kNothingFits));
    FUZZ_CHECK(memcmp(area, file.data(), keep) == 0 && zero_from(area, keep));
  }
  return 0;
}
