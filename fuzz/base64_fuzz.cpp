// Base64 of the dashboard's replies: decoding any text into areas of any
// size stays inside the area and terminated, and encoding then decoding a
// text gives the text back.
#include <cstring>
#include <string>

#include "common/base64.h"
#include "fuzz/fuzz_support.h"

namespace {

bool terminated_within(const char* out, size_t cap) { return strnlen(out, cap) < cap; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  size_t cap = in.byte() % 64 + 1;  // from one byte (the terminator only) up
  std::string text = in.rest();
  const char* t = text.c_str();  // up to its first zero byte, as a received text

  // Decoding into a small area and into the check-in's 4096 bytes.
  std::string small(cap, '\x7f');
  b64_decode(t, small.data(), cap);
  FUZZ_CHECK(terminated_within(small.data(), cap));
  FixedText<4096> decoded;
  bool whole = b64_decode(t, decoded);
  FUZZ_CHECK(terminated_within(decoded.c_str(), decoded.capacity()));
  // What fits the small area is the start of the whole decoding.
  if (whole) FUZZ_CHECK(strncmp(decoded.c_str(), small.data(), strlen(small.data())) == 0);

  // The round trip of a text (no zero bytes: the codec carries text only).
  size_t len = strlen(t);
  std::string encoded(len / 3 * 4 + 5, '\0');
  FUZZ_CHECK(b64_encode(t, encoded.data(), encoded.size()));
  FUZZ_CHECK(strlen(encoded.c_str()) == (len + 2) / 3 * 4);
  std::string back(len + 1, '\0');
  FUZZ_CHECK(b64_decode(encoded.c_str(), back.data(), back.size()));
  FUZZ_CHECK(strcmp(back.c_str(), t) == 0);

  // The block helpers append to what an area already holds.
  char area[16];
  memset(area, 0, sizeof(area));
  size_t used = cap % sizeof(area);
  memset(area, 'x', used < sizeof(area) ? used : sizeof(area) - 1);
  area[sizeof(area) - 1] = '\0';
  unsigned char group[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < len; ++i) group[i] = static_cast<unsigned char>(t[i]);
  encodeblock(group, area, sizeof(area), static_cast<int>(cap % 5));
  FUZZ_CHECK(terminated_within(area, sizeof(area)));
  for (unsigned char& v : group) v &= 0x3f;
  decodeblock(group, area, sizeof(area));
  FUZZ_CHECK(terminated_within(area, sizeof(area)));
  return 0;
}
