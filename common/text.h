// Fixed-capacity texts: every copy and formatted write is bounded by the
// capacity N (terminator included) and cuts what does not fit.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

// Copies src into dst (capacity cap, cap > 0), cutting it; returns dst.
char* copy_text(char* dst, size_t cap, const char* src);
// Appends src to the terminated text in dst, cutting it at cap.
char* append_text(char* dst, size_t cap, const char* src);
// vsnprintf into dst that never overflows; returns the length written.
size_t format_text(char* dst, size_t cap, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));
// Appends a formatted piece to the terminated text in dst.
size_t append_format(char* dst, size_t cap, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

template <size_t N>
class FixedText {
  static_assert(N > 0, "a text needs room for its terminator");

 public:
  FixedText() { clear(); }
  explicit FixedText(const char* s) { set(s); }

  // Zeroes the whole buffer, as the node's code does before each read.
  void clear() { memset(buf_, 0, N); }
  FixedText& set(const char* s) {
    copy_text(buf_, N, s ? s : "");
    return *this;
  }
  FixedText& append(const char* s) {
    append_text(buf_, N, s ? s : "");
    return *this;
  }
  FixedText& format(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, fmt);
    format_text(buf_, N, fmt, ap);
    va_end(ap);
    return *this;
  }
  FixedText& appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    size_t used = strlen(buf_);
    va_list ap;
    va_start(ap, fmt);
    format_text(buf_ + used, N - used, fmt, ap);
    va_end(ap);
    return *this;
  }

  const char* c_str() const { return buf_; }
  char* data() { return buf_; }
  operator const char*() const { return buf_; }
  static constexpr size_t capacity() { return N; }
  size_t size() const { return strlen(buf_); }
  bool empty() const { return buf_[0] == '\0'; }
  bool operator==(const char* s) const { return s && strcmp(buf_, s) == 0; }
  bool operator!=(const char* s) const { return !(*this == s); }

 private:
  char buf_[N];
};
