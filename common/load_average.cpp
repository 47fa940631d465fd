#include "common/load_average.h"

#include <cstring>

namespace {

// An unsigned integer of up to 1024 bits, enough for every step below: a
// number's 61 kept digits scaled by the float range's powers of 10 and 2.
class Wide {
 public:
  static constexpr int kLimbs = 32;

  explicit Wide(uint32_t v = 0) { limb_[0] = v; }

  bool is_zero() const {
    for (uint32_t l : limb_)
      if (l) return false;
    return true;
  }
  int bits() const {
    for (int i = kLimbs - 1; i >= 0; --i)
      if (limb_[i]) return i * 32 + 32 - __builtin_clz(limb_[i]);
    return 0;
  }
  uint32_t low() const { return limb_[0]; }

  // this = this * m + add
  void mul_add(uint32_t m, uint32_t add) {
    uint64_t carry = add;
    for (uint32_t& l : limb_) {
      uint64_t v = static_cast<uint64_t>(l) * m + carry;
      l = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
  }
  // this = this / d; returns the remainder.
  uint32_t div_small(uint32_t d) {
    uint64_t rest = 0;
    for (int i = kLimbs - 1; i >= 0; --i) {
      uint64_t v = rest << 32 | limb_[i];
      limb_[i] = static_cast<uint32_t>(v / d);
      rest = v % d;
    }
    return static_cast<uint32_t>(rest);
  }
  void shift_left(int n) {
    if (n <= 0) return;
    int whole = n / 32, part = n % 32;
    for (int i = kLimbs - 1; i >= 0; --i) {
      uint32_t hi = i - whole >= 0 ? limb_[i - whole] : 0;
      uint32_t lo = i - whole - 1 >= 0 ? limb_[i - whole - 1] : 0;
      limb_[i] = part ? (hi << part | lo >> (32 - part)) : hi;
    }
  }
  void shift_right(int n) {
    if (n <= 0) return;
    int whole = n / 32, part = n % 32;
    for (int i = 0; i < kLimbs; ++i) {
      uint32_t lo = i + whole < kLimbs ? limb_[i + whole] : 0;
      uint32_t hi = i + whole + 1 < kLimbs ? limb_[i + whole + 1] : 0;
      limb_[i] = part ? (lo >> part | hi << (32 - part)) : lo;
    }
  }
  int compare(const Wide& o) const {
    for (int i = kLimbs - 1; i >= 0; --i)
      if (limb_[i] != o.limb_[i]) return limb_[i] < o.limb_[i] ? -1 : 1;
    return 0;
  }
  void subtract(const Wide& o) {
    uint64_t borrow = 0;
    for (int i = 0; i < kLimbs; ++i) {
      uint64_t v = static_cast<uint64_t>(limb_[i]) - o.limb_[i] - borrow;
      limb_[i] = static_cast<uint32_t>(v);
      borrow = v >> 63;
    }
  }
  void multiply_by_power(uint32_t base, int times) {
    for (int i = 0; i < times; ++i) mul_add(base, 0);
  }

 private:
  uint32_t limb_[kLimbs] = {0};
};

// The number as read: digits (in base 10 or 16, the first kMaxDigits kept)
// times base^exponent, or 2^exponent for hexadecimal.
struct Scanned {
  Wide digits;
  int kept = 0;
  bool dropped_nonzero = false;
  long exponent = 0;
  bool hex = false;
};

// Digits beyond these do not change the float a number rounds to: no float
// or halfway point of two floats in the range that prints differently
// needs more significant decimal digits than this.
constexpr int kMaxDecimalDigits = 60;
constexpr int kMaxHexDigits = 16;
constexpr long kExponentCap = 100000;

bool is_space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
int lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
int digit_value(int c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && lower(c) >= 'a' && lower(c) <= 'f') return lower(c) - 'a' + 10;
  return -1;
}

// Reads the rest of a word case-insensitively; false at the first mismatch.
bool expect_word(FILE* f, const char* rest) {
  for (; *rest; ++rest)
    if (lower(getc(f)) != *rest) return false;
  return true;
}

void take_digit(Scanned& s, int value, bool after_point) {
  int cap = s.hex ? kMaxHexDigits : kMaxDecimalDigits;
  if (s.kept == 0 && value == 0) {
    if (after_point) s.exponent -= 1;
    return;
  }
  if (s.kept < cap) {
    s.digits.mul_add(s.hex ? 16 : 10, static_cast<uint32_t>(value));
    ++s.kept;
    if (after_point) s.exponent -= 1;
  } else {
    if (value) s.dropped_nonzero = true;
    if (!after_point) s.exponent += 1;
  }
}

// Digits with at most one point, then the exponent's letter, sign and
// digits; c is the first character. Like the C library, a letter without
// digits after it counts as no exponent. False when there was no number.
bool scan_digits(FILE* f, int c, Scanned& s) {
  bool any = false, point = false;
  for (;; c = getc(f)) {
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    int v = digit_value(c, s.hex);
    if (v < 0) break;
    any = true;
    take_digit(s, v, point);
  }
  // The C library reads "0x." as a zero, but not "0x" or ".".
  if (!any) return s.hex && point;
  if (s.hex) s.exponent *= 4;  // hexadecimal digits are 4 bits each
  if (lower(c) != (s.hex ? 'p' : 'e')) return true;
  c = getc(f);
  bool minus = c == '-';
  if (c == '-' || c == '+') c = getc(f);
  long e = 0;
  for (; c >= '0' && c <= '9'; c = getc(f))
    if (e < kExponentCap) e = e * 10 + (c - '0');
  s.exponent += minus ? -e : e;
  return true;
}

// The nearest float to a / b (b > 0) as mantissa * 2^-scale; false when it
// is too large for a float.
bool nearest_float(const Wide& a, const Wide& b, uint32_t& mantissa, int& scale) {
  if (a.is_zero()) {
    mantissa = 0;
    scale = 0;
    return true;
  }
  // a / b lies in [2^(d-1), 2^(d+1)): find the scale that brings it to 24 bits.
  int d = a.bits() - b.bits();
  scale = 23 - d;
  for (;;) {
    if (23 - scale < -126) scale = 149;  // below the normal floats
    Wide x = a, y = b;
    if (scale >= 0) x.shift_left(scale); else y.shift_left(-scale);
    uint32_t q = 0;
    for (int i = 25; i >= 0; --i) {
      Wide t = y;
      t.shift_left(i);
      if (x.compare(t) >= 0) {
        x.subtract(t);
        q |= 1u << i;
      }
    }
    if (q >= 1u << 24) {
      --scale;
      continue;
    }
    if (q < 1u << 23 && scale < 149) {
      ++scale;
      continue;
    }
    // Round half to even on the remainder.
    x.shift_left(1);
    int half = x.compare(y);
    if (half > 0 || (half == 0 && (q & 1))) ++q;
    if (q == 1u << 24) {
      q >>= 1;
      --scale;
    }
    mantissa = q;
    if (23 - scale > 127) return false;
    return true;
  }
}

void to_float(const Scanned& s, LoadAverage& out) {
  Wide a = s.digits, b(1);
  long exponent = s.exponent;
  if (s.dropped_nonzero) {
    // Strictly between the kept digits and the next: one more digit says so.
    a.mul_add(s.hex ? 16 : 10, 1);
    exponent -= s.hex ? 4 : 1;
  }
  out.kind = LoadAverage::kNumber;
  out.mantissa = 0;
  out.scale = 0;
  if (a.is_zero()) return;
  // Far outside the float range the answer is known without the arithmetic.
  long magnitude = s.hex ? a.bits() + exponent : (a.bits() * 3 / 10) + exponent;  // ~log2 or ~log10
  long high = s.hex ? 130 : 40, low = s.hex ? -152 : -47;
  if (magnitude > high) {
    out.kind = LoadAverage::kInfinity;
    return;
  }
  if (magnitude < low) return;
  int e = static_cast<int>(exponent);
  if (s.hex) {
    if (e >= 0) a.shift_left(e); else b.shift_left(-e);
  } else {
    if (e >= 0) a.multiply_by_power(10, e); else b.multiply_by_power(10, -e);
  }
  if (!nearest_float(a, b, out.mantissa, out.scale)) out.kind = LoadAverage::kInfinity;
}

// The number after an optional sign; c is its first character.
bool scan_unsigned(FILE* f, int c, LoadAverage& out) {
  switch (lower(c)) {
    case 'i': {
      if (!expect_word(f, "nf")) return false;
      int next = getc(f);
      if (lower(next) == 'i' && !expect_word(f, "nity")) return false;
      out.kind = LoadAverage::kInfinity;
      return true;
    }
    case 'n':
      if (!expect_word(f, "an")) return false;
      out.kind = LoadAverage::kNotANumber;
      return true;
    default:
      break;
  }
  Scanned s;
  if (c == '0') {
    int next = getc(f);
    if (lower(next) == 'x') {
      s.hex = true;
      c = getc(f);
    } else {
      ungetc(next, f);
    }
  }
  if (!scan_digits(f, c, s)) return false;
  to_float(s, out);
  return true;
}

}  // namespace

