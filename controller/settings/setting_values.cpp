#include "controller/settings/setting_values.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/host.h"
#include "common/output.h"
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

namespace {

constexpr size_t kMd5Digits = 32;

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool is_md5(const char* text) {
  if (!text || strlen(text) != kMd5Digits) return false;
  for (size_t i = 0; i < kMd5Digits; ++i) {
    if (!is_hex(text[i])) return false;
  }
  return true;
}

bool md5_equal(const char* a, const char* b) {
  if (!is_md5(a) || !is_md5(b)) return false;
  for (size_t i = 0; i < kMd5Digits; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool value_fits(const char* what, const char* value, size_t cap) {
  if (!value || strlen(value) < cap) return true;
  out_printf("%s refused: longer than %u characters\n", what, static_cast<unsigned>(cap - 1));
  return false;
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

bool refuse_option_like(const char* what, const char* value) {
  if (!value || value[0] != '-') return false;
  out_printf("%s refused: \"%s\" starts with '-'\n", what, value);
  return true;
}

int write_setting_file(const char* path, const char* message, const char* text) {
  if (host_write_file(path, text) != 0) return -1;
  out_line(message);
  return 0;
}
