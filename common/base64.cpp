#include "common/base64.h"

#include <cstring>

const char b64[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

// Writes the 4 characters of one group at out[0..3].
void encode_group(const unsigned char* in, int len, char* out) {
  unsigned char b0 = in[0];
  unsigned char b1 = len > 1 ? in[1] : 0;
  unsigned char b2 = len > 2 ? in[2] : 0;
  out[0] = b64[b0 >> 2];
  out[1] = b64[((b0 & 0x03) << 4) | (b1 >> 4)];
  out[2] = len > 1 ? b64[((b1 & 0x0f) << 2) | (b2 >> 6)] : '=';
  out[3] = len > 2 ? b64[b2 & 0x3f] : '=';
}

// Appends one decoded group at *used, keeping out terminated; false when
// out is full before the group's text ends.
bool decode_group(const unsigned char* in, char* out, size_t cap, size_t* used) {
  unsigned char bytes[3] = {
      static_cast<unsigned char>((in[0] << 2) | (in[1] >> 4)),
      static_cast<unsigned char>(((in[1] & 0x0f) << 4) | (in[2] >> 2)),
      static_cast<unsigned char>(((in[2] & 0x03) << 6) | in[3]),
  };
  for (unsigned char b : bytes) {
    if (b == 0) break;
    if (*used + 1 >= cap) return false;
    out[(*used)++] = static_cast<char>(b);
    out[*used] = '\0';
  }
  return true;
}

int alphabet_value(char c) {
  if (c == '\0') return -1;
  const char* p = strchr(b64, c);
  return p ? static_cast<int>(p - b64) : -1;
}

}  // namespace

bool encodeblock(const unsigned char* in, char* out, size_t cap, int len) {
  if (cap == 0 || len < 1 || len > 3) return false;
  size_t used = strnlen(out, cap);
  if (used + 4 >= cap) return false;
  encode_group(in, len, out + used);
  out[used + 4] = '\0';
  return true;
}

bool decodeblock(const unsigned char* in, char* out, size_t cap) {
  if (cap == 0) return false;
  size_t used = strnlen(out, cap);
  if (used >= cap) return false;
  return decode_group(in, out, cap, &used);
}

bool b64_encode(const char* text, char* out, size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text ? text : "");
  size_t left = strlen(reinterpret_cast<const char*>(in));
  size_t used = 0;
  // The position is kept here rather than found again for every group: a
  // client list is thousands of groups long.
  while (left > 0) {
    int len = left >= 3 ? 3 : static_cast<int>(left);
    if (used + 4 >= cap) return false;
    encode_group(in, len, out + used);
    used += 4;
    out[used] = '\0';
    in += len;
    left -= static_cast<size_t>(len);
  }
  return true;
}

bool b64_decode(const char* text, char* out, size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  size_t used = 0;
  unsigned char group[4] = {0, 0, 0, 0};
  int count = 0;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '=') {
      // Padding ends the text: what was collected counts, the rest as zero.
      for (int i = count; i < 4; ++i) group[i] = 0;
      return decode_group(group, out, cap, &used);
    }
    int v = alphabet_value(*p);
    if (v < 0) continue;
    group[count++] = static_cast<unsigned char>(v);
    if (count == 4) {
      if (!decode_group(group, out, cap, &used)) return false;
      count = 0;
    }
  }
  return true;
}

bool b64_complete(const char* text) {
  size_t values = 0;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '=') return true;
    if (alphabet_value(*p) >= 0) ++values;
  }
  return values % 4 == 0;
}
