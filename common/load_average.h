// The load average without floating point: most routers have no FPU, and
// every float operation would pull in the soft-float helpers. The number is
// read as the C library's "%f" reads it into a float (rounded to the
// nearest float, "inf" and "nan" too) and printed as "%f" and "%.2f" print
// that float, byte for byte.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

struct LoadAverage {
  enum Kind : uint8_t { kNumber, kInfinity, kNotANumber };
  Kind kind = kNumber;
  bool negative = false;
  // The float's value: mantissa * 2^-scale (mantissa below 2^24).
  uint32_t mantissa = 0;
  int scale = 0;
};

// Reads one number from f as fscanf(f, "%f", ...) does: false when the
// text holds none (out untouched then).
bool scan_load(FILE* f, LoadAverage& out);
// Writes the number with `decimals` digits after the point (0 to 9), as
// printf's "%.<decimals>f" does, into out (capacity cap); the whole text
// of any float fits in 64 bytes.
void format_load(const LoadAverage& load, int decimals, char* out, size_t cap);
