// Base64 of the dashboard exchanges: the standard alphabet with "=" padding
// and no line breaks. The decoder is lenient the way the dashboard's replies
// need it (it skips line ends) and carries text only: a zero byte ends what
// its group contributes.
#pragma once

#include <cstddef>

#include "common/text.h"

// The alphabet; a character's value is its position.
extern const char b64[65];

// Appends the 4 characters encoding `len` (1 to 3) bytes of `in` to the
// terminated text in out. Returns false, changing nothing, when they do not
// fit its capacity.
bool encodeblock(const unsigned char* in, char* out, size_t cap, int len);
// Appends the up to three bytes that four 6-bit values stand for to the
// terminated text in out, stopping at the first zero byte; false when out
// is full.
bool decodeblock(const unsigned char* in, char* out, size_t cap);

// Encodes a terminated text into out. False when the encoding had to be cut
// (whole groups only).
bool b64_encode(const char* text, char* out, size_t cap);
// Decodes into the terminated text out: stops at the first "=", skips
// characters outside the alphabet and drops an unpadded final group. False
// when out was too small for everything decoded.
bool b64_decode(const char* text, char* out, size_t cap);

// True when the text ends its encoding properly: at a "=" or after a whole
// group. An encoding cut short (a reply that ended early) is not complete.
bool b64_complete(const char* text);

template <size_t N>
bool b64_encode(const char* text, FixedText<N>& out) {
  return b64_encode(text, out.data(), N);
}
template <size_t N>
bool b64_decode(const char* text, FixedText<N>& out) {
  return b64_decode(text, out.data(), N);
}