bool scan_load(FILE* f, LoadAverage& out) {
  int c = getc(f);
  while (is_space(c)) c = getc(f);
  bool negative = c == '-';
  if (c == '-' || c == '+') c = getc(f);
  LoadAverage read;
  if (!scan_unsigned(f, c, read)) return false;
  read.negative = negative;
  out = read;
  return true;
}

void format_load(const LoadAverage& load, int decimals, char* out, size_t cap) {
  if (cap == 0) return;
  const char* sign = load.negative ? "-" : "";
  if (load.kind != LoadAverage::kNumber) {
    snprintf(out, cap, "%s%s", sign, load.kind == LoadAverage::kInfinity ? "inf" : "nan");
    return;
  }
  // mantissa * 10^decimals * 2^-scale, rounded half to even.
  Wide x(load.mantissa);
  x.multiply_by_power(10, decimals);
  if (load.scale > 0) {
    Wide whole = x;
    whole.shift_right(load.scale);
    Wide rest = whole;
    rest.shift_left(load.scale);
    Wide remainder = x;
    remainder.subtract(rest);
    remainder.shift_left(1);
    Wide unit(1);
    unit.shift_left(load.scale);
    int half = remainder.compare(unit);
    if (half > 0 || (half == 0 && (whole.low() & 1))) whole.mul_add(1, 1);
    x = whole;
  } else {
    x.shift_left(-load.scale);
  }
  char digits[64];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + x.div_small(10));
  } while ((!x.is_zero() || n <= decimals) && n < static_cast<int>(sizeof(digits)));
  char text[72];
  size_t at = 0;
  for (const char* p = sign; *p; ++p) text[at++] = *p;
  for (int i = n - 1; i >= 0; --i) {
    text[at++] = digits[i];
    if (i == decimals && decimals > 0) text[at++] = '.';
  }
  text[at] = '\0';
  snprintf(out, cap, "%s", text);
}
