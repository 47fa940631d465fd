#include "common/text.h"

char* copy_text(char* dst, size_t cap, const char* src) {
  if (cap == 0) return dst;
  size_t n = src ? strnlen(src, cap - 1) : 0;
  if (n) memcpy(dst, src, n);
  dst[n] = '\0';
  return dst;
}

char* append_text(char* dst, size_t cap, const char* src) {
  size_t used = strnlen(dst, cap);
  if (used >= cap) return dst;
  copy_text(dst + used, cap - used, src);
  return dst;
}

size_t format_text(char* dst, size_t cap, const char* fmt, va_list ap) {
  if (cap == 0) return 0;
  int n = vsnprintf(dst, cap, fmt, ap);
  if (n < 0) {
    dst[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap - 1;
}

size_t append_format(char* dst, size_t cap, const char* fmt, ...) {
  size_t used = strnlen(dst, cap);
  if (used >= cap) return 0;
  va_list ap;
  va_start(ap, fmt);
  size_t n = format_text(dst + used, cap - used, fmt, ap);
  va_end(ap);
  return n;
}
