#include "controller/setting_values.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/shell_quote.h"

int decimal_value(const char* text) {
  if (!text) return 0;
  long long v = strtoll(text, nullptr, 10);  // LLONG_MIN/MAX on overflow
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

bool text_differs(const char* stored, size_t cap, const char* value) {
  if (cap == 0) return false;
  if (!value) value = "";
  size_t n = strnlen(value, cap - 1);
  return strlen(stored) != n || memcmp(stored, value, n) != 0;
}

const char* setting_command(CommandText& cmd, const char* head, const char* value, const char* tail) {
  cmd.set(head);
  size_t used = cmd.size();
  size_t tail_len = tail ? strlen(tail) : 0;
  size_t cap = CommandText::capacity();
  if (used + tail_len + 1 < cap) {
    shell_value(value ? value : "", cmd.data() + used, cap - used - tail_len);
  }
  cmd.append(tail);
  return cmd.c_str();
}
