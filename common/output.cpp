#include "common/output.h"

#include <errno.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/host.h"

namespace {

enum class Sink { kOut, kErr, kLog };

// Formats on the stack, or on the heap for the rare long text (a whole
// dashboard reply, a client list).
__attribute__((format(printf, 3, 0))) void emit(Sink sink, int priority, const char* fmt, va_list ap) {
  char small[1024];
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(small, sizeof(small), fmt, copy);
  va_end(copy);
  char* text = small;
  if (n >= static_cast<int>(sizeof(small))) {
    char* big = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (big) {
      vsnprintf(big, static_cast<size_t>(n) + 1, fmt, ap);
      text = big;
    }
  } else if (n < 0) {
    small[0] = '\0';
  }
  switch (sink) {
    case Sink::kOut:
      host().out(text);
      break;
    case Sink::kErr:
      host().err(text);
      break;
    case Sink::kLog:
      host().log(priority, text);
      break;
  }
  if (text != small) free(text);
}

}  // namespace

void out_line(const char* text) {
  host().out(text);
  host().out("\n");
}

void out_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(Sink::kOut, 0, fmt, ap);
  va_end(ap);
}

void err_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(Sink::kErr, 0, fmt, ap);
  va_end(ap);
}

void err_perror(const char* prefix) {
  const char* reason = strerror(errno);
  if (prefix && *prefix) {
    err_printf("%s: %s\n", prefix, reason);
  } else {
    err_printf("%s\n", reason);
  }
}

void log_printf(int priority, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(Sink::kLog, priority, fmt, ap);
  va_end(ap);
}
