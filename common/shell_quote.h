// Values from the dashboard or a client on a command line: a value made only
// of safe characters goes in as it is, so the command text stays the one the
// node has always run; any other value is single-quoted, so the shell takes
// it as one literal word and runs nothing from it.
#pragma once

#include <cstddef>

#include "common/text.h"

// True when every character of `value` is a letter, a digit or one of -_.,:/@%+=
bool is_shell_safe(const char* value);

// Writes the value's shell form into out (capacity cap). A value too long for
// out is cut, never its quoting. Returns out.
const char* shell_value(const char* value, char* out, size_t cap);

// The shell form of a value, ready to be formatted into a command.
class ShellValue {
 public:
  explicit ShellValue(const char* value) { shell_value(value, text_.data(), text_.capacity()); }
  const char* c_str() const { return text_.c_str(); }
  operator const char*() const { return text_.c_str(); }

 private:
  // Any quoted field of the node (at most 255 characters) fits.
  FixedText<1100> text_;
};
