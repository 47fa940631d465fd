#include "common/shell_quote.h"

#include <cstring>

bool is_shell_safe(const char* value) {
  if (!value) return true;
  for (const char* p = value; *p; ++p) {
    char c = *p;
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && !strchr("-_.,:/@%+=", c)) return false;
  }
  return true;
}

const char* shell_value(const char* value, char* out, size_t cap) {
  if (cap == 0) return out;
  if (is_shell_safe(value)) return copy_text(out, cap, value ? value : "");
  // A quote inside the value becomes '\'' (close, escaped quote, reopen).
  size_t used = 0;
  if (cap < 3) {
    out[0] = '\0';
    return out;
  }
  out[used++] = '\'';
  for (const char* p = value; *p; ++p) {
    const char* piece = *p == '\'' ? "'\\''" : nullptr;
    size_t len = piece ? 4 : 1;
    if (used + len + 2 > cap) break;  // room for the closing quote and NUL
    if (piece) {
      memcpy(out + used, piece, len);
    } else {
      out[used] = *p;
    }
    used += len;
  }
  out[used++] = '\'';
  out[used] = '\0';
  return out;
}
